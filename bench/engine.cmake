add_executable(kesprep-bench-engine ${CMAKE_CURRENT_LIST_DIR}/engine.cpp)
target_link_libraries(kesprep-bench-engine PRIVATE kes_data)
