# kesprep-batch: the automatic preparation from the command line, for schedulers.
add_executable(kesprep-batch ${CMAKE_CURRENT_SOURCE_DIR}/kesprep_batch.cpp)
target_link_libraries(kesprep-batch PRIVATE kes_app_core kes_prep_core kes_export_core
                                            kes_settings_core)
kes_add_windows_resource(kesprep-batch "KesPrep unattended preparation of the Kestal upload file")
install(TARGETS kesprep-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
