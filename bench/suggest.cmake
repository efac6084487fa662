zirv_add_bench(AREA suggest SOURCES ${CMAKE_CURRENT_LIST_DIR}/suggest_bench.cpp
  LIBS zirv_ctl zirv_runstore zirv_tuning zirv_sim)
