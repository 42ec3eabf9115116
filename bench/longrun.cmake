# A 30,000-picture run through the window offscreen: peak memory, memory per
# picture and the tick cost early and late. Needs the test media helper, which
# is built with the tests.
if(REELMETER_BUILD_TESTS)
  add_executable(bench_longrun ${CMAKE_CURRENT_LIST_DIR}/bench_longrun.cpp)
  target_link_libraries(bench_longrun PRIVATE reelmeter_window reelmeter_testsupport)
else()
  message(STATUS "bench_longrun needs the tests' media helper: not built without the tests")
endif()
