# File > Export... on a video the window has run: written from the window's
# measurements, or read again. Run offscreen by hand.
add_executable(bench_export ${CMAKE_CURRENT_LIST_DIR}/bench_export.cpp)
target_link_libraries(bench_export PRIVATE reelmeter_window)
