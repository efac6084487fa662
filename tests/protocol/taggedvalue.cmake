zirv_add_test(NAME test_taggedvalue
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/taggedvalue_test.cpp
  LIBS zirv_protocol Qt6::Core GTest::gtest_main)
zirv_add_test(NAME test_stepanswer
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stepanswer_test.cpp
  LIBS zirv_protocol Qt6::Core GTest::gtest_main)
