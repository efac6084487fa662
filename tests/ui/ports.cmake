# The port selector and the explained port failures, against a fake device root.
zirv_add_test(NAME test_ui_ports
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ports_test.cpp ${PROJECT_SOURCE_DIR}/tests/devices/fakeroot.h
    ${PROJECT_SOURCE_DIR}/tests/devices/openholder.h
  LIBS zirv_ui zirv_sim zirv_ctl Qt6::Test TIMEOUT 120)
