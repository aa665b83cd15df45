# Tests of the layer over Qt (tests/ui) and of the application shell
# (tests/app): the main window offscreen, the settings groups, the period list
# and the single-instance guard, the latter also between two real processes.
if(KES_BUILD_GUI)
  file(GLOB KES_UI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/ui/*.cpp)
  kes_add_test_program(ui_tests "${KES_UI_TEST_SOURCES}" "kes_ui;Qt6::Test")

  add_executable(kes_guard_helper ${CMAKE_CURRENT_SOURCE_DIR}/app/helper/GuardHelper.cpp)
  target_link_libraries(kes_guard_helper PRIVATE kes_app_gui)

  file(GLOB KES_APP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app/*.cpp)
  # Qt6::GuiPrivate: the platform's window-title rule (qpa/qplatformwindow.h).
  kes_add_test_program(app_tests "${KES_APP_TEST_SOURCES}" "kes_app_gui;Qt6::Test;Qt6::GuiPrivate")
  target_compile_definitions(app_tests PRIVATE
                             KES_GUARD_HELPER="$<TARGET_FILE:kes_guard_helper>"
                             KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>")
  add_dependencies(app_tests kes_guard_helper kesprep-batch)
endif()
