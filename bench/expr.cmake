add_executable(kesprep-bench-expr ${CMAKE_CURRENT_LIST_DIR}/expr.cpp)
target_link_libraries(kesprep-bench-expr PRIVATE kes_data)
