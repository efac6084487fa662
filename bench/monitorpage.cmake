# The "RT Monitor" page end to end: status samples and step tests through the whole window.
zirv_add_bench(AREA monitorpage SOURCES ${CMAKE_CURRENT_LIST_DIR}/monitorpage_bench.cpp
  LIBS zirv_ui zirv_sim Qt6::Test)
target_include_directories(bench_monitorpage PRIVATE ${PROJECT_SOURCE_DIR}/tests/ui)
