# The log pane, its view, text store, kept layouts and time stamps; from the static user-interface
# library only these objects are linked in.
zirv_add_test(NAME test_timestamp
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/timestamp_test.cpp LIBS zirv_ui Qt6::Test)
zirv_add_test(NAME test_logtext
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logtext_test.cpp LIBS zirv_ui GTest::gtest_main)
zirv_add_test(NAME test_loglayouts
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/loglayouts_test.cpp LIBS zirv_ui GTest::gtest_main)
zirv_add_test(NAME test_logview
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logview_test.cpp LIBS zirv_ui Qt6::Test)
zirv_add_test(NAME test_logpane
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logpane_test.cpp LIBS zirv_ui Qt6::Test TIMEOUT 120)
zirv_add_test(NAME test_logaccessible
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/logaccessible_test.cpp LIBS zirv_ui Qt6::Test)
