# The desktop model every event-fed backend (X11, Wayland) feeds: windows,
# focus order, minimize requests and the answers the platform layer asks for.
add_library(quellan_model STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DesktopModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MinimizeRequests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FocusLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ElementTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ForeignText.cpp)
target_link_libraries(quellan_model PUBLIC quellan_platform)
