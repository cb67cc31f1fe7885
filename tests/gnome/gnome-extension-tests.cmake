# The GNOME Shell extension in gjs against fakes of the shell: each entry
# file the build writes (gnome.cmake), the module one also showing that gjs
# parses what GNOME 45 and later load.
find_program(QUELLAN_GJS gjs)
if(NOT QUELLAN_GJS)
  message(STATUS "gjs not found: the GNOME Shell extension's tests are left out (Debian: apt-get install gjs)")
  return()
endif()
foreach(variant legacy modules)
  add_test(NAME GnomeShellExtension.${variant}
    COMMAND ${QUELLAN_GJS} -m ${CMAKE_CURRENT_LIST_DIR}/extension-tests.js ${variant}
      ${QUELLAN_GNOME_BUILD_DIR}/test/${variant}/gnome-shell/extensions/${QUELLAN_GNOME_UUID}/extension.js
      ${QUELLAN_GNOME_TEST_PROGRAM} ${PROJECT_BINARY_DIR}/gnome-extension/test-scratch/${variant})
endforeach()
