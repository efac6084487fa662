zirv_add_test(NAME test_tuning SOURCES ${CMAKE_CURRENT_LIST_DIR}/loopmodel_test.cpp ${CMAKE_CURRENT_LIST_DIR}/identify_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/suggest_test.cpp ${CMAKE_CURRENT_LIST_DIR}/looplaw_test.cpp ${CMAKE_CURRENT_LIST_DIR}/verdict_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/boardrun.h LIBS zirv_tuning zirv_sim GTest::gtest_main TIMEOUT 120)
zirv_add_test(NAME test_tuning_machines SOURCES ${CMAKE_CURRENT_LIST_DIR}/machines_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/boardrun.h LIBS zirv_tuning zirv_sim GTest::gtest_main TIMEOUT 240)
