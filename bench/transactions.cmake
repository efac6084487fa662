zirv_add_bench(AREA transactions
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transactions_bench.cpp
  LIBS zirv_protocol zirv_sim Qt6::Core)
