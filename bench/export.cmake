# kesprep-bench-export: times the whole automatic preparation (gather, select
# all, stage, write) over a large generated period, in the Fixed and Comma
# layouts (not a test; run it by hand from a Release or RelWithDebInfo build).
add_executable(kesprep-bench-export ${CMAKE_CURRENT_SOURCE_DIR}/export.cpp)
target_link_libraries(kesprep-bench-export PRIVATE kes_prep_core kes_export_core)
target_compile_definitions(kesprep-bench-export PRIVATE
  KES_GENDATA="$<TARGET_FILE:kesprep-gendata>"
  KES_BENCH_DIR="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(kesprep-bench-export kesprep-gendata)
