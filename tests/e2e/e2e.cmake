# The real program on a real X desktop: Xvfb, a window manager, a tray host.
add_executable(quellan_e2e_tests ${CMAKE_CURRENT_LIST_DIR}/EndToEndTests.cpp)
target_link_libraries(quellan_e2e_tests PRIVATE quellan_x11_test_support GTest::gtest_main)
target_compile_definitions(quellan_e2e_tests PRIVATE QUELLAN_PROGRAM="$<TARGET_FILE:quellan>")
add_dependencies(quellan_e2e_tests quellan)
gtest_discover_tests(quellan_e2e_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 180)
