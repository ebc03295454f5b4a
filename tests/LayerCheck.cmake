# Fails when a source file includes a header from a folder its layer may not
# use. The compiler cannot refuse such an include: every target sees the
# whole tree, so an upward include builds and links as long as the symbols
# happen to be there.
#
#   cmake -DSOURCE_DIR=<top of the tree> -P tests/LayerCheck.cmake
#
# An include is resolved as the compiler resolves it: first beside the file,
# then from the top of the tree (and, for tests, from tests/). A header that
# uic makes of a form (ui_X.h) belongs to the folder of X.ui, one that moc
# makes (X.moc, moc_X.cpp) to the folder that includes it. An include found
# nowhere fails too, since its layer cannot be told. Includes in <> count
# when they name a file of the tree.

cmake_minimum_required(VERSION 3.20)

if(NOT SOURCE_DIR)
    message(FATAL_ERROR "LayerCheck.cmake: pass -DSOURCE_DIR=<top of the source tree>")
endif()
cmake_path(SET root NORMALIZE "${SOURCE_DIR}/")

# What each folder may include besides itself; app/ sits on top of them all.
# Only the session core sees the store: everything above it speaks to the
# core alone.
set(may_store)
set(may_session store)
set(may_audit session)
set(may_cli session audit)
set(may_ui session)
set(may_signin ui session)
set(may_admin ui session)
set(may_accounts ui session)
set(may_app session audit cli ui signin admin accounts)
set(layers store session audit cli ui signin admin accounts app)

# The tests that run without Qt follow their layer, and may use the test
# harness of any layer theirs may use, the store's among them. The GUI tests
# drive the windows as the program joins them (through tests/support and
# app/), so they are not held to a layer; yet the windows' tests, like the
# windows, see no store/ header. The tests of app/ still make faults with
# the store itself.
set(checked_tests store session audit cli)
foreach(layer IN LISTS checked_tests)
    set(may_tests/${layer} ${layer} ${may_${layer}} tests/store)
    foreach(below IN LISTS may_${layer})
        list(APPEND may_tests/${layer} tests/${below})
    endforeach()
endforeach()
set(open_tests ui signin admin accounts app support)
set(barred_tests/ui store)
set(barred_tests/signin store)
set(barred_tests/admin store)
set(barred_tests/accounts store)
set(barred_tests/support store)
# The benchmarks time the core.
set(may_tools/bench session)

# Tables are made and read around the program, above the core, through one
# file of tests/support that speaks the session's values; it alone of those
# sees the store, and the core's private headers.
set(table_slots tests/support/TableSlots.h)
set(table_slots_source tests/support/TableSlots.cpp)
foreach(folder IN ITEMS tests/cli tools/bench)
    list(APPEND may_files_${folder} ${table_slots})
endforeach()

# The core's private headers (session/internal/): the core's own sources and
# its tests alone include them.
set(private_dir session/internal)
set(may_private session tests/session)

# The folder a path of the tree belongs to: its first component, or its
# first two under tests/ and tools/. Empty for a path outside the tree.
function(folder_of path out)
    cmake_path(IS_PREFIX root "${path}" NORMALIZE inside)
    if(NOT inside)
        set(${out} "" PARENT_SCOPE)
        return()
    endif()
    file(RELATIVE_PATH relative "${root}" "${path}")
    string(REGEX MATCH "^((tests|tools)/[^/]+|[^/]+)/" folder "${relative}")
    string(REGEX REPLACE "/$" "" folder "${folder}")
    set(${out} "${folder}" PARENT_SCOPE)
endfunction()

