zirv_add_test(NAME test_chart SOURCES ${CMAKE_CURRENT_LIST_DIR}/chart_test.cpp
  LIBS zirv_monitor Qt6::Test TIMEOUT 60)
