zirv_add_test(NAME test_runstore SOURCES ${CMAKE_CURRENT_LIST_DIR}/runstore_test.cpp
  LIBS zirv_runstore GTest::gtest TIMEOUT 60)
