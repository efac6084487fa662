zirv_add_bench(AREA sim SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_bench.cpp LIBS zirv_sim WITHOUT_QT)
target_include_directories(bench_sim PRIVATE ${PROJECT_SOURCE_DIR}/tests/sim)
