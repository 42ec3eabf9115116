# readFrame over a 1080p H.264 file against a plain FFmpeg decode-and-convert loop.
add_executable(bench_framesource ${CMAKE_CURRENT_LIST_DIR}/bench_framesource.cpp)
target_link_libraries(bench_framesource PRIVATE reelmeter_core benchmark::benchmark)
