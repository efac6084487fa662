# The board session's write transaction against the simulated board: checked writes, trials,
# the journal, put-back and its retries.
zirv_add_test(NAME test_boardsession SOURCES ${CMAKE_CURRENT_LIST_DIR}/transaction_test.cpp
  LIBS zirv_boardsession zirv_sim zirv_test_guimain TIMEOUT 60)
