# The "Parameters" page and parameter files, through the whole window against the simulated board.
zirv_add_test(NAME test_main_parameters
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_parameters_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mainfixture.h
  LIBS zirv_ui zirv_sim Qt6::Test TIMEOUT 300)
