zirv_add_test(NAME test_sim SOURCES ${CMAKE_CURRENT_LIST_DIR}/wire_test.cpp
  LIBS zirv_sim GTest::gtest_main WITHOUT_QT TIMEOUT 120)
zirv_add_test(NAME test_sim_board SOURCES ${CMAKE_CURRENT_LIST_DIR}/board_test.cpp
  LIBS zirv_sim GTest::gtest_main WITHOUT_QT TIMEOUT 60)
zirv_add_test(NAME test_sim_program SOURCES ${CMAKE_CURRENT_LIST_DIR}/program_test.cpp
  LIBS zirv_sim zirv_version GTest::gtest_main WITHOUT_QT TIMEOUT 60)
target_compile_definitions(test_sim_program PRIVATE ZIRV_SIM_PROGRAM="$<TARGET_FILE:zirv7-sim>")
add_dependencies(test_sim_program zirv7-sim)
zirv_add_test(NAME test_sim_plant SOURCES ${CMAKE_CURRENT_LIST_DIR}/plant_test.cpp
  LIBS zirv_sim GTest::gtest_main WITHOUT_QT TIMEOUT 60)
zirv_add_test(NAME test_sim_commandline SOURCES ${CMAKE_CURRENT_LIST_DIR}/commandline_test.cpp
  LIBS zirv_sim GTest::gtest_main WITHOUT_QT TIMEOUT 30)
