zirv_add_test(NAME test_paramtable
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/paramtable_test.cpp
  LIBS zirv_parameters Qt6::Test)
