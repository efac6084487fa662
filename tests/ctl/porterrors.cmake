zirv_add_test(NAME test_ctl_porterrors SOURCES ${CMAKE_CURRENT_LIST_DIR}/porterrors_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ctlrun.h ${PROJECT_SOURCE_DIR}/tests/devices/fakeroot.h
  ${PROJECT_SOURCE_DIR}/tests/devices/openholder.h
  LIBS zirv_ctl zirv_sim zirv_test_guimain TIMEOUT 120)
target_compile_definitions(test_ctl_porterrors PRIVATE ZIRV_SIM_PROGRAM="$<TARGET_FILE:zirv7-sim>")
add_dependencies(test_ctl_porterrors zirv7-sim)
