# Makes the .deb and runs lintian on it: no error and no warning (what it
# says only as information is in docs/PACKAGING.md).
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB -B ${OUT} WORKING_DIRECTORY ${BUILD_DIR}
  RESULT_VARIABLE result OUTPUT_VARIABLE said ERROR_VARIABLE said)
file(GLOB package ${OUT}/*.deb)
if(NOT result EQUAL 0 OR NOT package)
  message(FATAL_ERROR "cpack failed:\n${said}")
endif()
execute_process(COMMAND lintian --fail-on error,warning --tag-display-limit 0 ${package}
  RESULT_VARIABLE result OUTPUT_VARIABLE said ERROR_VARIABLE ignored)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "lintian:\n${said}")
endif()
file(REMOVE_RECURSE ${OUT})
