# The preparation core: work table and gathering, and the demo data generator
# whose output the gathering must read.
file(GLOB KES_PREP_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/prep/*.cpp)
if(KES_PREP_TEST_SOURCES)
  kes_add_test_program(prep_tests "${KES_PREP_TEST_SOURCES}" kes_prep_core)
  add_dependencies(prep_tests kesprep-gendata)
  target_compile_definitions(prep_tests PRIVATE KES_GENDATA="$<TARGET_FILE:kesprep-gendata>")
endif()

# The automatic preparation window, offscreen.
file(GLOB KES_PREP_GUI_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/prep/gui/*.cpp)
if(KES_BUILD_GUI AND KES_PREP_GUI_TEST_SOURCES)
  kes_add_test_program(prep_gui_tests "${KES_PREP_GUI_TEST_SOURCES}" "kes_prep_gui;Qt6::Test")
  target_compile_definitions(prep_gui_tests PRIVATE
                             KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>"
                             KES_LOCK_HOLDER="$<TARGET_FILE:kes_lock_holder>")
  add_dependencies(prep_gui_tests kesprep-batch kes_lock_holder)
endif()
