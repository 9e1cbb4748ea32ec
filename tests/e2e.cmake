# End-to-end tests: the real terralux binary in a real window on Xvfb, driven with xdotool.
find_package(X11 REQUIRED)

# Sends WM_DELETE_WINDOW to a window, as its close box does.
add_executable(tlx_wmclose e2e/wmclose.c)
target_link_libraries(tlx_wmclose PRIVATE X11::X11)

add_library(tlx_e2e_harness STATIC e2e/harness.cpp)
target_include_directories(tlx_e2e_harness PUBLIC e2e)
target_link_libraries(tlx_e2e_harness PUBLIC GTest::gtest X11::X11)
target_compile_definitions(tlx_e2e_harness PRIVATE
    TLX_TERRALUX_BIN="$<TARGET_FILE:terralux>"
    TLX_BUILD_RUN_DIR="${CMAKE_BINARY_DIR}/run"
    TLX_WMCLOSE_BIN="$<TARGET_FILE:tlx_wmclose>")
add_dependencies(tlx_e2e_harness terralux tlx_wmclose)
add_dependencies(tlx_e2e_harness assets)

# One executable per source; each starts its own Xvfb. Every case runs as its own CTest test.
# An optional third argument is the time limit of each case in seconds (default 120).
function(tlx_add_e2e_test name source)
    set(timeout 120)
    if(ARGC GREATER 2)
        set(timeout ${ARGV2})
    endif()
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE tlx_e2e_harness GTest::gtest_main)
    add_dependencies(${name} terralux tlx_wmclose)
    add_dependencies(${name} assets)
    gtest_discover_tests(${name} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 30
        PROPERTIES LABELS e2e TIMEOUT ${timeout})
endfunction()

tlx_add_e2e_test(test_e2e_startup e2e/test_startup.cpp)
tlx_add_e2e_test(test_e2e_render e2e/test_render.cpp)
tlx_add_e2e_test(test_e2e_pick e2e/test_pick.cpp)
tlx_add_e2e_test(test_e2e_soak e2e/test_soak.cpp 300)
