# No library includes a header of a library it does not link. The libraries' link graph is
# written at generation: a line per library with its folder, its target and what it links.
set(zirv_link_graph "")
file(GLOB zirv_src_folders LIST_DIRECTORIES true RELATIVE ${PROJECT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/src/*)
foreach(folder IN LISTS zirv_src_folders ITEMS ctl sim)
  cmake_path(GET folder FILENAME name)
  if(TARGET zirv_${name})
    string(APPEND zirv_link_graph
      "${folder} zirv_${name} $<JOIN:$<TARGET_PROPERTY:zirv_${name},LINK_LIBRARIES>, >\n")
  endif()
endforeach()
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/linkgraph.txt CONTENT "${zirv_link_graph}")

add_test(NAME test_includes COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/includes_test.sh
  ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/linkgraph.txt)
add_test(NAME test_includes_check COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/includes_test.sh --self-test)
set_tests_properties(test_includes test_includes_check PROPERTIES TIMEOUT 60)
