# Run by CPack on the staged files, before it makes the package: strips the programs
# as Debian's own tools do, of their symbols and of the compiler's .comment and .note.
file(GLOB programs ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*)
if(NOT programs)
  message(FATAL_ERROR "no programs staged to strip")
endif()
execute_process(COMMAND ${CPACK_MELLOWDECK_STRIP} --remove-section=.comment
                        --remove-section=.note ${programs}
                COMMAND_ERROR_IS_FATAL ANY)
