zirv_add_test(NAME test_serial
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_test.cpp ${CMAKE_CURRENT_LIST_DIR}/ptypeer.h
    ${CMAKE_CURRENT_LIST_DIR}/threadstats.h ${CMAKE_CURRENT_LIST_DIR}/errorof.h
  LIBS zirv_serial Qt6::Test
  TIMEOUT 120 COST 8)
zirv_add_test(NAME test_comsettings
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/comsettings_test.cpp ${CMAKE_CURRENT_LIST_DIR}/ptypeer.h
    ${CMAKE_CURRENT_LIST_DIR}/errorof.h
  LIBS zirv_serial Qt6::Test
  TIMEOUT 120)
zirv_add_test(NAME test_comrules SOURCES ${CMAKE_CURRENT_LIST_DIR}/comrules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rxhandoff_test.cpp
  LIBS zirv_serial GTest::gtest_main TIMEOUT 60)
