zirv_add_bench(AREA transactions
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transactions_bench.cpp
  LIBS zirv_protocol zirv_sim Qt6::Core)
target_include_directories(bench_transactions PRIVATE ${PROJECT_SOURCE_DIR}/tests/serial)
