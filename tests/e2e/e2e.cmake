# The real program on a real X desktop: Xvfb, a window manager, a tray host.
# The session helpers serve the end-to-end tests and the idle benchmark.
add_library(quellan_e2e_support STATIC ${CMAKE_CURRENT_LIST_DIR}/DesktopSession.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PanelSession.cpp)
target_include_directories(quellan_e2e_support PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quellan_e2e_support PUBLIC quellan_x11_test_support PRIVATE Qt6::DBus)
target_compile_definitions(quellan_e2e_support PRIVATE QUELLAN_PROGRAM="$<TARGET_FILE:quellan>")
add_dependencies(quellan_e2e_support quellan)

if(QUELLAN_BUILD_TESTS)
  add_executable(quellan_e2e_tests ${CMAKE_CURRENT_LIST_DIR}/EndToEndTests.cpp)
  target_link_libraries(quellan_e2e_tests PRIVATE quellan_e2e_support GTest::gtest_main)
  # In the sanitizer build Quellan inherits this: the suppressions of what
  # its libraries keep until exit, and whole stacks through libraries built
  # without frame pointers, so that the suppressions can match. (One
  # variable: a list here would lose all but its first entry.)
  set(QUELLAN_LEAK_OPTIONS
    "LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp:print_suppressions=0:fast_unwind_on_malloc=0")
  gtest_discover_tests(quellan_e2e_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180 ENVIRONMENT ${QUELLAN_LEAK_OPTIONS})
endif()

if(QUELLAN_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
  # benchmarks/e2e/<File>Benchmark.cpp builds quellan_<name>_benchmark.
  foreach(pair Idle:idle FastSwitch:fast_switch NewWindow:new_window Flood:flood MenuLatency:menu_latency
          PanelMenu:panel_menu)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 file)
    list(GET pair 1 name)
    add_executable(quellan_${name}_benchmark ${PROJECT_SOURCE_DIR}/benchmarks/e2e/${file}Benchmark.cpp)
    target_link_libraries(quellan_${name}_benchmark PRIVATE quellan_e2e_support benchmark::benchmark
      PkgConfig::QUELLAN_XCB)
  endforeach()
endif()
