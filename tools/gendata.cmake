# kesprep-gendata: a testing-system data directory of any size, for
# demonstrations and benchmarks.
add_executable(kesprep-gendata ${CMAKE_CURRENT_SOURCE_DIR}/gendata.cpp)
target_link_libraries(kesprep-gendata PRIVATE kes_data)
