zirv_add_test(NAME test_tracerender SOURCES ${CMAKE_CURRENT_LIST_DIR}/tracerender_test.cpp
  LIBS zirv_monitor Qt6::Test)
