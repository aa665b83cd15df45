# Tests of the application shell's UI-free core (settings file, state, the
# preparation and its history, also as kesprep-batch writes it).
file(GLOB KES_APP_CORE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app_core/*.cpp)
if(KES_APP_CORE_TEST_SOURCES)
  kes_add_test_program(app_core_tests "${KES_APP_CORE_TEST_SOURCES}" kes_app_core)
  target_compile_definitions(app_core_tests PRIVATE
                             KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>"
                             KES_LOCK_HOLDER="$<TARGET_FILE:kes_lock_holder>"
                             KES_TEST_INSTALLED_BINDIR="${CMAKE_INSTALL_FULL_BINDIR}")
  add_dependencies(app_core_tests kesprep-batch kes_lock_holder)
endif()
