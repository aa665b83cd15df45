# The main window, the single-instance guard and the kesprep program.

# The period list of app/core opens the period tables.
target_link_libraries(kes_app_core PUBLIC kes_data)

if(KES_BUILD_GUI)
  add_library(kes_app_gui STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/KesPrepu.cpp ${CMAKE_CURRENT_SOURCE_DIR}/KesPrepu.h
    ${CMAKE_CURRENT_SOURCE_DIR}/Historyu.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Historyu.h
    ${CMAKE_CURRENT_SOURCE_DIR}/glrunone.cpp ${CMAKE_CURRENT_SOURCE_DIR}/glrunone.h)
  target_include_directories(kes_app_gui PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(kes_app_gui PUBLIC kes_prep_gui kes_settings_gui kes_ui kes_app_core kes_data Qt6::Widgets
                                           Qt6::Network)

  add_executable(kesprep ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  target_link_libraries(kesprep PRIVATE kes_app_gui)
  # A window program on Windows: no console window opens beside it.
  set_target_properties(kesprep PROPERTIES WIN32_EXECUTABLE TRUE)
  kes_add_windows_resource(kesprep "Prepare ORVA Upload File for Kestal")
  install(TARGETS kesprep RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
