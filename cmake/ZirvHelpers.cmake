# Helpers shared by every folder: how libraries, programs, tests and benchmarks are made, where
# their outputs go, and which of the speed-ups of ZirvFastBuild.cmake each takes.

set(ZIRV_BIN_DIR   ${CMAKE_BINARY_DIR}/bin)
set(ZIRV_TEST_DIR  ${CMAKE_BINARY_DIR}/tests)
set(ZIRV_BENCH_DIR ${CMAKE_BINARY_DIR}/bench)

# zirv_use_precompiled_header(<target> [<owner>])
# Lets <target> reuse the precompiled header of <owner> (the project's, zirv_pch, by default)
# instead of parsing the common headers in every file. For targets made without the helpers
# below, such as a library of several folders.
# AUTOMOC's mocs_compilation.cpp is compiled without it: each file includes the moc code of
# its own header ("moc_chart.cpp" in chart.cpp), so that file carries nothing but would still
# pay for loading the header.
function(zirv_use_precompiled_header target)
  set(owner zirv_pch)
  if(ARGC GREATER 1)
    set(owner ${ARGV1})
  endif()
  if(ZIRV_PRECOMPILED_HEADERS)
    target_precompile_headers(${target} REUSE_FROM ${owner})
    target_include_directories(${target} SYSTEM PRIVATE ${ZIRV_PCH_INCLUDE_DIRS})
    set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/mocs_compilation.cpp
      PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  endif()
endfunction()

# zirv_test_compile(<target>)
# Compiles <target> as a test program's own code: with ZIRV_TEST_COMPILE_OPTIONS and the
# precompiled header made with them, which holds GoogleTest's header. So every test program is
# compiled as GoogleTest's users are (its macros, GTEST_HAS_PTHREAD, shape the header); a suite
# of Qt Test takes nothing from GoogleTest's static library. For libraries that only tests link
# (a shared fixture) too.
function(zirv_test_compile target)
  target_compile_options(${target} PRIVATE ${ZIRV_TEST_COMPILE_OPTIONS})
  target_link_libraries(${target} PRIVATE GTest::gtest)
  zirv_use_precompiled_header(${target} zirv_pch_test)
endfunction()

# zirv_add_program(<target> SOURCES <files...> LIBS <targets...> [WITHOUT_QT])
# Builds bin/<target> and installs it. WITHOUT_QT: a program of plain C++ that links no Qt
# and so takes no precompiled header of Qt's.
function(zirv_add_program target)
  cmake_parse_arguments(P "WITHOUT_QT" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${target} ${P_SOURCES})
  target_link_libraries(${target} PRIVATE ${P_LIBS})
  if(NOT P_WITHOUT_QT)
    zirv_use_precompiled_header(${target})
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZIRV_BIN_DIR})
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endfunction()

# zirv_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [ARGS <args...>] [TIMEOUT <s>]
#               [COST <c>] [LABELS <l...>] [WITHOUT_QT] [MOC])
# Builds a test executable (Qt Test or GoogleTest, whatever its sources use) and registers it
# with CTest, run with ARGS. WITHOUT_QT: a test of plain C++ code that links no Qt. MOC: its
# sources declare classes of their own with Q_OBJECT (a Qt Test suite); the others skip
# AUTOMOC, which costs a compiler run per target. Widget tests run on the offscreen platform so
# they need no display.
# COST is the test's expected run time: CTest starts costly tests first when it has not timed
# them yet, so that a long test does not start last and keep the whole run waiting.
function(zirv_add_test)
  cmake_parse_arguments(T "WITHOUT_QT;MOC" "NAME;TIMEOUT;COST" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES AUTOMOC ${T_MOC})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS})
  if(T_WITHOUT_QT)
    target_compile_options(${T_NAME} PRIVATE ${ZIRV_TEST_COMPILE_OPTIONS})
  else()
    zirv_test_compile(${T_NAME})
  endif()
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZIRV_TEST_DIR})
  zirv_add_test_run(NAME ${T_NAME} PROGRAM ${T_NAME} ARGS ${T_ARGS} TIMEOUT ${T_TIMEOUT}
    COST ${T_COST} LABELS ${T_LABELS})
endfunction()

# zirv_add_test_run(NAME <test> PROGRAM <test executable> [ARGS <args...>] [TIMEOUT <s>]
#                   [COST <c>] [LABELS <l...>])
# Registers one more CTest test of an executable built by zirv_add_test, run with ARGS: for
# example one suite of a program that holds several, so that they run side by side.
# Each test takes a slot of run-tests' resource file: one of the processor slots (one per core),
# or, labelled realtime, one of the waiting slots. A realtime suite spends most of its time
# waiting on the clock (a board whose motor runs in real time or that answers at its line's
# pace, the tool's time-outs), so it runs beside the suites that compute instead of holding a
# processor slot of theirs.
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
  if("realtime" IN_LIST T_LABELS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_GROUPS "waits:1")
  else()
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_GROUPS "cpus:1")
  endif()
endfunction()

# zirv_add_bench(AREA <area> SOURCES <files...> LIBS <targets...> [WITHOUT_QT])
# Builds bench/bench_<area>; the default build makes it, CTest does not run it. No benchmark
# declares classes with Q_OBJECT: none takes AUTOMOC.
function(zirv_add_bench)
  cmake_parse_arguments(B "WITHOUT_QT" "AREA" "SOURCES;LIBS" ${ARGN})
  add_executable(bench_${B_AREA} ${B_SOURCES})
  set_target_properties(bench_${B_AREA} PROPERTIES AUTOMOC OFF)
  target_link_libraries(bench_${B_AREA} PRIVATE ${B_LIBS})
  if(NOT B_WITHOUT_QT)
    zirv_use_precompiled_header(bench_${B_AREA})
  endif()
  set_target_properties(bench_${B_AREA} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZIRV_BENCH_DIR})
endfunction()

# zirv_subsystem_library(<target> SOURCES <files...> DEPS <targets...> [WITHOUT_QT])
# One static library per subsystem folder, made of the files it lists, compiled in unity
# batches (a file can opt out with the source property SKIP_UNITY_BUILD_INCLUSION). Code
# includes headers by folder ("serial/comport.h"), so src/ is the include root of every
# library. WITHOUT_QT: a library of plain C++ that links no Qt.
function(zirv_subsystem_library target)
  cmake_parse_arguments(L "WITHOUT_QT" "" "SOURCES;DEPS" ${ARGN})
  add_library(${target} STATIC ${L_SOURCES})
  if(L_WITHOUT_QT)
    set_target_properties(${target} PROPERTIES AUTOMOC OFF)
  else()
    zirv_use_precompiled_header(${target})
  endif()
  if(ZIRV_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON
      UNITY_BUILD_BATCH_SIZE ${ZIRV_UNITY_BATCH_SIZE})
  endif()
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${target} PUBLIC ${L_DEPS})
endfunction()

# zirv_add_fuzz(<name> LIBS <targets...>)
# Builds fuzz/<name> from fuzz/<name>.cpp, a libFuzzer target, when ZIRV_FUZZ is on; the target
# "fuzz" builds them all. tools/fuzz runs each with the seeds of fuzz/seeds-<name>.
function(zirv_add_fuzz name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  add_executable(${name} ${CMAKE_CURRENT_SOURCE_DIR}/${name}.cpp)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  add_dependencies(fuzz ${name})
endfunction()
