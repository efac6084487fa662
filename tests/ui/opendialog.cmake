# The open dialog for parameter files, alone and behind "&Open Parameters".
zirv_add_test(NAME test_opendialog
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/opendialog_test.cpp LIBS zirv_ui Qt6::Test TIMEOUT 120)
