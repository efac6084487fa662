zirv_add_test(NAME test_serial
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serial_test.cpp ${CMAKE_CURRENT_LIST_DIR}/ptypeer.h
    ${CMAKE_CURRENT_LIST_DIR}/portchannel.h
  LIBS zirv_serial Qt6::Test
  TIMEOUT 120 COST 8)
