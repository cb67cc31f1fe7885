# The simulated desktop, run loop and framework, used by the tests and benchmarks.
add_library(quellan_simulated STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SimulatedDesktop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatedRunLoop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimulatedFramework.cpp)
target_link_libraries(quellan_simulated PUBLIC quellan_platform)
