# TGA loader: decoder, conformance and GL-side tests in an offscreen GL context, and the
# decoding benchmark.
foreach(name test_tga test_tga_conformance test_tga_gl test_tga_nocompress)
    add_executable(${name} unit/${name}.cpp)
    target_link_libraries(${name} PRIVATE tlx_tga tlx_offscreen_gl GTest::gtest)
endforeach()

target_compile_definitions(test_tga_conformance PRIVATE
    TLX_EARTH_TGA="${TLX_RUN_DIR}/textures/earth.tga")
add_dependencies(test_tga_conformance assets)

tlx_discover_tests(test_tga PROPERTIES LABELS unit)
tlx_discover_tests(test_tga_conformance PROPERTIES LABELS unit)
tlx_discover_tests(test_tga_gl PROPERTIES LABELS unit)
# Mesa reads the override once, when the first context is made.
tlx_discover_tests(test_tga_nocompress PROPERTIES LABELS unit
    ENVIRONMENT "MESA_EXTENSION_OVERRIDE=-GL_ARB_texture_compression")

# A benchmark, not a test: prints decoding times against stb_image and a bare floor.
pkg_check_modules(STB REQUIRED stb)
add_executable(bench_tga ${PROJECT_SOURCE_DIR}/bench/bench_tga.cpp)
# It compiles stb_image itself, so it takes only the headers. It makes no GL call, but the
# loader's upload refers to GL.
target_include_directories(bench_tga PRIVATE ${STB_INCLUDE_DIRS})
target_link_libraries(bench_tga PRIVATE tlx_tga ${GL_LIBRARY})

# A tool, not a test: writes the loader's decoding of TGA files, which scripts/cross compares
# between two architectures.
add_executable(tgadump unit/tgadump.cpp)
target_link_libraries(tgadump PRIVATE tlx_tga ${GL_LIBRARY})
