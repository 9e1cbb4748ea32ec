# Geometry: scene points, lines, geographic conversion and great-circle traces.

add_executable(test_point unit/test_point.cpp)
target_link_libraries(test_point PRIVATE tlx_geo GTest::gtest_main)
tlx_discover_tests(test_point PROPERTIES LABELS unit)

add_executable(test_trace unit/test_trace.cpp)
target_link_libraries(test_trace PRIVATE tlx_geo GTest::gtest_main)
tlx_discover_tests(test_trace PROPERTIES LABELS unit)

# Cost of a trace's step and of its polyline copy; prints figures, not a test.
add_executable(bench_trace ${PROJECT_SOURCE_DIR}/bench/bench_trace.cpp)
target_link_libraries(bench_trace PRIVATE tlx_geo)
