# Helpers shared by every folder: where outputs go and how tests are registered.

set(ZIRV_BIN_DIR   ${CMAKE_BINARY_DIR}/bin)
set(ZIRV_TEST_DIR  ${CMAKE_BINARY_DIR}/tests)
set(ZIRV_BENCH_DIR ${CMAKE_BINARY_DIR}/bench)

# zirv_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [ARGS <args...>] [TIMEOUT <s>]
#               [COST <c>] [LABELS <l...>])
# Builds a test executable (Qt Test or GoogleTest, whatever its sources use) and registers it
# with CTest, run with ARGS. Widget tests run on the offscreen platform so they need no display.
# COST is the test's expected run time: CTest starts costly tests first when it has not timed
# them yet, so that a long test does not start last and keep the whole run waiting.
function(zirv_add_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT;COST" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
  target_compile_options(${T_NAME} PRIVATE ${ZIRV_TEST_COMPILE_OPTIONS})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZIRV_TEST_DIR})
  zirv_add_test_run(NAME ${T_NAME} PROGRAM ${T_NAME} ARGS ${T_ARGS} TIMEOUT ${T_TIMEOUT}
    COST ${T_COST} LABELS ${T_LABELS})
endfunction()

# zirv_add_test_run(NAME <test> PROGRAM <test executable> [ARGS <args...>] [TIMEOUT <s>]
#                   [COST <c>] [LABELS <l...>])
# Registers one more CTest test of an executable built by zirv_add_test, run with ARGS: for
# example one suite of a program that holds several, so that they run side by side.
function(zirv_add_test_run)
  cmake_parse_arguments(T "" "NAME;PROGRAM;TIMEOUT;COST" "ARGS;LABELS" ${ARGN})
  add_test(NAME ${T_NAME} COMMAND ${T_PROGRAM} ${T_ARGS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false")
  if(T_COST)
    set_tests_properties(${T_NAME} PROPERTIES COST ${T_COST})
  endif()
  if(T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

# zirv_add_bench(AREA <area> SOURCES <files...> LIBS <targets...>)
# Builds bench/bench_<area>; the default build makes it, CTest does not run it.
function(zirv_add_bench)
  cmake_parse_arguments(B "" "AREA" "SOURCES;LIBS" ${ARGN})
  add_executable(bench_${B_AREA} ${B_SOURCES})
  target_link_libraries(bench_${B_AREA} PRIVATE ${B_LIBS})
  set_target_properties(bench_${B_AREA} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZIRV_BENCH_DIR})
endfunction()

# zirv_subsystem_library(<target> DEPS <targets...>)
# One static library per subsystem folder, made of every .cpp/.h in that folder. Code includes
# headers by folder ("serial/comport.h"), so src/ is the include root of every library.
function(zirv_subsystem_library target)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
    ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(${target} STATIC ${sources})
  # When a file joins or leaves the folder, moc must run again: by itself it would not notice
  # a new Q_OBJECT header in an existing build. Removing its time stamp makes the build redo it.
  set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_sources.txt)
  set(previous "")
  if(EXISTS ${list_file})
    file(READ ${list_file} previous)
  endif()
  if(NOT previous STREQUAL "${sources}")
    file(WRITE ${list_file} "${sources}")
    file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp)
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${L_DEPS})
endfunction()

# Includes every *.cmake fragment of the current folder: each area's tests or benchmarks are
# declared in a fragment of their own so that areas can grow side by side.
macro(zirv_include_fragments)
  file(GLOB _zirv_fragments CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  list(SORT _zirv_fragments)
  foreach(_f IN LISTS _zirv_fragments)
    include(${_f})
  endforeach()
endmacro()
