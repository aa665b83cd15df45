# The report surface and the upload layout report: drawn on a recording page
# (no Qt), and through the preview window, the printer and PDF files (Qt).
file(GLOB KES_REPORT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/report/*.cpp)
if(KES_REPORT_TEST_SOURCES)
  kes_add_test_program(report_tests "${KES_REPORT_TEST_SOURCES}"
                       "kes_settings_core;kes_export_core;kes_prep_core")
endif()

file(GLOB KES_REPORT_GUI_TEST_SOURCES CONFIGURE_DEPENDS
     ${CMAKE_CURRENT_SOURCE_DIR}/report/gui/*.cpp)
if(KES_BUILD_GUI AND KES_REPORT_GUI_TEST_SOURCES)
  kes_add_test_program(report_gui_tests "${KES_REPORT_GUI_TEST_SOURCES}"
                       "kes_settings_gui;Qt6::Test")
endif()

# kesprep-batch --layout-report writes the report as a PDF file.
if(TARGET report_tests)
  target_compile_definitions(report_tests PRIVATE KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>")
  add_dependencies(report_tests kesprep-batch)
endif()

# The tests read the PDF files back with poppler's pdftotext. A build for
# Windows runs its tests under Wine, which starts the build machine's own
# program through its drive Z:.
find_program(KES_PDFTOTEXT_PROGRAM pdftotext)
if(KES_PDFTOTEXT_PROGRAM)
  set(pdftotext "${KES_PDFTOTEXT_PROGRAM}")
  if(CMAKE_CROSSCOMPILING AND WIN32)
    string(REPLACE "/" "\\\\" pdftotext "Z:${pdftotext}")
  endif()
  foreach(program report_tests report_gui_tests)
    if(TARGET ${program})
      target_compile_definitions(${program} PRIVATE KES_PDFTOTEXT="${pdftotext}")
    endif()
  endforeach()
endif()
