# What keeps the build short, each a cache option that can be switched off at configuration:
#
#   ZIRV_PRECOMPILED_HEADERS  one precompiled header of the common standard and Qt headers, made
#                             once and reused by every library, benchmark and program made with
#                             the helpers of ZirvHelpers.cmake (about 3 s of CPU per file that
#                             would otherwise parse the Qt headers itself), and one with
#                             GoogleTest's header too for the test programs;
#   ZIRV_UNITY_BUILD          each subsystem library compiled in unity batches, so that a batch
#                             reads its headers once;
#   ZIRV_FAST_LINKER          programs linked with lld (gold where lld is missing) instead of
#                             the default linker: lld links the test programs in half gold's
#                             time;
#   ZIRV_TEST_COMPILE_OPTIONS lighter compile options for the test programs' own files;
#   ZIRV_LINE_TABLES          RelWithDebInfo's debug information as line tables (-g1), about a
#                             third less compile time: backtraces, profiles and a debugger's
#                             breakpoints keep files and lines, only local variables are not
#                             shown (a Debug build, or this option off, has them).
#
# Switched off, the project builds as any CMake project does with the build type's flags:
#   -DZIRV_PRECOMPILED_HEADERS=OFF -DZIRV_UNITY_BUILD=OFF -DZIRV_FAST_LINKER=OFF
#   -DZIRV_TEST_COMPILE_OPTIONS= -DZIRV_LINE_TABLES=OFF

include(CheckLinkerFlag)

option(ZIRV_PRECOMPILED_HEADERS "Reuse one precompiled header of the common headers" ON)
option(ZIRV_UNITY_BUILD "Compile the files of each subsystem library in unity batches" ON)
set(ZIRV_UNITY_BATCH_SIZE 8 CACHE STRING "Files per unity batch of a library")
option(ZIRV_FAST_LINKER "Link with lld, or gold, when the compiler can" ON)
# The tests' own files need neither full optimisation nor full debug information: line tables
# keep their backtraces readable, and -Og -g1 compiles them in about half the time of the
# build type's flags. The libraries they test keep the build type's flags.
set(ZIRV_TEST_COMPILE_OPTIONS "-Og;-g1" CACHE STRING "Extra compile options of the test programs")

option(ZIRV_LINE_TABLES "RelWithDebInfo with line tables (-g1) instead of full debug information" ON)
if(ZIRV_LINE_TABLES)
  string(REGEX REPLACE "(^| )-g( |$)" "\\1-g1\\2" CMAKE_CXX_FLAGS_RELWITHDEBINFO "${CMAKE_CXX_FLAGS_RELWITHDEBINFO}")
endif()

if(ZIRV_FAST_LINKER)
  check_linker_flag(CXX -fuse-ld=lld ZIRV_HAVE_LLD)
  check_linker_flag(CXX -fuse-ld=gold ZIRV_HAVE_GOLD)
  if(ZIRV_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
  elseif(ZIRV_HAVE_GOLD)
    add_link_options(-fuse-ld=gold)
  endif()
endif()

# ccache, when installed, makes rebuilds of unchanged sources nearly free. It caches files that
# use a precompiled header only when told that the header's macros and time stamps may be ignored.
find_program(ZIRV_CCACHE ccache)
if(ZIRV_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER
    ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=pch_defines,time_macros ${ZIRV_CCACHE})
endif()

# The Qt modules the precompiled header holds besides Qt Core. Every target that takes the header
# sees their include folders (not their libraries or macros), so that the header compiles as
# text too, should the compiler not take its precompiled form.
set(ZIRV_PCH_INCLUDE_DIRS
  $<TARGET_PROPERTY:Qt6::Gui,INTERFACE_INCLUDE_DIRECTORIES>
  $<TARGET_PROPERTY:Qt6::Widgets,INTERFACE_INCLUDE_DIRECTORIES>)

# zirv_precompiled_header_owner(<target> HEADER <file> [COMPILE_OPTIONS <options...>]
#                               [LIBS <targets...>])
# A target whose only job is to make the precompiled header <file> that others reuse. A
# compiler takes a precompiled header only where the compile options that shape it
# (optimisation, debug information, macros) are those it was made with; otherwise it reads the
# header as text. So the owner links only Qt6::Core, whose macros every Qt user has, and LIBS;
# and the test programs, with options of their own, get an owner of their own.
function(zirv_precompiled_header_owner target)
  cmake_parse_arguments(P "" "HEADER" "COMPILE_OPTIONS;LIBS" ${ARGN})
  set(source ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// Only carries the precompiled header.\n")
  add_library(${target} OBJECT ${source})
  target_link_libraries(${target} PRIVATE Qt6::Core ${P_LIBS})
  target_include_directories(${target} SYSTEM PRIVATE ${ZIRV_PCH_INCLUDE_DIRS})
  target_compile_options(${target} PRIVATE ${P_COMPILE_OPTIONS})
  target_precompile_headers(${target} PRIVATE ${P_HEADER})
  set_target_properties(${target} PROPERTIES AUTOMOC OFF EXCLUDE_FROM_ALL ON)
endfunction()

if(ZIRV_PRECOMPILED_HEADERS)
  zirv_precompiled_header_owner(zirv_pch HEADER ${PROJECT_SOURCE_DIR}/cmake/precompiled.h)
  zirv_precompiled_header_owner(zirv_pch_test HEADER ${PROJECT_SOURCE_DIR}/cmake/precompiled_test.h
    COMPILE_OPTIONS ${ZIRV_TEST_COMPILE_OPTIONS} LIBS GTest::gtest)
endif()
