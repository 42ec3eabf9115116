# Strip append and display image at short and feature-film lengths.
add_executable(bench_strips ${CMAKE_CURRENT_LIST_DIR}/bench_strips.cpp)
target_link_libraries(bench_strips PRIVATE reelmeter_testsupport benchmark::benchmark)
