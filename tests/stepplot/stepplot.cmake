zirv_add_test(NAME test_stepplot SOURCES ${CMAKE_CURRENT_LIST_DIR}/stepplot_test.cpp
  LIBS zirv_stepplot GTest::gtest TIMEOUT 60)
