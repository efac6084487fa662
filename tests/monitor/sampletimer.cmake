zirv_add_test(NAME test_sampletimer SOURCES ${CMAKE_CURRENT_LIST_DIR}/sampletimer_test.cpp
  LIBS zirv_monitor Qt6::Test TIMEOUT 120)
