zirv_add_test(NAME test_sim SOURCES ${CMAKE_CURRENT_LIST_DIR}/simulator_test.cpp
  LIBS zirv_sim GTest::gtest_main TIMEOUT 120)
