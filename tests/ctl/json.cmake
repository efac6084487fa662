# One number rule over every command's JSON.
zirv_add_test(NAME test_ctl_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/json_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${CMAKE_CURRENT_LIST_DIR}/simboard.h
  LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
