# The asset generator's output: well-formed files that SDL_mixer and the TGA loader can read.
add_executable(test_assets ${CMAKE_CURRENT_LIST_DIR}/unit/test_assets.cpp)
target_link_libraries(test_assets PRIVATE GTest::gtest_main)
# The generator's command line, each word quoted for the shell; a cross build runs it through the
# emulator that runs the tests.
set(tlx_genassets_command "")
foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR ITEMS $<TARGET_FILE:terralux_genassets>)
    string(APPEND tlx_genassets_command "'${word}' ")
endforeach()
target_compile_definitions(test_assets PRIVATE TLX_GENASSETS="${tlx_genassets_command}")
add_dependencies(test_assets terralux_genassets)
tlx_discover_tests(test_assets PROPERTIES LABELS unit)
