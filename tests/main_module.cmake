
add_executable(test_properties unit/test_properties.cpp)
target_link_libraries(test_properties PRIVATE tlx_properties GTest::gtest_main)
tlx_discover_tests(test_properties PROPERTIES LABELS unit)

# The main module under an offscreen GL context (EGL: not on Windows) and SDL's dummy video
# driver.
if(NOT WIN32)
    add_executable(test_shell unit/test_shell.cpp)
    target_link_libraries(test_shell PRIVATE tlx_main tlx_offscreen_gl GTest::gtest_main)
    # It runs in the program's run directory, where the file-scope store finds config.xml.
    tlx_discover_tests(test_shell WORKING_DIRECTORY ${TLX_RUN_DIR}
        PROPERTIES LABELS unit ENVIRONMENT "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy")
    add_dependencies(test_shell assets)
endif()
