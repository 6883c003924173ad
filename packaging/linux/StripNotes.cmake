# Run by CPack after the programs are installed (and stripped) into its
# staging folder: drops the compiler's notes that a stripped program keeps,
# as Debian's own packaging tools do.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_QUORVIX_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CPACK_QUORVIX_STRIP} failed on ${program}")
  endif()
endforeach()
