zirv_add_test(NAME test_paramfile
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/paramfile_test.cpp ${PROJECT_SOURCE_DIR}/tests/filelimits.h
  LIBS zirv_parameters Qt6::Test)
target_include_directories(test_paramfile PRIVATE ${PROJECT_SOURCE_DIR})
