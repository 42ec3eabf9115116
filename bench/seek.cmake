# Seeking a second reader to one picture, near the start and the end of a long
# file (see bench/seek-picture).
add_executable(bench_seek ${CMAKE_CURRENT_LIST_DIR}/bench_seek.cpp)
target_link_libraries(bench_seek PRIVATE reelmeter_core)
