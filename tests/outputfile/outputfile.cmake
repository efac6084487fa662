zirv_add_test(NAME test_outputfile
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/outputfile_test.cpp ${PROJECT_SOURCE_DIR}/tests/filelimits.h
  LIBS zirv_outputfile GTest::gtest_main TIMEOUT 60)
target_include_directories(test_outputfile PRIVATE ${PROJECT_SOURCE_DIR})
