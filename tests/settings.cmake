# The settings dialog and its invocation from the main window, driven
# offscreen; every message box and the directory dialog answered by the test.
if(KES_BUILD_GUI)
  file(GLOB KES_SETTINGS_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/settings/*.cpp)
  if(KES_SETTINGS_TEST_SOURCES)
    kes_add_test_program(settings_tests "${KES_SETTINGS_TEST_SOURCES}" "kes_app_gui;Qt6::Test")
    # A preparation in another process beside the open dialog.
    target_compile_definitions(settings_tests PRIVATE
                               KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>"
                               KES_LOCK_HOLDER="$<TARGET_FILE:kes_lock_holder>")
    add_dependencies(settings_tests kesprep-batch kes_lock_holder)
  endif()
endif()
