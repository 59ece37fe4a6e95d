# The hand-off: finding and running msiexec, the registration check and the
# cleanup, against a stand-in msiexec, real registry keys and real files.

# The stand-in msiexec: logs its command line and ends with a chosen code.
# Built beside run_exit_code so that end-to-end tests can copy it to where
# the system's msiexec.exe is found.
add_executable(fake_msiexec WIN32 "${PROJECT_SOURCE_DIR}/tests/tools/fake_msiexec.cpp")
set_target_properties(fake_msiexec PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/tools")

msilaunch_add_wine_test(handoff_wine_test SOURCES handoff_wine_test.cpp)
add_dependencies(handoff_wine_test fake_msiexec)
