# Fuzz targets for the decoders of outside data: window properties and the
# settings file. With QUELLAN_FUZZ=ON (clang only) they are libFuzzer
# programs in <build>/fuzz; otherwise each saved corpus is replayed as an
# ordinary test by a plain driver, with whatever compiler the build uses.
option(QUELLAN_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

set(QUELLAN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
# Each target: its entry point and the decoder library it drives.
set(QUELLAN_FUZZERS x11_properties x11_clients settings)
set(QUELLAN_FUZZ_x11_properties X11PropertiesFuzzer.cpp quellan_x11_decoding)
set(QUELLAN_FUZZ_x11_clients X11ClientsFuzzer.cpp quellan_x11_decoding)
set(QUELLAN_FUZZ_settings SettingsFuzzer.cpp quellan_qt_settings)

if(QUELLAN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QUELLAN_FUZZ needs clang and libFuzzer: configure a separate build directory "
      "with -DCMAKE_CXX_COMPILER=clang++ (scripts/fuzz does)")
  endif()
  set(QUELLAN_FUZZ_SANITIZE -fno-sanitize-recover=all -fno-omit-frame-pointer)

  # Instrumented copies of the decoder libraries, so the ordinary targets of
  # this build directory stay as they are and still link without libFuzzer.
  foreach(library quellan_x11_decoding quellan_qt_settings)
    get_target_property(sources ${library} SOURCES)
    get_target_property(links ${library} LINK_LIBRARIES)
    add_library(${library}_fuzzing STATIC ${sources})
    target_include_directories(${library}_fuzzing PUBLIC ${QUELLAN_SOURCES})
    if(links)
      target_link_libraries(${library}_fuzzing PUBLIC ${links})
    endif()
    target_compile_options(${library}_fuzzing PRIVATE -fsanitize=fuzzer-no-link,address,undefined
      ${QUELLAN_FUZZ_SANITIZE})
  endforeach()

  add_custom_target(quellan_fuzzers)
  foreach(name IN LISTS QUELLAN_FUZZERS)
    list(GET QUELLAN_FUZZ_${name} 0 source)
    list(GET QUELLAN_FUZZ_${name} 1 library)
    add_executable(quellan_fuzz_${name} ${QUELLAN_FUZZ_DIR}/${source})
    target_link_libraries(quellan_fuzz_${name} PRIVATE ${library}_fuzzing)
    target_compile_options(quellan_fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined ${QUELLAN_FUZZ_SANITIZE})
    target_link_options(quellan_fuzz_${name} PRIVATE -fsanitize=fuzzer,address,undefined)
    set_target_properties(quellan_fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/fuzz)
    add_dependencies(quellan_fuzzers quellan_fuzz_${name})
  endforeach()
elseif(QUELLAN_BUILD_TESTS)
  add_library(quellan_fuzz_replay OBJECT ${QUELLAN_FUZZ_DIR}/ReplayMain.cpp)
  foreach(name IN LISTS QUELLAN_FUZZERS)
    list(GET QUELLAN_FUZZ_${name} 0 source)
    list(GET QUELLAN_FUZZ_${name} 1 library)
    add_executable(quellan_fuzz_replay_${name} ${QUELLAN_FUZZ_DIR}/${source} $<TARGET_OBJECTS:quellan_fuzz_replay>)
    target_link_libraries(quellan_fuzz_replay_${name} PRIVATE ${library})
    add_test(NAME FuzzCorpus.${name} COMMAND quellan_fuzz_replay_${name} ${QUELLAN_FUZZ_DIR}/corpus/${name})
    set_tests_properties(FuzzCorpus.${name} PROPERTIES TIMEOUT 120)
  endforeach()
endif()
