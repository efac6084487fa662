zirv_add_test(NAME test_stepfigures SOURCES ${CMAKE_CURRENT_LIST_DIR}/stepfigures_test.cpp
  LIBS zirv_stepfigures GTest::gtest_main TIMEOUT 60)
