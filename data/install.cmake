# What `cmake --install` puts in place for the Linux desktop port: the
# program, its menu entry and icon, and an XDG autostart entry so that it
# starts with the session; the GNOME Shell extension is put in place by
# extensions/gnome/gnome.cmake. `cpack -G DEB` turns the same into a package.
include(GNUInstallDirs)

# Session autostart is read from $XDG_CONFIG_DIRS/autostart, /etc/xdg by
# default, whatever the prefix: /usr/local/etc/xdg is read by no session.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
  set(QUELLAN_AUTOSTART_DEFAULT /etc/xdg/autostart)
else()
  set(QUELLAN_AUTOSTART_DEFAULT ${CMAKE_INSTALL_SYSCONFDIR}/xdg/autostart)
endif()
set(QUELLAN_AUTOSTART_DIR ${QUELLAN_AUTOSTART_DEFAULT} CACHE PATH
  "Where the session autostart entry goes (relative paths are under the prefix)")

# KWin lets a program use its window-management interface only when a
# desktop entry asks for it and names the program by its full path, so
# Exec is written when installing, once the prefix is final (the package
# installs under /usr whatever the build's prefix).
install(CODE "
  set(QUELLAN_EXEC \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quellan\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/quellan.desktop.in\" \"${PROJECT_BINARY_DIR}/data/quellan.desktop\" @ONLY)
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/quellan-autostart.desktop.in\"
    \"${PROJECT_BINARY_DIR}/data/autostart/quellan.desktop\" @ONLY)")

install(TARGETS quellan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page, with the project's version, compressed as Debian's
# policy asks (gzip -n: the same bytes at every build).
configure_file(${CMAKE_CURRENT_LIST_DIR}/quellan.1 ${PROJECT_BINARY_DIR}/data/quellan.1 @ONLY)
find_program(QUELLAN_GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/data/quellan.1.gz
  COMMAND ${QUELLAN_GZIP} -9nkf ${PROJECT_BINARY_DIR}/data/quellan.1
  DEPENDS ${PROJECT_BINARY_DIR}/data/quellan.1 VERBATIM)
add_custom_target(quellan_manual ALL DEPENDS ${PROJECT_BINARY_DIR}/data/quellan.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/data/quellan.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What Debian asks of every package's documentation folder: the copyright
# and, for a package of its own making, the changelog, compressed.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${PROJECT_BINARY_DIR}/data/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/data/changelog.gz
  COMMAND ${QUELLAN_GZIP} -9nkf ${PROJECT_BINARY_DIR}/data/changelog
  DEPENDS ${PROJECT_BINARY_DIR}/data/changelog VERBATIM)
add_custom_target(quellan_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/data/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/data/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quellan)

# What software centres show: AppStream data, with the project's version.
configure_file(${CMAKE_CURRENT_LIST_DIR}/org.quellan.Quellan.metainfo.xml.in
  ${PROJECT_BINARY_DIR}/data/org.quellan.Quellan.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/data/org.quellan.Quellan.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_BINARY_DIR}/data/quellan.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quellan.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_BINARY_DIR}/data/autostart/quellan.desktop DESTINATION ${QUELLAN_AUTOSTART_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quellan)
set(CPACK_PACKAGE_VENDOR "Quellan developers")
set(CPACK_PACKAGE_CONTACT "Quellan developers <maintainers@quellan.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps the number of visible windows under a limit")
# Lines of at most 80 characters, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION "A tray utility that minimizes the least recently focused windows beyond
a limit, and optionally windows left unfocused for a while.")
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Library dependencies from the binary itself, as Debian's own packaging does.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# GNOME Shell shows no tray without it; Quellan's own extension is in the package.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS gnome-shell-extension-appindicator)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The autostart entry is a setting an administrator may edit: an upgrade asks before replacing it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/conffiles)
include(CPack)

if(QUELLAN_BUILD_TESTS)
  # Every warning groff can give fails it.
  add_test(NAME ManualPageHasNoWarnings
    COMMAND groff -ww -man -z -t ${PROJECT_BINARY_DIR}/data/quellan.1)
  set_tests_properties(ManualPageHasNoWarnings PROPERTIES FAIL_REGULAR_EXPRESSION "[^ \n]")
  # --no-net: the screenshot's address is not fetched, so the result does not depend on the network.
  add_test(NAME AppStreamDataIsValid COMMAND appstreamcli validate --explain --no-net
    ${PROJECT_BINARY_DIR}/data/org.quellan.Quellan.metainfo.xml)
  # The package as Debian's checker sees it (the sanitizer build's would only differ by its libraries).
  if(NOT QUELLAN_SANITIZE)
    add_test(NAME PackagePassesLintian COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -DOUT=${PROJECT_BINARY_DIR}/package-check -P ${CMAKE_CURRENT_LIST_DIR}/check-package.cmake)
    set_tests_properties(PackagePassesLintian PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
  endif()
  add_test(NAME InstallPutsTheProgramAndItsEntriesInPlace
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DSTAGE=${PROJECT_BINARY_DIR}/install-check
      -P ${CMAKE_CURRENT_LIST_DIR}/check-install.cmake)
endif()
