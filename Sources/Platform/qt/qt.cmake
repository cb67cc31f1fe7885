# Qt 6 tray, menus, timers and the settings file: the backend and its tests.
find_package(Qt6 REQUIRED COMPONENTS Widgets DBus)

# The settings format stands alone so tests and fuzzers can take it without Qt.
add_library(quellan_qt_settings STATIC ${CMAKE_CURRENT_LIST_DIR}/SettingsFormat.cpp)
target_link_libraries(quellan_qt_settings PUBLIC quellan_platform)

add_library(quellan_qt STATIC
  ${CMAKE_CURRENT_LIST_DIR}/QtFramework.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtStatusItem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TrayDiscovery.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtSession.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtSignals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtMenu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MenuExporter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StatusIcons.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtRunLoop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileUserDefaults.cpp
  ${CMAKE_CURRENT_LIST_DIR}/InstanceLock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommandLine.cpp)
# xcb to tell a missing display apart before Qt gives up on it, and with
# D-Bus to look for a tray without Qt remembering the answer.
target_link_libraries(quellan_qt PUBLIC quellan_platform quellan_qt_settings
  PRIVATE Qt6::Widgets Qt6::DBus PkgConfig::QUELLAN_XCB)

if(QUELLAN_BUILD_TESTS)
  set(QUELLAN_QT_TESTS_DIR ${PROJECT_SOURCE_DIR}/tests/qt)
  add_executable(quellan_qt_tests
    ${QUELLAN_QT_TESTS_DIR}/SettingsFileTests.cpp
    ${QUELLAN_QT_TESTS_DIR}/FrameworkTests.cpp)
  target_link_libraries(quellan_qt_tests PRIVATE quellan_qt Qt6::Widgets GTest::gtest_main)
  # The tray on real displays is the end-to-end tests' part.
  gtest_discover_tests(quellan_qt_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
