# Quellan's GNOME Shell extension, quellan@quellan.org: windows.js wrapped
# for each way the shell loads extensions (scripts up to GNOME 44, modules
# from 45 on), with the D-Bus interface written in. The installed program's
# path is written in when installing, once the prefix is final.
#
# The file is also run as a script: QUELLAN_GNOME_STEP=generate writes one
# variant at build time, QUELLAN_GNOME_STEP=install the copy installed.

set(QUELLAN_GNOME_UUID quellan@quellan.org)

# Puts the program's path in a JS string literal of `file`.
function(quellan_gnome_write_program file program)
  string(REPLACE "\\" "\\\\" program "${program}")
  string(REPLACE "'" "\\'" program "${program}")
  file(READ ${file} text)
  string(REPLACE "@QUELLAN_PROGRAM@" "${program}" text "${text}")
  file(WRITE ${file} "${text}")
endfunction()

if(QUELLAN_GNOME_STEP STREQUAL "generate")
  # Expects SOURCE_DIR, VARIANT (legacy or modules), VERSION, OUT (the
  # placeholder kept), TEST_OUT and TEST_PROGRAM (the copy the tests load).
  file(READ ${SOURCE_DIR}/org.quellan.GnomeShell.Windows.xml xml)
  # It goes into a JS template literal.
  string(REPLACE "\\" "\\\\" xml "${xml}")
  string(REPLACE "`" "\\`" xml "${xml}")
  string(REPLACE "\${" "\\\${" xml "${xml}")
  file(READ ${SOURCE_DIR}/windows.js windows)
  string(REPLACE "@QUELLAN_INTERFACE_XML@" "${xml}" windows "${windows}")
  file(READ ${SOURCE_DIR}/extension-${VARIANT}.js.in entry)
  string(REPLACE "@QUELLAN_WINDOWS_JS@" "${windows}" entry "${entry}")
  file(WRITE ${OUT}/extension.js "${entry}")

  if(VARIANT STREQUAL "legacy")
    set(versions "[\"43\", \"44\"]")
  else()
    set(versions "[\"45\", \"46\", \"47\", \"48\", \"49\"]")
  endif()
  file(READ ${SOURCE_DIR}/metadata.json.in metadata)
  string(REPLACE "@QUELLAN_SHELL_VERSIONS@" "${versions}" metadata "${metadata}")
  string(REPLACE "@QUELLAN_VERSION@" "${VERSION}" metadata "${metadata}")
  file(WRITE ${OUT}/metadata.json "${metadata}")

  file(COPY ${OUT}/extension.js ${OUT}/metadata.json DESTINATION ${TEST_OUT})
  quellan_gnome_write_program(${TEST_OUT}/extension.js "${TEST_PROGRAM}")
  return()
elseif(QUELLAN_GNOME_STEP STREQUAL "install")
  # Expects FROM, TO and PROGRAM.
  file(COPY ${FROM}/extension.js ${FROM}/metadata.json DESTINATION ${TO})
  quellan_gnome_write_program(${TO}/extension.js "${PROGRAM}")
  return()
endif()

# Which one is installed; GNOME 45 loads only modules, 43 and 44 only scripts.
if(NOT DEFINED CACHE{QUELLAN_GNOME_SHELL_MODULES})
  set(QUELLAN_GNOME_MODULES_DEFAULT ON)
  execute_process(COMMAND gnome-shell --version OUTPUT_VARIABLE said ERROR_QUIET RESULT_VARIABLE unused TIMEOUT 30)
  if(said MATCHES "GNOME Shell 4[34]\\.")
    set(QUELLAN_GNOME_MODULES_DEFAULT OFF)
  endif()
  option(QUELLAN_GNOME_SHELL_MODULES "Install the GNOME Shell extension for GNOME 45 and later (OFF: for 43 and 44)"
    ${QUELLAN_GNOME_MODULES_DEFAULT})
