# Run by CPack once it has staged the package's files and before it packs
# them: strips the program as Debian's own packaging tools do. The plain
# strip of CPACK_STRIP_FILES keeps the compiler's .comment section (one
# version string per object file), which a package has no use for.
file(GLOB_RECURSE lp_staged_programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*/bin/*")
foreach(program ${lp_staged_programs})
  execute_process(
    COMMAND ${CPACK_LP_STRIP} --remove-section=.comment --remove-section=.note ${program}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "could not strip ${program}")
  endif()
endforeach()
