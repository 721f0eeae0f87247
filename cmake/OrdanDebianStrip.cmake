# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged files of the Debian
# packages, before CPack splits the debugging symbols off into the -dbgsym
# packages and strips the programs: removes from every ELF file the sections
# Debian's own packages go without (dh_strip removes them too), .comment with
# the compiler's version strings and .note.
find_program(ORDAN_OBJCOPY objcopy)
if(NOT ORDAN_OBJCOPY)
    message(FATAL_ERROR "objcopy is needed to package the programs (package binutils)")
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(file IN LISTS staged)
    if(IS_SYMLINK ${file})
        continue()
    endif()
    file(READ ${file} magic LIMIT 4 HEX)
    if(NOT magic STREQUAL "7f454c46")
        continue()
    endif()
    execute_process(COMMAND ${ORDAN_OBJCOPY} --remove-section=.comment --remove-section=.note
                            ${file}
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "objcopy failed on ${file}")
    endif()
endforeach()
