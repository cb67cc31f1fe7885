# The fault-injection soak over the simulated desktop: a short run in the
# test suite; QUELLAN_SOAK_SCANS=N makes the same test a long one.
add_executable(quellan_soak_tests ${CMAKE_CURRENT_LIST_DIR}/SoakTests.cpp)
target_include_directories(quellan_soak_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(quellan_soak_tests PRIVATE quellan_app quellan_simulated GTest::gtest_main)
gtest_discover_tests(quellan_soak_tests DISCOVERY_TIMEOUT 60)
