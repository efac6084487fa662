zirv_add_bench(AREA spinedit
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/spinedit_bench.cpp
  LIBS zirv_ui)
