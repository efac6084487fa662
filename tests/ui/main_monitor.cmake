# The "RT Monitor" page driven through the whole window against the simulated board.
zirv_add_test(NAME test_main_monitor
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_monitor_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mainfixture.h
  LIBS zirv_ui zirv_sim Qt6::Test TIMEOUT 300)
