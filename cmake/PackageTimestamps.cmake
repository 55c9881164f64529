# Run by CPack after staging the package's files: sets the time of every staged file and
# directory to SOURCE_DATE_EPOCH, so that the archive does not carry the build's times.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  return()
endif()
find_program(touch touch REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged ITEMS "${CPACK_TEMPORARY_DIRECTORY}")
  execute_process(COMMAND ${touch} -h -d "@$ENV{SOURCE_DATE_EPOCH}" "${path}"
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
