# The manual pages' converter and the pages made from the programs' help (a shell test).
add_test(NAME test_man_pages
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/man_test.sh ${PROJECT_SOURCE_DIR}/man
          ${PROJECT_BINARY_DIR}/man $<TARGET_FILE:zirv7ctl> $<TARGET_FILE:zirv7-sim>)
set_tests_properties(test_man_pages PROPERTIES TIMEOUT 60)
