# --help and --version answer and exit 0 with no display at all, from the
# program and through the installed launcher, and the launcher then leaves
# the user's data folder alone. Qt would abort (no display) or wait in a
# dialog if the options reached it.
#
#   cmake -DPROGRAM=... -DLAUNCHER=... -DVERSION=... -DWORK=... -P InfoOptions.cmake

foreach(var DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM)
    unset(ENV{${var}})
endforeach()
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(ENV{XDG_DATA_HOME} "${WORK}/data")
set(ENV{LARK_PROGRAM} "${PROGRAM}")

function(expect_answer label first_line)
    execute_process(COMMAND ${ARGN}
        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${label}: exit status ${status}\n${out}${err}")
    endif()
    if(NOT err STREQUAL "")
        message(FATAL_ERROR "${label}: wrote to standard error:\n${err}")
    endif()
    string(REGEX MATCH "^[^\n]*" line "${out}")
    if(NOT line STREQUAL first_line)
        message(FATAL_ERROR "${label}: first line \"${line}\", expected \"${first_line}\"")
    endif()
endfunction()

set(usage "Usage: larkledger-security [FOLDER] [QT-OPTION...]")
set(version "larkledger-security ${VERSION}")
expect_answer("program --help" "${usage}" "${PROGRAM}" --help)
expect_answer("program -h" "${usage}" "${PROGRAM}" -h)
expect_answer("program --version" "${version}" "${PROGRAM}" --version)
expect_answer("program -v after a Qt option" "${version}" "${PROGRAM}" -reverse -v)
expect_answer("launcher --help" "${usage}" sh "${LAUNCHER}" --help)
expect_answer("launcher --version" "${version}" sh "${LAUNCHER}" --version)

if(EXISTS "${WORK}/data")
    message(FATAL_ERROR "the launcher created ${WORK}/data only to print")
endif()

# Without those options the launcher still refuses to start without a display.
execute_process(COMMAND sh "${LAUNCHER}"
    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err TIMEOUT 20)
if(status EQUAL 0 OR NOT err MATCHES "no display")
    message(FATAL_ERROR "launcher without a display: status ${status}\n${err}")
endif()
if(EXISTS "${WORK}/data")
    message(FATAL_ERROR "the launcher created ${WORK}/data without a display")
endif()
