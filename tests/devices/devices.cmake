# Finding, naming and explaining serial devices, against fake device roots.
zirv_add_test(NAME test_devices
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/devices_test.cpp ${CMAKE_CURRENT_LIST_DIR}/fakeroot.h
  LIBS zirv_devices GTest::gtest_main TIMEOUT 60)
target_include_directories(test_devices PRIVATE ${PROJECT_SOURCE_DIR})
