zirv_add_test(NAME test_paramfile
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/paramfile_test.cpp
  LIBS zirv_parameters Qt6::Test)
