# Replays every input that ever made a fuzz target fail (tests/data/fuzz/<target>/)
# and the seeds, through the same functions the libFuzzer programs call.
file(GLOB KES_FUZZ_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*.cpp)
if(KES_FUZZ_TEST_SOURCES)
  kes_add_test_program(fuzz_regression_tests "${KES_FUZZ_TEST_SOURCES}" kes_fuzz_targets)
  target_compile_definitions(fuzz_regression_tests PRIVATE KES_FUZZ_SEEDS="${PROJECT_SOURCE_DIR}/fuzz/seeds")
endif()
