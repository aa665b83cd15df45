# Tests of the application shell's UI-free core (settings file, state).
file(GLOB KES_APP_CORE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/app_core/*.cpp)
if(KES_APP_CORE_TEST_SOURCES)
  kes_add_test_program(app_core_tests "${KES_APP_CORE_TEST_SOURCES}" kes_app_core)
endif()
