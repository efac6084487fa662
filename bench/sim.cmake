zirv_add_bench(AREA sim SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_bench.cpp LIBS zirv_sim)
