zirv_add_test(NAME test_ctl_runtable SOURCES ${CMAKE_CURRENT_LIST_DIR}/runtable_test.cpp
  LIBS zirv_ctl GTest::gtest_main TIMEOUT 60)
