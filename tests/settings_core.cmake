# Tests of the code tables and their backup (settings/core, no Qt).
file(GLOB KES_SETTINGS_CORE_TEST_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/settings_core/*.cpp)
if(KES_SETTINGS_CORE_TEST_SOURCES)
  kes_add_test_program(settings_core_tests "${KES_SETTINGS_CORE_TEST_SOURCES}" kes_settings_core)
  target_compile_definitions(settings_core_tests PRIVATE
                             KES_LOCK_HOLDER="$<TARGET_FILE:kes_lock_holder>")
  add_dependencies(settings_core_tests kes_lock_holder)
endif()
