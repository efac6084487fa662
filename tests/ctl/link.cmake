zirv_add_test(NAME test_ctl_link SOURCES ${CMAKE_CURRENT_LIST_DIR}/link_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${PROJECT_SOURCE_DIR}/tests/devices/fakeroot.h
  LIBS zirv_ctl zirv_sim GTest::gtest_main TIMEOUT 60)
