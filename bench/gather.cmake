# kesprep-bench-gather: times the gathering over a large generated period
# (not a test; run it by hand from a Release or RelWithDebInfo build).
add_executable(kesprep-bench-gather ${CMAKE_CURRENT_SOURCE_DIR}/gather.cpp)
target_link_libraries(kesprep-bench-gather PRIVATE kes_prep_core)
target_compile_definitions(kesprep-bench-gather PRIVATE
  KES_GENDATA="$<TARGET_FILE:kesprep-gendata>"
  KES_BENCH_DIR="${CMAKE_CURRENT_BINARY_DIR}")
add_dependencies(kesprep-bench-gather kesprep-gendata)
