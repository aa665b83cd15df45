# kesprep-bench-selection: the record selection window over a large gathered
# work table, offscreen (not a test; run it by hand from a Release build).
if(KES_BUILD_GUI)
  add_executable(kesprep-bench-selection ${CMAKE_CURRENT_SOURCE_DIR}/selection.cpp)
  target_link_libraries(kesprep-bench-selection PRIVATE kes_export_gui kes_prep_core Qt6::Test)
  target_compile_definitions(kesprep-bench-selection PRIVATE
    KES_GENDATA="$<TARGET_FILE:kesprep-gendata>"
    KES_BENCH_DIR="${CMAKE_CURRENT_BINARY_DIR}")
  add_dependencies(kesprep-bench-selection kesprep-gendata)
endif()
