# The log pane's sources are built in directly so the benchmark needs only the pane, not the
# whole user-interface library with the main window.
set(_log_dir ${PROJECT_SOURCE_DIR}/src/ui)
zirv_add_bench(AREA log
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/log_bench.cpp
          ${_log_dir}/logpane.cpp ${_log_dir}/logview.cpp ${_log_dir}/logview_input.cpp
          ${_log_dir}/logtext.cpp ${_log_dir}/timestamp.cpp
  LIBS zirv_globals Qt6::Widgets)
target_include_directories(bench_log PRIVATE ${PROJECT_SOURCE_DIR}/src)
