zirv_add_test(NAME test_ctl_command SOURCES ${CMAKE_CURRENT_LIST_DIR}/command_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h LIBS zirv_ctl GTest::gtest_main TIMEOUT 60)
