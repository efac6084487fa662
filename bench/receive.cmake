zirv_add_bench(AREA receive
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/receive_bench.cpp
  LIBS zirv_serial Qt6::Core)
target_include_directories(bench_receive PRIVATE ${PROJECT_SOURCE_DIR}/tests/serial)
