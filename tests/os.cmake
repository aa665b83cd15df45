# The OS layer, and a second process that tries locks.
file(GLOB KES_OS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/os/*.cpp)
if(KES_OS_TEST_SOURCES)
  add_executable(kes_lock_probe ${CMAKE_CURRENT_SOURCE_DIR}/os/helper/LockProbe.cpp)
  target_link_libraries(kes_lock_probe PRIVATE kes_os)
  kes_add_test_program(os_tests "${KES_OS_TEST_SOURCES}" kes_os)
  # The probe lies beside the test program, where the test looks for it.
  target_compile_definitions(os_tests PRIVATE
      KES_LOCK_PROBE_NAME="$<TARGET_FILE_NAME:kes_lock_probe>")
  add_dependencies(os_tests kes_lock_probe)
endif()
