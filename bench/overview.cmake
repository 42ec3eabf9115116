# The film overview of a long video through the window, offscreen: time from
# the start to a complete overview (see bench/overview).
add_executable(bench_overview ${CMAKE_CURRENT_LIST_DIR}/bench_overview.cpp)
target_link_libraries(bench_overview PRIVATE reelmeter_window)
