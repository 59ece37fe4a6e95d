# The whole launcher end to end (included by tests/wine/CMakeLists.txt): the
# real msilaunch.exe as a child process against a stand-in msiexec, and
# in-process runs of RunLauncher where a system call must fail.

msilaunch_add_wine_test(installation_wine_test SOURCES
  installation_wine_test.cpp
  "${PROJECT_SOURCE_DIR}/tests/support/payloads.cpp"
  "${PROJECT_SOURCE_DIR}/packer/payload_writer.cpp"
  $<TARGET_OBJECTS:msilaunch_resources>)
add_dependencies(installation_wine_test msilaunch)
target_compile_definitions(installation_wine_test PRIVATE
  MSILAUNCH_STUB="Z:$<TARGET_FILE:msilaunch>"
  MSILAUNCH_SOURCE_DIR="Z:${PROJECT_SOURCE_DIR}")
