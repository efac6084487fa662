zirv_add_test(NAME test_outputfile SOURCES ${CMAKE_CURRENT_LIST_DIR}/outputfile_test.cpp
  LIBS zirv_outputfile GTest::gtest_main TIMEOUT 60)
