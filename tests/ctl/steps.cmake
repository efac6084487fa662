zirv_add_test(NAME test_ctl_steps SOURCES ${CMAKE_CURRENT_LIST_DIR}/steps_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
