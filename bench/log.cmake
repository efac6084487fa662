zirv_add_bench(AREA log SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_bench.cpp LIBS zirv_ui)
