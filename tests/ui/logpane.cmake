# The log pane's sources are built in directly: the suites exercise only the pane, its text
# store and its time stamps, not the rest of the user-interface library.
set(_log_dir ${PROJECT_SOURCE_DIR}/src/ui)
set(_log_sources
  ${_log_dir}/logpane.cpp ${_log_dir}/logview.cpp ${_log_dir}/logview_input.cpp
  ${_log_dir}/logtext.cpp ${_log_dir}/timestamp.cpp)

zirv_add_test(NAME test_timestamp
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/timestamp_test.cpp ${_log_dir}/timestamp.cpp
  LIBS Qt6::Core Qt6::Test)
target_include_directories(test_timestamp PRIVATE ${PROJECT_SOURCE_DIR}/src)

zirv_add_test(NAME test_logtext
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logtext_test.cpp ${_log_dir}/logtext.cpp
  LIBS Qt6::Core GTest::gtest_main)
target_include_directories(test_logtext PRIVATE ${PROJECT_SOURCE_DIR}/src)

zirv_add_test(NAME test_logpane
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logpane_test.cpp ${_log_sources}
  LIBS zirv_globals Qt6::Widgets Qt6::Test TIMEOUT 120)
target_include_directories(test_logpane PRIVATE ${PROJECT_SOURCE_DIR}/src)
