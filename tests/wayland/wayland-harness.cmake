# Headless Wayland desktops for the tests: KWin, sway, Weston or GNOME Shell
# with a home and session bus of their own, and a client that opens windows on command.
# Needs Qt 6 Widgets (qt.cmake) and the X11 test support's Process.
if(NOT QUELLAN_BUILD_TESTS AND NOT QUELLAN_BUILD_BENCHMARKS)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(QUELLAN_WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)

add_executable(quellan_wayland_window_maker ${CMAKE_CURRENT_LIST_DIR}/WindowMaker.cpp)
target_link_libraries(quellan_wayland_window_maker PRIVATE Qt6::Widgets)

add_library(quellan_wayland_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/WaylandSession.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GnomeShellStart.cpp)
target_include_directories(quellan_wayland_test_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quellan_wayland_test_support PUBLIC quellan_x11_test_support
  PRIVATE PkgConfig::QUELLAN_WAYLAND_CLIENT Qt6::DBus)
target_compile_definitions(quellan_wayland_test_support
  PRIVATE QUELLAN_WINDOW_MAKER="$<TARGET_FILE:quellan_wayland_window_maker>")
add_dependencies(quellan_wayland_test_support quellan_wayland_window_maker)

if(QUELLAN_BUILD_TESTS)
  add_executable(quellan_wayland_tests ${CMAKE_CURRENT_LIST_DIR}/WaylandDesktopTests.cpp)
  target_link_libraries(quellan_wayland_tests PRIVATE quellan_app quellan_wayland quellan_wayland_test_support
    quellan_e2e_support GTest::gtest_main)
  target_compile_definitions(quellan_wayland_tests PRIVATE QUELLAN_PROGRAM="$<TARGET_FILE:quellan>"
    QUELLAN_WINDOW_MAKER_PATH="$<TARGET_FILE:quellan_wayland_window_maker>")
  add_dependencies(quellan_wayland_tests quellan)
  # As for the end-to-end tests: the sanitizer build's suppressions of what the libraries keep until exit.
  gtest_discover_tests(quellan_wayland_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180 ENVIRONMENT ${QUELLAN_LEAK_OPTIONS})

  add_executable(quellan_gnome_shell_tests ${CMAKE_CURRENT_LIST_DIR}/GnomeShellTests.cpp)
  target_link_libraries(quellan_gnome_shell_tests PRIVATE quellan_wayland_test_support quellan_e2e_support Qt6::DBus
    GTest::gtest_main)
  # The extension as built, with no program let in but the one the shell's environment names.
  target_compile_definitions(quellan_gnome_shell_tests
    PRIVATE QUELLAN_WINDOW_MAKER_PATH="$<TARGET_FILE:quellan_wayland_window_maker>"
    QUELLAN_PROGRAM="$<TARGET_FILE:quellan>"
    QUELLAN_GNOME_EXTENSION="${QUELLAN_GNOME_BUILD_DIR}/${QUELLAN_GNOME_VARIANT}/${QUELLAN_GNOME_UUID}")
  add_dependencies(quellan_gnome_shell_tests quellan quellan_gnome_extension)
  # One test of all its cases: they share a shell, which takes seconds to start.
  add_test(NAME GnomeShell COMMAND quellan_gnome_shell_tests)
  set_tests_properties(GnomeShell PROPERTIES TIMEOUT 240 ENVIRONMENT "${QUELLAN_LEAK_OPTIONS}")
endif()

if(QUELLAN_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
  add_executable(quellan_wayland_benchmark ${PROJECT_SOURCE_DIR}/benchmarks/wayland/WaylandDesktopBenchmark.cpp)
  target_link_libraries(quellan_wayland_benchmark PRIVATE quellan_app quellan_wayland quellan_wayland_test_support
    quellan_e2e_support benchmark::benchmark)
  target_compile_definitions(quellan_wayland_benchmark PRIVATE QUELLAN_PROGRAM="$<TARGET_FILE:quellan>")
  add_executable(quellan_gnome_shell_benchmark ${PROJECT_SOURCE_DIR}/benchmarks/wayland/GnomeShellBenchmark.cpp)
  target_link_libraries(quellan_gnome_shell_benchmark PRIVATE quellan_wayland_test_support quellan_e2e_support
    benchmark::benchmark)
  target_compile_definitions(quellan_gnome_shell_benchmark PRIVATE QUELLAN_PROGRAM="$<TARGET_FILE:quellan>"
    QUELLAN_GNOME_EXTENSION="${QUELLAN_GNOME_BUILD_DIR}/${QUELLAN_GNOME_VARIANT}/${QUELLAN_GNOME_UUID}")
  add_dependencies(quellan_gnome_shell_benchmark quellan quellan_gnome_extension)
endif()
