zirv_add_test(NAME test_spineditrules
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/spineditrules_test.cpp
  LIBS zirv_ui GTest::gtest_main)
zirv_add_test(NAME test_spinedit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/spinedit_test.cpp
  LIBS zirv_ui Qt6::Test TIMEOUT 120)
