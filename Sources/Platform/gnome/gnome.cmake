# Window access on GNOME Shell under Wayland, through Quellan's own Shell
# extension (extensions/gnome) over the session bus with QtDBus.
find_package(Qt6 REQUIRED COMPONENTS DBus)

add_library(quellan_gnome STATIC
  ${CMAKE_CURRENT_LIST_DIR}/GnomeDesktop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ShellWindows.cpp)
# The listener QtDBus delivers the extension's signals to is a QObject.
set_target_properties(quellan_gnome PROPERTIES AUTOMOC ON)
target_link_libraries(quellan_gnome PUBLIC quellan_platform quellan_model PRIVATE Qt6::DBus)

if(QUELLAN_BUILD_TESTS)
  add_executable(quellan_gnome_tests ${PROJECT_SOURCE_DIR}/tests/gnome/ShellWindowsTests.cpp)
  target_link_libraries(quellan_gnome_tests PRIVATE quellan_gnome GTest::gtest_main)
  gtest_discover_tests(quellan_gnome_tests DISCOVERY_TIMEOUT 60)
endif()
