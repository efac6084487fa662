zirv_add_test(NAME test_stepplot SOURCES ${CMAKE_CURRENT_LIST_DIR}/stepplot_test.cpp
  LIBS zirv_stepplot zirv_test_guimain TIMEOUT 60)
