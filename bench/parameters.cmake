zirv_add_bench(AREA parameters
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/parameters_bench.cpp
  LIBS zirv_protocol zirv_parameters)
