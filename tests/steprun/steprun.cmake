# One step-response run: its amplitude, sample period, JSON and CSV.
zirv_add_test(NAME test_steprun SOURCES ${CMAKE_CURRENT_LIST_DIR}/steprun_test.cpp
  LIBS zirv_steprun GTest::gtest_main TIMEOUT 30)
