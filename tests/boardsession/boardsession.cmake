# The board session against the simulated board: checked writes, put-back and its retries.
zirv_add_test(NAME test_boardsession SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_test.cpp
  LIBS zirv_boardsession zirv_sim zirv_test_guimain TIMEOUT 60)
