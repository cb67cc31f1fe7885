# The macOS port: the AppKit, accessibility and Foundation backends, the
# Foundation collation, Quellan.app and the backend's own tests. Included
# by the top-level CMakeLists on Apple only.
#
# The top-level CMakeLists makes arm64 and macOS 13.0 the defaults (they
# must be known before project()); the warnings below catch overrides.
enable_language(OBJCXX)

set(QUELLAN_MACOS_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUELLAN_MACOS_MINIMUM_SYSTEM 13.0)

if(NOT CMAKE_OSX_DEPLOYMENT_TARGET)
  message(WARNING "CMAKE_OSX_DEPLOYMENT_TARGET is not set: Quellan.app will need the macOS this SDK is for, "
    "while its Info.plist promises ${QUELLAN_MACOS_MINIMUM_SYSTEM}. "
    "Configure with -DCMAKE_OSX_DEPLOYMENT_TARGET=${QUELLAN_MACOS_MINIMUM_SYSTEM}.")
elseif(CMAKE_OSX_DEPLOYMENT_TARGET VERSION_GREATER QUELLAN_MACOS_MINIMUM_SYSTEM)
  message(WARNING "CMAKE_OSX_DEPLOYMENT_TARGET ${CMAKE_OSX_DEPLOYMENT_TARGET} is newer than the "
    "${QUELLAN_MACOS_MINIMUM_SYSTEM} that Quellan.app's Info.plist promises.")
endif()
if(NOT CMAKE_OSX_ARCHITECTURES)
  message(STATUS "Quellan: building for this Mac's architecture only; the release build passes "
    "-DCMAKE_OSX_ARCHITECTURES=arm64")
endif()

# Objective-C++ at the project's C++ level. ARC: the .mm files hold their
# Objective-C objects in plain strong pointers and never retain or release by
# hand; Core Foundation references are owned by CFReference instead.
set(CMAKE_OBJCXX_STANDARD 20)
set(CMAKE_OBJCXX_STANDARD_REQUIRED ON)
set(CMAKE_OBJCXX_EXTENSIONS OFF)
set(QUELLAN_MACOS_OBJCXX_OPTIONS $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)

# UTF-8 to UTF-16 with replacement, shared by the backend and the collation.
add_library(quellan_macos_text STATIC ${QUELLAN_MACOS_DIR}/Utf16.cpp)
target_include_directories(quellan_macos_text PUBLIC ${QUELLAN_SOURCES})

# The collation through Foundation: the ICU backend is left out on Apple.
add_library(quellan_collation STATIC ${QUELLAN_MACOS_DIR}/Collation.mm)
target_link_libraries(quellan_collation PUBLIC quellan_platform quellan_macos_text "-framework Foundation")
target_compile_options(quellan_collation PRIVATE ${QUELLAN_MACOS_OBJCXX_OPTIONS})

add_library(quellan_macos STATIC
  ${QUELLAN_MACOS_DIR}/Accessibility.cpp
  ${QUELLAN_MACOS_DIR}/Workspace.mm
  ${QUELLAN_MACOS_DIR}/RunLoop.mm
  ${QUELLAN_MACOS_DIR}/UserDefaults.mm
  ${QUELLAN_MACOS_DIR}/Menu.mm
  ${QUELLAN_MACOS_DIR}/Framework.mm)
target_compile_options(quellan_macos PRIVATE ${QUELLAN_MACOS_OBJCXX_OPTIONS})
target_link_libraries(quellan_macos PUBLIC quellan_platform
  PRIVATE quellan_macos_text
  "-framework AppKit" "-framework ApplicationServices" "-framework Foundation" "-framework CoreFoundation")

# The program: build/Quellan.app.
add_executable(Quellan MACOSX_BUNDLE ${QUELLAN_MACOS_DIR}/main.cpp)
target_link_libraries(Quellan PRIVATE quellan_app quellan_macos)
set_target_properties(Quellan PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
  MACOSX_BUNDLE_INFO_PLIST ${QUELLAN_MACOS_DIR}/Info.plist.in
  MACOSX_BUNDLE_BUNDLE_NAME Quellan
  MACOSX_BUNDLE_GUI_IDENTIFIER org.quellan.Quellan
  MACOSX_BUNDLE_SHORT_VERSION_STRING ${PROJECT_VERSION}
  MACOSX_BUNDLE_BUNDLE_VERSION ${PROJECT_VERSION}
  MACOSX_BUNDLE_COPYRIGHT "Quellan ${PROJECT_VERSION}")

# The linker signs the executable alone; signing the bundle as well seals
# its Info.plist, which the system reads the identifier and the permission
# text from. Ad hoc: each build is a new signature, so the Accessibility
# permission must be granted again after a rebuild (see docs/MACOS.md).
option(QUELLAN_MACOS_SIGN_AD_HOC "Sign Quellan.app ad hoc after each build" ON)
if(QUELLAN_MACOS_SIGN_AD_HOC)
  add_custom_command(TARGET Quellan POST_BUILD
    COMMAND codesign --force --sign - --identifier org.quellan.Quellan "$<TARGET_BUNDLE_DIR:Quellan>"
    VERBATIM)
endif()

if(QUELLAN_BUILD_TESTS)
  # Headless: user defaults, timers, collation and menus need no permission.
  add_executable(quellan_macos_tests
    ${PROJECT_SOURCE_DIR}/tests/macos/Utf16Tests.cpp
    ${PROJECT_SOURCE_DIR}/tests/macos/FoundationBackendTests.mm)
  target_compile_options(quellan_macos_tests PRIVATE ${QUELLAN_MACOS_OBJCXX_OPTIONS})
  target_link_libraries(quellan_macos_tests PRIVATE quellan_macos quellan_collation quellan_macos_text
    GTest::gtest_main "-framework AppKit" "-framework Foundation")
  gtest_discover_tests(quellan_macos_tests DISCOVERY_TIMEOUT 60)
endif()
