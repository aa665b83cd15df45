# kesprep-batch on damaged copies of the sample data: it fails, or it writes
# exactly the file of the undamaged folder.
file(GLOB KES_DAMAGE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/damage/*.cpp)
if(KES_DAMAGE_TEST_SOURCES)
  kes_add_test_program(damage_tests "${KES_DAMAGE_TEST_SOURCES}" kes_common)
  target_compile_definitions(damage_tests PRIVATE KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>")
  add_dependencies(damage_tests kesprep-batch)
endif()
