# X11 window access over xcb: the backend, its tests and its benchmark.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUELLAN_XCB REQUIRED IMPORTED_TARGET xcb xcb-ewmh xcb-icccm xcb-res)

# The decoders stand alone so tests and fuzzers can take them without xcb.
add_library(quellan_x11_decoding STATIC ${CMAKE_CURRENT_LIST_DIR}/PropertyDecoding.cpp)
target_link_libraries(quellan_x11_decoding PUBLIC quellan_model)

add_library(quellan_x11 STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Connection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Trust.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Reading.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Events.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OwnTray.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Minimizing.cpp)
target_link_libraries(quellan_x11 PUBLIC quellan_platform quellan_model quellan_x11_decoding
  PRIVATE PkgConfig::QUELLAN_XCB)

set(QUELLAN_X11_TESTS_DIR ${PROJECT_SOURCE_DIR}/tests/x11)
set(QUELLAN_X11_BENCHMARKS_DIR ${PROJECT_SOURCE_DIR}/benchmarks/x11)

# The benchmark is defined here, as every backend brings its own; it can be
# turned on alone while the shared benchmarks directory is still empty.
option(QUELLAN_X11_BENCHMARKS "Build the X11 backend benchmark" ${QUELLAN_BUILD_BENCHMARKS})

if(QUELLAN_BUILD_TESTS OR QUELLAN_X11_BENCHMARKS)
  # The Xvfb, window manager and tray launchers and the probe the
  # real-display tests and the benchmark share.
  add_library(quellan_x11_test_support STATIC ${QUELLAN_X11_TESTS_DIR}/XTestEnvironment.cpp)
  target_include_directories(quellan_x11_test_support PUBLIC ${QUELLAN_X11_TESTS_DIR})
  target_link_libraries(quellan_x11_test_support PUBLIC quellan_x11 PRIVATE PkgConfig::QUELLAN_XCB)
endif()

if(QUELLAN_BUILD_TESTS)
  add_executable(quellan_x11_tests
    ${QUELLAN_X11_TESTS_DIR}/PropertyDecodingTests.cpp
    ${QUELLAN_X11_TESTS_DIR}/X11DesktopTests.cpp)
  target_link_libraries(quellan_x11_tests PRIVATE quellan_app quellan_x11 quellan_x11_test_support quellan_simulated
    GTest::gtest_main)
  gtest_discover_tests(quellan_x11_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endif()

if(QUELLAN_X11_BENCHMARKS)
  find_package(benchmark REQUIRED)
  add_executable(quellan_x11_benchmark ${QUELLAN_X11_BENCHMARKS_DIR}/X11DesktopBenchmark.cpp)
  target_link_libraries(quellan_x11_benchmark PRIVATE quellan_app quellan_x11 quellan_x11_test_support PkgConfig::QUELLAN_XCB
    benchmark::benchmark)
  # From many windows down to the limit, the monitor driving the backend as the program does.
  add_executable(quellan_x11_excess_benchmark ${QUELLAN_X11_BENCHMARKS_DIR}/ExcessBenchmark.cpp)
  target_link_libraries(quellan_x11_excess_benchmark PRIVATE quellan_app quellan_x11 quellan_x11_test_support
    PkgConfig::QUELLAN_XCB benchmark::benchmark)
endif()
