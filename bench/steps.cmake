zirv_add_bench(AREA steps
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/steps_bench.cpp
  LIBS zirv_runstore zirv_stepfigures Qt6::Core)
