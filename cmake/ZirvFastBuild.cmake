# A faster build without a list of today's targets: zirv_speed_up_build(), called once at the
# end of the top-level CMakeLists.txt, walks every target of the project and
#  - lets each target that links Qt reuse one precompiled header of the common Qt headers
#    instead of parsing them again in every file (about 3 s of CPU per file);
#  - compiles each library's files in unity batches, so that a batch reads its headers once.
# A target added later by any folder gets both by what it links. Opt-outs: the target property
# ZIRV_NO_PCH, the target property UNITY_BUILD OFF, and for one file the source property
# SKIP_UNITY_BUILD_INCLUSION (for example a file whose file-local names clash with a neighbour's
# or whose system headers clash with theirs). Programs link with gold, about three times faster
# than the default linker on these debug-heavy binaries. Test programs (zirv_add_test) compile
# with ZIRV_TEST_COMPILE_OPTIONS.

include(CheckLinkerFlag)

option(ZIRV_PRECOMPILED_HEADERS "Share one precompiled Qt header between targets" ON)
option(ZIRV_UNITY_BUILD "Compile the files of each library in unity batches" ON)
set(ZIRV_UNITY_BATCH_SIZE 8 CACHE STRING "Files per unity batch of a library")
option(ZIRV_GOLD_LINKER "Link with gold when the compiler can" ON)
# The tests' own files need neither full optimisation nor full debug information: line tables
# keep their backtraces readable, and -Og -g1 compiles them in about half the time of the
# build type's flags (-Og, unlike -O0, still reads the optimised precompiled header). The
# libraries they test keep the build type's flags. Empty to build tests like everything else.
set(ZIRV_TEST_COMPILE_OPTIONS "-Og;-g1" CACHE STRING "Extra compile options of the test programs")

if(ZIRV_GOLD_LINKER)
  check_linker_flag(CXX -fuse-ld=gold ZIRV_HAVE_GOLD)
  if(ZIRV_HAVE_GOLD)
    add_link_options(-fuse-ld=gold)
  endif()
endif()

# The headers most files include. GCC uses a precompiled header only when every macro defined
# while it was made is defined alike where it is used, so the owner defines no more than every
# Qt user does (QT_CORE_LIB, QT_NO_DEBUG): it takes the Gui and Widgets include folders but not
# those libraries' QT_GUI_LIB and QT_WIDGETS_LIB. QtTest is left out for the same reason (its
# header reads per-target macros such as QT_TESTCASE_SOURCEDIR), and so is gtest.h: a header of
# its own would cost more to make than the few tests using it would save.
set(ZIRV_PCH_QT_HEADERS
  <algorithm> <cmath> <cstdint> <functional> <memory> <string> <vector>
  <QByteArray> <QCoreApplication> <QElapsedTimer> <QFile> <QLocale> <QObject> <QString>
  <QStringList> <QTextStream> <QTimer>
  <QColor> <QImage> <QKeyEvent> <QPainter>
  <QApplication> <QCheckBox> <QComboBox> <QLabel> <QPushButton> <QScrollBar> <QTabWidget>
  <QVBoxLayout> <QWidget>)

