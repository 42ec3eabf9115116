# A whole run through the window, offscreen, on a generated 1280x720 H.264 video.
add_executable(bench_tickpace ${CMAKE_CURRENT_LIST_DIR}/bench_tickpace.cpp)
target_link_libraries(bench_tickpace PRIVATE reelmeter_window)