endif()

# gnome-extension/<variant>/<uuid>: as installed but for the program's path;
# gnome-extension/test/<variant>: a data folder (XDG_DATA_DIRS) holding
# gnome-shell/extensions/<uuid>, which lets the build's own program in.
set(QUELLAN_GNOME_BUILD_DIR ${PROJECT_BINARY_DIR}/gnome-extension)
# Where the program is built (CMakeLists.txt); not $<TARGET_FILE>, which
# would have the program built before the extension.
set(QUELLAN_GNOME_TEST_PROGRAM ${PROJECT_BINARY_DIR}/quellan)
set(QUELLAN_GNOME_SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows.js ${CMAKE_CURRENT_LIST_DIR}/metadata.json.in
  ${CMAKE_CURRENT_LIST_DIR}/org.quellan.GnomeShell.Windows.xml ${CMAKE_CURRENT_LIST_FILE})
set(QUELLAN_GNOME_OUTPUTS)
foreach(variant legacy modules)
  set(out ${QUELLAN_GNOME_BUILD_DIR}/${variant}/${QUELLAN_GNOME_UUID})
  set(test_out ${QUELLAN_GNOME_BUILD_DIR}/test/${variant}/gnome-shell/extensions/${QUELLAN_GNOME_UUID})
  set(outputs ${out}/extension.js ${out}/metadata.json ${test_out}/extension.js ${test_out}/metadata.json)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -DQUELLAN_GNOME_STEP=generate -DSOURCE_DIR=${CMAKE_CURRENT_LIST_DIR}
      -DVARIANT=${variant} -DVERSION=${PROJECT_VERSION} -DOUT=${out} -DTEST_OUT=${test_out}
      -DTEST_PROGRAM=${QUELLAN_GNOME_TEST_PROGRAM} -P ${CMAKE_CURRENT_LIST_FILE}
    DEPENDS ${QUELLAN_GNOME_SOURCES} ${CMAKE_CURRENT_LIST_DIR}/extension-${variant}.js.in
    COMMENT "Writing the GNOME Shell extension (${variant})" VERBATIM)
  list(APPEND QUELLAN_GNOME_OUTPUTS ${outputs})
endforeach()
add_custom_target(quellan_gnome_extension ALL DEPENDS ${QUELLAN_GNOME_OUTPUTS})

if(QUELLAN_GNOME_SHELL_MODULES)
  set(QUELLAN_GNOME_VARIANT modules)
  message(STATUS "The GNOME Shell extension installed is for GNOME 45 and later (QUELLAN_GNOME_SHELL_MODULES)")
else()
  set(QUELLAN_GNOME_VARIANT legacy)
  message(STATUS "The GNOME Shell extension installed is for GNOME 43 and 44 (QUELLAN_GNOME_SHELL_MODULES)")
endif()
# For the tests that start GNOME Shell: the data folder of this machine's variant.
set(QUELLAN_GNOME_EXTENSION_DATA_DIR ${QUELLAN_GNOME_BUILD_DIR}/test/${QUELLAN_GNOME_VARIANT})

include(GNUInstallDirs)
set(QUELLAN_GNOME_STAGE ${QUELLAN_GNOME_BUILD_DIR}/install/${QUELLAN_GNOME_UUID})
install(CODE "block()
  set(QUELLAN_GNOME_STEP install)
  set(FROM \"${QUELLAN_GNOME_BUILD_DIR}/${QUELLAN_GNOME_VARIANT}/${QUELLAN_GNOME_UUID}\")
  set(TO \"${QUELLAN_GNOME_STAGE}\")
  set(PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quellan\")
  include(\"${CMAKE_CURRENT_LIST_FILE}\")
endblock()")
install(FILES ${QUELLAN_GNOME_STAGE}/extension.js ${QUELLAN_GNOME_STAGE}/metadata.json
  DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions/${QUELLAN_GNOME_UUID})
