# The number text tests once more in a program that runs under a German locale
# with a Qt application object alive (tests/locale/locale_test.cpp).
if(KES_BUILD_GUI)
  add_executable(number_locale_tests ${CMAKE_CURRENT_SOURCE_DIR}/engine/number/number_test.cpp
                                     ${CMAKE_CURRENT_SOURCE_DIR}/locale/locale_test.cpp)
  target_link_libraries(number_locale_tests PRIVATE kes_data kes_test_support Qt6::Widgets
                                                    GTest::gtest)
  target_include_directories(number_locale_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_definitions(number_locale_tests PRIVATE KES_TEST_LOCALE="de_DE.UTF-8")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME number_locale_tests COMMAND number_locale_tests)
  else()
    gtest_discover_tests(number_locale_tests TEST_PREFIX "de_DE." DISCOVERY_TIMEOUT 120
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endif()
