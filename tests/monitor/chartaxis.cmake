zirv_add_test(NAME test_chartaxis SOURCES ${CMAKE_CURRENT_LIST_DIR}/chartaxis_test.cpp
  LIBS zirv_monitor GTest::gtest_main)
