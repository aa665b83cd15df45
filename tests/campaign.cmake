# The mutation campaign: kesprep-batch on damaged copies of a demo data folder,
# each outcome sorted. CTest runs it for a short while on a small folder that
# kesprep-gendata writes; a longer run is `kesprep-mutate --data DIR --runs N`.
add_executable(kesprep-mutate ${CMAKE_CURRENT_SOURCE_DIR}/campaign/Mutate.cpp)
target_include_directories(kesprep-mutate PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(kesprep-mutate PRIVATE kes_os)
target_compile_definitions(kesprep-mutate PRIVATE KES_BATCH_PROGRAM="$<TARGET_FILE:kesprep-batch>")
add_dependencies(kesprep-mutate kesprep-batch)

set(KES_CAMPAIGN_DATA ${CMAKE_CURRENT_BINARY_DIR}/campaign-demo/VIRN)
add_test(NAME mutation_campaign_data
         COMMAND kesprep-gendata --out ${KES_CAMPAIGN_DATA} --periods 1 --records 300 --students 80
                 --seed 1 --with-code-tables)
set_tests_properties(mutation_campaign_data PROPERTIES FIXTURES_SETUP campaign_data
                                                       LABELS mutation_campaign)
add_test(NAME mutation_campaign
         COMMAND kesprep-mutate --data ${KES_CAMPAIGN_DATA} --seconds 45 --runs 100000 --seed 23)
set_tests_properties(mutation_campaign PROPERTIES FIXTURES_REQUIRED campaign_data TIMEOUT 300
                                                  LABELS mutation_campaign)
