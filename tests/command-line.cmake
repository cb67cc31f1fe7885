# The program's command line, as a person without a display meets it:
# --help and --version answer, anything else is refused with status 2.
# Run with -DPROGRAM=<quellan> -DVERSION=<project version>.
function(run expected_status)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY ${PROGRAM} ${ARGN}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
  if(NOT status EQUAL expected_status)
    message(FATAL_ERROR "quellan ${ARGN}: status ${status}, not ${expected_status}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

run(0 --help)
if(NOT out MATCHES "^Usage: quellan \\[options\\]\n" OR NOT out MATCHES "--version" OR NOT err STREQUAL "")
  message(FATAL_ERROR "--help said:\n${out}${err}")
endif()
run(0 --version)
if(NOT out STREQUAL "quellan ${VERSION}\n")
  message(FATAL_ERROR "--version said: ${out}${err}")
endif()
foreach(refused --bogus -x stray)
  run(2 ${refused})
  string(REGEX MATCHALL "\n" lines "${err}")
  list(LENGTH lines count)
  if(NOT out STREQUAL "" OR NOT count EQUAL 1 OR NOT err MATCHES "quellan --help")
    message(FATAL_ERROR "quellan ${refused} said:\n${out}${err}")
  endif()
endforeach()
