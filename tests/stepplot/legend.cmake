zirv_add_test(NAME test_stepplot_legend SOURCES ${CMAKE_CURRENT_LIST_DIR}/legend_test.cpp
  LIBS zirv_stepplot zirv_test_guimain TIMEOUT 60)
