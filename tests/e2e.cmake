# End-to-end tests: the real terralux binary in a real window on Xvfb, driven through libxdo, on
# each SDL 1.2 runtime at hand.
find_package(X11 REQUIRED)
find_library(XDO_LIBRARY xdo REQUIRED)
find_path(XDO_INCLUDE_DIR xdo.h REQUIRED)
pkg_check_modules(STB REQUIRED IMPORTED_TARGET stb)

# Prints the SDL version it runs on; with "tone", plays a reference tone through the mixer.
add_executable(tlx_sdlprobe e2e/sdlprobe.c)
target_link_libraries(tlx_sdlprobe PRIVATE PkgConfig::SDL m)

# The Wayland display: sway's IPC answers in JSON; the virtual pointer and keyboard protocols'
# client code is generated from their descriptions in e2e/protocols.
pkg_check_modules(WAYLAND REQUIRED IMPORTED_TARGET wayland-client xkbcommon)
find_package(nlohmann_json 3 REQUIRED)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
set(TLX_PROTOCOL_DIR ${CMAKE_CURRENT_BINARY_DIR}/protocols)
set(TLX_PROTOCOL_SOURCES)
foreach(protocol wlr-virtual-pointer-unstable-v1 virtual-keyboard-unstable-v1)
    set(xml ${CMAKE_CURRENT_LIST_DIR}/e2e/protocols/${protocol}.xml)
    set(header ${TLX_PROTOCOL_DIR}/${protocol}-client-protocol.h)
    set(code ${TLX_PROTOCOL_DIR}/${protocol}-protocol.c)
    add_custom_command(OUTPUT ${header} ${code}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TLX_PROTOCOL_DIR}
        COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
        COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
        DEPENDS ${xml} VERBATIM)
    list(APPEND TLX_PROTOCOL_SOURCES ${header} ${code})
endforeach()

add_library(tlx_e2e_harness STATIC e2e/harness.cpp e2e/scene.cpp e2e/x11.cpp e2e/wayland.cpp
    ${TLX_PROTOCOL_SOURCES})
target_include_directories(tlx_e2e_harness PUBLIC e2e PRIVATE ${XDO_INCLUDE_DIR} ${TLX_PROTOCOL_DIR})
target_link_libraries(tlx_e2e_harness PUBLIC GTest::gtest
    PRIVATE X11::X11 ${XDO_LIBRARY} PkgConfig::STB PkgConfig::WAYLAND
    nlohmann_json::nlohmann_json ${CMAKE_DL_LIBS})
target_compile_definitions(tlx_e2e_harness PRIVATE
    TLX_TERRALUX_BIN="$<TARGET_FILE:terralux>"
    TLX_BUILD_RUN_DIR="${CMAKE_BINARY_DIR}/run"
    TLX_SDLPROBE_BIN="$<TARGET_FILE:tlx_sdlprobe>")
add_dependencies(tlx_e2e_harness terralux tlx_sdlprobe assets)

# The SDL 1.2 runtime installed. Where it is classic SDL 1.2 (1.2.15), the suite runs a second
# time on sdl12-compat (1.2.50 or later), fetched from the package archive into the build tree;
# where sdl12-compat is the installed runtime, classic SDL 1.2 is not to be had and one run is all.
try_run(tlx_sdl_run tlx_sdl_compiled
    ${CMAKE_BINARY_DIR}/sdlprobe ${CMAKE_CURRENT_LIST_DIR}/e2e/sdlprobe.c
    LINK_LIBRARIES PkgConfig::SDL m RUN_OUTPUT_VARIABLE tlx_sdl_version)
string(STRIP "${tlx_sdl_version}" tlx_sdl_version)
if(NOT tlx_sdl_compiled OR NOT tlx_sdl_run EQUAL 0)
    message(FATAL_ERROR "cannot run a program on the installed SDL 1.2")
endif()
message(STATUS "SDL 1.2 runtime installed: ${tlx_sdl_version}")
option(TERRALUX_E2E_COMPAT "Run the end-to-end suite on sdl12-compat too, where it is not installed" ON)
if(TERRALUX_E2E_COMPAT AND tlx_sdl_version VERSION_LESS 1.2.50)
    set(TLX_COMPAT_DIR ${CMAKE_BINARY_DIR}/sdl12-compat)
    add_custom_command(OUTPUT ${TLX_COMPAT_DIR}/lib/libSDL-1.2.so.0
        COMMAND ${CMAKE_COMMAND} -E rm -rf sdl12-compat
        COMMAND ${CMAKE_COMMAND} -E make_directory sdl12-compat/lib
        COMMAND ${CMAKE_COMMAND} -E chdir sdl12-compat apt-get download libsdl1.2-compat
        COMMAND ${CMAKE_COMMAND} -E chdir sdl12-compat sh -c "dpkg -x libsdl1.2-compat_*.deb root \
&& find root -name 'libSDL-1.2.so*' -exec cp -P -t lib {} +"
        WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM
        COMMENT "Fetching sdl12-compat for the second end-to-end run")
    add_custom_target(tlx_sdl12_compat ALL DEPENDS ${TLX_COMPAT_DIR}/lib/libSDL-1.2.so.0)
