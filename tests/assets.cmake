# The asset generator's output: well-formed files that SDL_mixer and the TGA loader can read.
add_executable(test_assets ${CMAKE_CURRENT_LIST_DIR}/unit/test_assets.cpp)
target_link_libraries(test_assets PRIVATE GTest::gtest_main)
target_compile_definitions(test_assets PRIVATE
    TLX_GENASSETS="$<TARGET_FILE:terralux_genassets>")
add_dependencies(test_assets terralux_genassets)
gtest_discover_tests(test_assets PROPERTIES LABELS unit)
