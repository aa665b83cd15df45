# Export: TCSVExport, the upload file writer, the progress texts and kesprep-batch
# (Qt-free), and the progress window (Qt).
file(GLOB KES_EXPORT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/export/*.cpp)
if(KES_EXPORT_TEST_SOURCES)
  kes_add_test_program(export_tests "${KES_EXPORT_TEST_SOURCES}"
                       "kes_export_core;kes_prep_core;kes_app_core")
  target_compile_definitions(export_tests PRIVATE
      KES_EXPORT_GOLDEN="${CMAKE_CURRENT_SOURCE_DIR}/export/golden"
      KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>"
      KES_TEST_PROJECT_VERSION="${PROJECT_VERSION}")
  add_dependencies(export_tests kesprep-batch)
endif()

file(GLOB KES_EXPORT_GUI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/export/gui/*.cpp)
if(KES_BUILD_GUI AND KES_EXPORT_GUI_TEST_SOURCES)
  kes_add_test_program(export_gui_tests "${KES_EXPORT_GUI_TEST_SOURCES}" "kes_export_gui;Qt6::Widgets")
endif()

# The record selection window over a small work table.
file(GLOB KES_SELECTION_TEST_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/export/selection/*.cpp)
if(KES_BUILD_GUI AND KES_SELECTION_TEST_SOURCES)
  kes_add_test_program(export_selection_tests "${KES_SELECTION_TEST_SOURCES}"
                       "kes_export_gui;kes_prep_core;Qt6::Test")
endif()
