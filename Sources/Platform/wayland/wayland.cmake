# Window access on Wayland compositors that let a program list and minimize
# other programs' windows: KWin (plasma window management) and wlroots
# compositors (foreign toplevel management). The protocol code is generated
# at build time; the KDE protocol comes from Debian's plasma-wayland-protocols,
# the wlr one is kept in protocols/ with its licence.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUELLAN_WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_get_variable(QUELLAN_WAYLAND_SCANNER wayland-scanner wayland_scanner)
find_package(PlasmaWaylandProtocols REQUIRED)

set(QUELLAN_WAYLAND_GENERATED ${PROJECT_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${QUELLAN_WAYLAND_GENERATED})
set(QUELLAN_WAYLAND_PROTOCOL_SOURCES)
foreach(protocol IN ITEMS
    "${PLASMA_WAYLAND_PROTOCOLS_DIR}/plasma-window-management.xml"
    "${PLASMA_WAYLAND_PROTOCOLS_DIR}/plasma-virtual-desktop.xml"
    "${CMAKE_CURRENT_LIST_DIR}/protocols/wlr-foreign-toplevel-management-unstable-v1.xml")
  get_filename_component(name ${protocol} NAME_WE)
  set(header ${QUELLAN_WAYLAND_GENERATED}/${name}-client-protocol.h)
  set(code ${QUELLAN_WAYLAND_GENERATED}/${name}-protocol.c)
  add_custom_command(OUTPUT ${header} COMMAND ${QUELLAN_WAYLAND_SCANNER} client-header ${protocol} ${header}
    DEPENDS ${protocol} VERBATIM)
  add_custom_command(OUTPUT ${code} COMMAND ${QUELLAN_WAYLAND_SCANNER} private-code ${protocol} ${code}
    DEPENDS ${protocol} VERBATIM)
  list(APPEND QUELLAN_WAYLAND_PROTOCOL_SOURCES ${header} ${code})
endforeach()

enable_language(C)
add_library(quellan_wayland STATIC ${CMAKE_CURRENT_LIST_DIR}/WaylandDesktop.cpp ${QUELLAN_WAYLAND_PROTOCOL_SOURCES})
target_include_directories(quellan_wayland PRIVATE ${QUELLAN_WAYLAND_GENERATED})
target_link_libraries(quellan_wayland PUBLIC quellan_platform quellan_model PRIVATE PkgConfig::QUELLAN_WAYLAND_CLIENT)
