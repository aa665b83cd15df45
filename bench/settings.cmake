# kesprep-bench-settings: the settings dialog's Build buttons over a large
# generated period, offscreen (not a test; run it by hand from a Release build).
if(KES_BUILD_GUI)
  add_executable(kesprep-bench-settings ${CMAKE_CURRENT_SOURCE_DIR}/settings.cpp)
  target_link_libraries(kesprep-bench-settings PRIVATE kes_settings_gui)
  target_compile_definitions(kesprep-bench-settings PRIVATE
    KES_GENDATA="$<TARGET_FILE:kesprep-gendata>"
    KES_BENCH_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  add_dependencies(kesprep-bench-settings kesprep-gendata)
endif()
