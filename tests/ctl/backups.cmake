zirv_add_test(NAME test_ctl_backups SOURCES ${CMAKE_CURRENT_LIST_DIR}/backups_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${CMAKE_CURRENT_LIST_DIR}/simboard.h
  LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
