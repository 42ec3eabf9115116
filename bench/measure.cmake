# Per-picture measurement against a plain scalar loop.
add_executable(bench_measure ${CMAKE_CURRENT_LIST_DIR}/bench_measure.cpp)
target_link_libraries(bench_measure PRIVATE reelmeter_testsupport benchmark::benchmark)
