# The launcher end to end under Wine, for `make bench` (included by the
# Windows trees' tests/wine folder, whose support library, tools and
# resources it uses): bench/launcher_bench_win32.cpp. Not a CTest test: it
# writes 100 MiB seven times and takes a minute or two, and its goals are
# ratios to report, not pass or fail. Built only when asked for
# (scripts/launcher-bench), like the host benchmarks.
add_executable(launcher_bench EXCLUDE_FROM_ALL
  "${CMAKE_CURRENT_LIST_DIR}/launcher_bench_win32.cpp"
  "${PROJECT_SOURCE_DIR}/tests/support/payloads.cpp"
  "${PROJECT_SOURCE_DIR}/packer/payload_writer.cpp"
  $<TARGET_OBJECTS:msilaunch_resources>)
# psapi for the peak working set: the bench's own import, not the launcher's.
target_link_libraries(launcher_bench PRIVATE msilaunch_wine_support psapi)
target_compile_definitions(launcher_bench PRIVATE MSILAUNCH_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}")
add_dependencies(launcher_bench fake_msiexec)
set_target_properties(launcher_bench PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bench")
