zirv_add_test(NAME test_ctl_steps SOURCES ${CMAKE_CURRENT_LIST_DIR}/steps_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
# The journal is tested across a kill of the program itself.
target_compile_definitions(test_ctl_steps PRIVATE ZIRV_CTL_PROGRAM="$<TARGET_FILE:zirv7ctl>")
add_dependencies(test_ctl_steps zirv7ctl)
