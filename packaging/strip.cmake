# Run by CPack before it packs: strips the programs as Debian strips its own (dh_strip), the compiler's
# .comment and .note sections included, which CPack's own stripping keeps.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
if(NOT programs)
  message(FATAL_ERROR "strip.cmake: no programs under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin")
endif()
foreach(program IN LISTS programs)
  execute_process(COMMAND "${CPACK_UPDATER_STRIP}" --strip-all --remove-section=.comment --remove-section=.note
                          "${program}" COMMAND_ERROR_IS_FATAL ANY)
endforeach()
