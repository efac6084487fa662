zirv_add_test(NAME test_ctl_steprules SOURCES ${CMAKE_CURRENT_LIST_DIR}/steprules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${CMAKE_CURRENT_LIST_DIR}/simboard.h
  LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
