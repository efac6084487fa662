zirv_add_bench(AREA chart SOURCES ${CMAKE_CURRENT_LIST_DIR}/chart_bench.cpp LIBS zirv_monitor)
