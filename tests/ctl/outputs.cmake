zirv_add_test(NAME test_ctl_outputs SOURCES ${CMAKE_CURRENT_LIST_DIR}/outputs_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${CMAKE_CURRENT_LIST_DIR}/simboard.h ${PROJECT_SOURCE_DIR}/tests/filelimits.h
  LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
# A file-size limit is tested on the program itself, which must not be ended by SIGXFSZ.
target_compile_definitions(test_ctl_outputs PRIVATE ZIRV_CTL_PROGRAM="$<TARGET_FILE:zirv7ctl>")
add_dependencies(test_ctl_outputs zirv7ctl)
