zirv_add_test(NAME test_ctl_ports SOURCES ${CMAKE_CURRENT_LIST_DIR}/ports_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${PROJECT_SOURCE_DIR}/tests/devices/fakeroot.h
  LIBS zirv_ctl GTest::gtest_main TIMEOUT 60)