# zirv_pch_owner(<target> LIBS <link targets...> HEADERS <headers...>)
# A target whose only job is to make a precompiled header that others reuse.
function(zirv_pch_owner target)
  cmake_parse_arguments(P "" "" "LIBS;HEADERS" ${ARGN})
  set(source ${CMAKE_BINARY_DIR}/generated/${target}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// Only carries the precompiled header.\n")
  add_library(${target} OBJECT ${source})
  target_link_libraries(${target} PRIVATE ${P_LIBS})
  target_include_directories(${target} SYSTEM PRIVATE
    $<TARGET_PROPERTY:Qt6::Gui,INTERFACE_INCLUDE_DIRECTORIES>
    $<TARGET_PROPERTY:Qt6::Widgets,INTERFACE_INCLUDE_DIRECTORIES>)
  target_precompile_headers(${target} PRIVATE ${P_HEADERS})
  set_target_properties(${target} PROPERTIES AUTOMOC OFF ZIRV_NO_PCH ON EXCLUDE_FROM_ALL ON)
endfunction()

# Sets <out> to whether <target> links <wanted>, directly or through what it links.
function(zirv_links target wanted out)
  set(pending ${target})
  set(seen "")
  while(pending)
    list(POP_FRONT pending t)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.+)>$" "\\1" t "${t}")
    if(t IN_LIST seen OR NOT TARGET ${t})
      continue()
    endif()
    list(APPEND seen ${t})
    get_target_property(aliased ${t} ALIASED_TARGET)
    if(aliased)
      set(t ${aliased})
    endif()
    if(t STREQUAL wanted)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
    get_target_property(imported ${t} IMPORTED)
    set(props INTERFACE_LINK_LIBRARIES)
    if(NOT imported)
      list(APPEND props LINK_LIBRARIES)
    endif()
    foreach(prop IN LISTS props)
      get_target_property(links ${t} ${prop})
      if(links)
        list(APPEND pending ${links})
      endif()
    endforeach()
  endwhile()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# Sets <out> to the targets declared in <dir> and in the folders below it.
function(zirv_targets_below dir out)
  set(dirs ${dir})
  set(found "")
  while(dirs)
    list(POP_FRONT dirs d)
    get_property(here DIRECTORY ${d} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(below DIRECTORY ${d} PROPERTY SUBDIRECTORIES)
    list(APPEND found ${here})
    list(APPEND dirs ${below})
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Sets <out> to whether AUTOMOC finds a header of <target> to run moc on: a listed header, or
# one beside a listed source, declaring Q_OBJECT, Q_GADGET or Q_NAMESPACE.
function(zirv_has_moc_headers target out)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  foreach(source IN LISTS sources)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${dir})
    cmake_path(REPLACE_EXTENSION source LAST_ONLY .h OUTPUT_VARIABLE header)
    if(EXISTS ${header})
      file(STRINGS ${header} found REGEX "Q_OBJECT|Q_GADGET|Q_NAMESPACE" LIMIT_COUNT 1)
      if(found)
        set(${out} TRUE PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${out} FALSE PARENT_SCOPE)
endfunction()

# Gives a target that links Qt the shared precompiled header. The file AUTOMOC generates for
# the moc output of its headers keeps it only when it has something to compile: loading the
# header into an empty file would cost more than the file itself.
function(zirv_reuse_pch target)
  get_target_property(opted_out ${target} ZIRV_NO_PCH)
  zirv_links(${target} Qt6::Core qt)
  if(opted_out OR NOT qt)
    return()
  endif()
  set_target_properties(${target} PROPERTIES PRECOMPILE_HEADERS_REUSE_FROM zirv_pch_qt)
  get_target_property(automoc ${target} AUTOMOC)
  zirv_has_moc_headers(${target} moc)
  if(automoc AND NOT moc)
    get_target_property(autogen_dir ${target} AUTOGEN_BUILD_DIR)
    if(NOT autogen_dir)
      get_target_property(binary_dir ${target} BINARY_DIR)
      set(autogen_dir ${binary_dir}/${target}_autogen)
    endif()
    set_source_files_properties(${autogen_dir}/mocs_compilation.cpp TARGET_DIRECTORY ${target}
      PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
  endif()
endfunction()

function(zirv_speed_up_build)
  if(ZIRV_PRECOMPILED_HEADERS)
    zirv_pch_owner(zirv_pch_qt LIBS Qt6::Core HEADERS ${ZIRV_PCH_QT_HEADERS})
  endif()
  zirv_targets_below(${PROJECT_SOURCE_DIR} targets)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|OBJECT_LIBRARY|SHARED_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    if(ZIRV_PRECOMPILED_HEADERS)
      zirv_reuse_pch(${target})
    endif()
    get_target_property(unity ${target} UNITY_BUILD)
    if(ZIRV_UNITY_BUILD AND type STREQUAL "STATIC_LIBRARY" AND NOT unity STREQUAL "OFF")
      set_target_properties(${target} PROPERTIES UNITY_BUILD ON
        UNITY_BUILD_BATCH_SIZE ${ZIRV_UNITY_BATCH_SIZE})
    endif()
  endforeach()
endfunction()
