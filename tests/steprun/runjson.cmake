zirv_add_test(NAME test_steprun_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/runjson_test.cpp
  LIBS zirv_steprun GTest::gtest_main TIMEOUT 60)
