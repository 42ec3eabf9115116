# reelmeter-batch against FFmpeg's own decoding: a script, run by hand or with
# `cmake --build BUILD --target bench_batch`.
add_custom_target(bench_batch
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/batch-vs-ffmpeg --batch $<TARGET_FILE:reelmeter-batch>
  DEPENDS reelmeter-batch
  USES_TERMINAL)