# The folder of the form that uic turns into ui_<form>.h: any target that
# has the form can include it, so the header is the form's folder's, beside
# the including file or not.
function(form_folder form here out)
    set(forms "${here}/${form}.ui")
    foreach(layer IN LISTS layers)
        file(GLOB_RECURSE found "${root}${layer}/${form}.ui")
        list(APPEND forms ${found})
    endforeach()
    foreach(candidate IN LISTS forms)
        if(EXISTS "${candidate}")
            folder_of("${candidate}" folder)
            set(${out} "${folder}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    set(${out} "" PARENT_SCOPE)
endfunction()

set(folders ${layers} tools/bench)
foreach(layer IN LISTS checked_tests open_tests)
    list(APPEND folders tests/${layer})
endforeach()
set(open_folders)
foreach(layer IN LISTS open_tests)
    list(APPEND open_folders tests/${layer})
endforeach()

set(faults)
foreach(folder IN LISTS folders)
    file(GLOB_RECURSE sources LIST_DIRECTORIES false
         "${root}${folder}/*.h" "${root}${folder}/*.cpp")
    # A folder that was renamed or emptied would otherwise pass unchecked.
    if(NOT sources)
        list(APPEND faults "${folder}/: no .h or .cpp files to check (was it moved?)")
    endif()
    set(allowed ${folder} ${may_${folder}})
    list(REMOVE_DUPLICATES allowed)
    list(SORT sources)
    foreach(source IN LISTS sources)
        file(RELATIVE_PATH shown "${root}" "${source}")
        get_filename_component(here "${source}" DIRECTORY)
        set(search "${here}" "${root}")
        if(folder MATCHES "^tests/" OR folder STREQUAL "tools/bench")
            list(APPEND search "${root}tests")
        endif()

        file(READ "${source}" text)
        if(NOT text MATCHES "#[ \t]*include")
            continue()
        endif()
        # One list element a line, empty lines kept, so the element's index
        # is the line number. Backslashes, semicolons and brackets would
        # merge elements, and no include names one.
        string(REPLACE "\r" "" text "${text}")
        string(REPLACE "\\" "/" text "${text}")
        string(REPLACE ";" "," text "${text}")
        string(REPLACE "[" "(" text "${text}")
        string(REPLACE "]" ")" text "${text}")
        string(REPLACE "\n" ";" lines "${text}")

        set(number 0)
        foreach(line IN LISTS lines)
            math(EXPR number "${number} + 1")
            if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*([<\"])([^\">]+)[\">]")
                continue()
            endif()
            set(quoted "${CMAKE_MATCH_1}")
            set(name "${CMAKE_MATCH_2}")
            if(quoted STREQUAL "\"")
                set(where "${search}")
                set(shown_include "\"${name}\"")
            else()
                set(where "${root}")
                set(shown_include "<${name}>")
            endif()

            set(found "")
            foreach(dir IN LISTS where)
                cmake_path(APPEND dir "${name}" OUTPUT_VARIABLE candidate)
                cmake_path(NORMAL_PATH candidate)
                if(EXISTS "${candidate}" AND NOT IS_DIRECTORY "${candidate}")
                    set(found "${candidate}")
                    break()
                endif()
            endforeach()

            if(found)
                folder_of("${found}" target)
            elseif(NOT quoted STREQUAL "\"")
                continue() # a system or toolkit header
            elseif(name MATCHES "^ui_([^/]+)[.]h$")
                set(form "${CMAKE_MATCH_1}")
                form_folder("${form}" "${here}" target)
                if(target STREQUAL "")
                    string(CONCAT fault "${shown}:${number}: #include ${shown_include}: no form "
                                        "${form}.ui beside it or in the tree")
                    list(APPEND faults "${fault}")
                    continue()
                endif()
            elseif(name MATCHES "^([^/]+[.]moc|moc_[^/]+[.]cpp)$")
                set(target "${folder}")
            else()
                string(CONCAT fault "${shown}:${number}: #include ${shown_include}: no such "
                                    "file beside it or in the tree, so its layer cannot be told")
                list(APPEND faults "${fault}")
                continue()
            endif()

            set(found_file "")
            if(found)
                file(RELATIVE_PATH found_file "${root}" "${found}")
            endif()
            if(found_file MATCHES "^${private_dir}/" AND NOT folder IN_LIST may_private
               AND NOT shown STREQUAL table_slots_source)
                string(CONCAT fault "${shown}:${number}: #include ${shown_include} reaches "
                                    "${private_dir}/, the core's private headers, which only "
                                    "session/ and tests/session/ include")
                list(APPEND faults "${fault}")
                continue()
            endif()
            if(shown STREQUAL table_slots_source OR found_file IN_LIST may_files_${folder})
                continue()
            endif()
            if(folder IN_LIST open_folders)
                if(target IN_LIST barred_${folder})
                    string(CONCAT fault "${shown}:${number}: #include ${shown_include} reaches "
                                        "${target}/, which ${folder}/ may not include: tables "
                                        "are made and read through ${table_slots}")
                    list(APPEND faults "${fault}")
                endif()
                continue()
            endif()
            if(NOT target IN_LIST allowed)
                list(JOIN allowed "/, " allowed_text)
                if(target STREQUAL "")
                    set(target_text "outside the layered folders")
                else()
                    set(target_text "${target}/")
                endif()
                string(CONCAT fault "${shown}:${number}: #include ${shown_include} reaches "
                                    "${target_text}, but ${folder}/ may include only "
                                    "${allowed_text}/")
                list(APPEND faults "${fault}")
            endif()
        endforeach()
    endforeach()
endforeach()

if(faults)
    list(LENGTH faults count)
    list(JOIN faults "\n  " listed)
    message(FATAL_ERROR "${count} fault(s) in the includes of the layers (calls go down only):\n"
                        "  ${listed}\n")
endif()
