zirv_add_test(NAME test_transactions
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transactions_test.cpp
  LIBS zirv_protocol zirv_sim Qt6::Test TIMEOUT 300 COST 7)
