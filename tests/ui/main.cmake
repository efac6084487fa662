# The main window as a whole against the simulated board.
zirv_add_test(NAME test_main_window
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mainfixture.h
    ${CMAKE_CURRENT_LIST_DIR}/linestate.cpp ${CMAKE_CURRENT_LIST_DIR}/linestate.h
  LIBS zirv_ui zirv_sim Qt6::Test TIMEOUT 300)
zirv_add_test(NAME test_main_window_rules
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_rules_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mainfixture.h
  LIBS zirv_ui zirv_sim Qt6::Test TIMEOUT 300)
# Keyboard access to the File menu while an entry field is being typed in.
zirv_add_test(NAME test_main_menukeys
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_menukeys_test.cpp ${CMAKE_CURRENT_LIST_DIR}/mainfixture.h
  LIBS zirv_ui zirv_sim Qt6::Test TIMEOUT 120)
