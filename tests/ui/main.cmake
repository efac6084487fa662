# The window suites' shared fixture, compiled once: its meta-object code would otherwise be
# compiled again in every suite.
add_library(zirv_test_mainfixture STATIC ${CMAKE_CURRENT_LIST_DIR}/mainfixture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mainfixture.h)
target_link_libraries(zirv_test_mainfixture PUBLIC zirv_ui zirv_sim Qt6::Test)
target_include_directories(zirv_test_mainfixture PUBLIC ${CMAKE_CURRENT_LIST_DIR})
zirv_test_compile(zirv_test_mainfixture)

# The main window as a whole against the simulated board. COST: the seconds each takes, so that
# CTest starts these long tests first.
zirv_add_test(NAME test_main_window
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/linestate.cpp ${CMAKE_CURRENT_LIST_DIR}/linestate.h
  LIBS zirv_test_mainfixture TIMEOUT 300 COST 17)
# One program, two suites run side by side: the failure rules wait out error boxes, the others
# wait out the board's time-outs.
zirv_add_test(NAME test_main_window_rules
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_rules_test.cpp
  LIBS zirv_test_mainfixture ARGS TMainWindowRulesTest TIMEOUT 300 COST 21)
zirv_add_test_run(NAME test_main_window_failures PROGRAM test_main_window_rules
  ARGS TMainWindowFailuresTest TIMEOUT 300 COST 18)
# Keyboard access to the File menu while an entry field is being typed in.
zirv_add_test(NAME test_main_menukeys
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_menukeys_test.cpp
  LIBS zirv_test_mainfixture TIMEOUT 120)
# Step tests as long as a board in real time needs, in the window and the companion: each row
# waits out the board's own seconds.
zirv_add_test(NAME test_long_steps
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/longsteps_test.cpp
  LIBS zirv_test_mainfixture zirv_ctl TIMEOUT 180 COST 20 LABELS long)
