# Every point where a preparation or a code-table edit changes the disk,
# failed in turn through the OS layer's fault injection.
file(GLOB KES_FAULT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/faults/*.cpp)
if(KES_FAULT_TEST_SOURCES)
  kes_add_test_program(write_fault_tests "${KES_FAULT_TEST_SOURCES}" "kes_app_core;kes_settings_core")
endif()
