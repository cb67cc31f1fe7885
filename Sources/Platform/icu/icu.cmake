# Locale-aware comparison through ICU, for every platform but Apple's.
find_package(ICU REQUIRED COMPONENTS uc i18n)
add_library(quellan_collation STATIC ${CMAKE_CURRENT_LIST_DIR}/Collation.cpp)
target_link_libraries(quellan_collation PUBLIC quellan_platform PRIVATE ICU::i18n ICU::uc)
