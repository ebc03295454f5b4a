# Run by cpack on the staged tree, after the install and its strip, before
# the files are packed: removes .comment and .note from every ELF file.
# CPack hands over CPACK_TEMPORARY_INSTALL_DIRECTORY and CPACK_LARK_STRIP.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file IN LISTS staged)
    if(IS_SYMLINK "${file}")
        continue()
    endif()
    file(READ "${file}" magic LIMIT 4 HEX)
    if(magic STREQUAL "7f454c46")
        execute_process(
            COMMAND "${CPACK_LARK_STRIP}" --remove-section=.comment --remove-section=.note "${file}"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
