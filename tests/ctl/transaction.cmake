zirv_add_test(NAME test_ctl_transaction SOURCES ${CMAKE_CURRENT_LIST_DIR}/transaction_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${CMAKE_CURRENT_LIST_DIR}/simboard.h
  LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 240)
# The program itself runs under a pseudo-terminal, with closed or limited output.
target_compile_definitions(test_ctl_transaction PRIVATE ZIRV_CTL_PROGRAM="$<TARGET_FILE:zirv7ctl>")
add_dependencies(test_ctl_transaction zirv7ctl)
