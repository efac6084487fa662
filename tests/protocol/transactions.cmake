zirv_add_test(NAME test_transactions
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/transactions_test.cpp
  LIBS zirv_protocol zirv_sim Qt6::Test TIMEOUT 300 COST 7)
target_include_directories(test_transactions PRIVATE ${PROJECT_SOURCE_DIR}/tests/serial)
