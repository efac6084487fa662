# The one form of a COM name, and that the tool and the simulator both keep to it.
zirv_add_test(NAME test_portname SOURCES ${CMAKE_CURRENT_LIST_DIR}/portname_test.cpp
  LIBS zirv_portname zirv_devices zirv_sim GTest::gtest_main TIMEOUT 30)
