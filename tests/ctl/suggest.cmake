zirv_add_test(NAME test_ctl_suggest SOURCES ${CMAKE_CURRENT_LIST_DIR}/suggest_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