endif()

# One executable per source, one CTest test per executable and runtime: e2e.NAME on the installed
# runtime, e2e-compat.NAME on the fetched sdl12-compat. Each starts one Xvfb for all its cases.
# The same tests natively on Wayland: a headless sway compositor, the program on SDL's Wayland
# driver, on sdl12-compat (classic SDL 1.2 has no Wayland driver): the fetched one where the
# installed runtime is classic, else the installed one. e2e-wayland.NAME runs at the output scale
# 1, e2e-wayland-scale2.NAME at scale 2. The soak is left to X11.
option(TERRALUX_E2E_WAYLAND "Run the end-to-end suite on Wayland too" ON)
set(TLX_WAYLAND_ENV)
if(TERRALUX_E2E_WAYLAND AND TLX_COMPAT_DIR)
    set(TLX_WAYLAND_ENV LD_LIBRARY_PATH=${TLX_COMPAT_DIR}/lib)
elseif(TERRALUX_E2E_WAYLAND AND tlx_sdl_version VERSION_LESS 1.2.50)
    message(STATUS "No sdl12-compat: no end-to-end tests on Wayland")
    set(TERRALUX_E2E_WAYLAND OFF)
endif()
if(TERRALUX_E2E_WAYLAND)
    find_program(SWAY sway REQUIRED)
    find_program(GRIM grim REQUIRED)
endif()
function(tlx_add_e2e_test name timeout)
    add_executable(test_e2e_${name} e2e/test_${name}.cpp)
    target_link_libraries(test_e2e_${name} PRIVATE tlx_e2e_harness GTest::gtest_main)
    add_test(NAME e2e.${name} COMMAND test_e2e_${name})
    set_tests_properties(e2e.${name} PROPERTIES LABELS e2e TIMEOUT ${timeout})
    if(TLX_COMPAT_DIR)
        add_test(NAME e2e-compat.${name} COMMAND test_e2e_${name})
        set_tests_properties(e2e-compat.${name} PROPERTIES LABELS "e2e;e2e-compat"
            TIMEOUT ${timeout} ENVIRONMENT LD_LIBRARY_PATH=${TLX_COMPAT_DIR}/lib)
    endif()
    if(TERRALUX_E2E_WAYLAND AND NOT name STREQUAL soak)
        foreach(scale 1 2)
            set(test e2e-wayland.${name})
            if(scale GREATER 1)
                set(test e2e-wayland-scale${scale}.${name})
            endif()
            add_test(NAME ${test} COMMAND test_e2e_${name})
            set_tests_properties(${test} PROPERTIES LABELS "e2e;e2e-wayland" TIMEOUT ${timeout}
                ENVIRONMENT "TERRALUX_E2E_DISPLAY=wayland;TERRALUX_E2E_SCALE=${scale};${TLX_WAYLAND_ENV}")
        endforeach()
    endif()
endfunction()

tlx_add_e2e_test(startup 300)
tlx_add_e2e_test(render 180)
tlx_add_e2e_test(pick 120)
tlx_add_e2e_test(soak 300)

# The same tests on the Windows build, run under Wine on Xvfb (scripts/windows test runs them with
# ctest -L e2e-wine): e2e-wine.NAME runs the terralux.exe of the Windows build's run directory.
# They share one Wine prefix (WINEPREFIX), so they run one at a time. The soak is left to
# scripts/soak.
set(TERRALUX_WINDOWS_RUN_DIR "" CACHE PATH "The Windows build's run directory, for tests under Wine")
if(TERRALUX_WINDOWS_RUN_DIR)
    find_program(WINE wine REQUIRED)
    foreach(name startup render pick)
        add_test(NAME e2e-wine.${name} COMMAND test_e2e_${name})
        set_tests_properties(e2e-wine.${name} PROPERTIES LABELS e2e-wine TIMEOUT 900
            RESOURCE_LOCK wineprefix ENVIRONMENT
            "TERRALUX_E2E_LAUNCHER=wine;TERRALUX_BIN=${TERRALUX_WINDOWS_RUN_DIR}/terralux.exe")
    endforeach()
endif()

# The start-up failures once more, on the program built with AddressSanitizer and
# UndefinedBehaviorSanitizer (scripts/test names it): hostile settings must end in their line and
# exit status 1 with no sanitizer report, which would change both.
set(TERRALUX_SANITIZED_BIN "" CACHE FILEPATH "A sanitizer build of terralux for the start-up failures")
if(TERRALUX_SANITIZED_BIN)
    add_test(NAME e2e-sanitized.startup-failures
        COMMAND test_e2e_startup --gtest_filter=Table/FatalStartup.*)
    set_tests_properties(e2e-sanitized.startup-failures PROPERTIES LABELS e2e TIMEOUT 300
        ENVIRONMENT TERRALUX_BIN=${TERRALUX_SANITIZED_BIN})
endif()
