zirv_add_test(NAME test_numtext
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/numtext_test.cpp
  LIBS zirv_globals Qt6::Core GTest::gtest_main)
