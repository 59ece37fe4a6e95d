# No DLL planted beside the launcher is ever loaded: a stand-in crypt32.dll
# that leaves a marker when loaded, the real launcher started beside it, and
# the loader's choices through the Win32 table.

# The stand-in, in a folder of its own so that no test program of this tree
# ever finds it beside itself. A module: no import library that could shadow
# the system's libcrypt32 on a link line.
add_library(planted_crypt32 MODULE "${CMAKE_CURRENT_LIST_DIR}/planted_dll.c")
set_target_properties(planted_crypt32 PROPERTIES
  PREFIX "" OUTPUT_NAME crypt32 LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/planted")
# Exported under their plain names, as the system's are (no @N decoration).
target_link_options(planted_crypt32 PRIVATE -Wl,--kill-at)

# Wine takes its own crypt32 before a crypt32.dll beside the program, where
# Windows looks beside the program first for any DLL that is no KnownDLL.
# With this override Wine searches as Windows does (the launcher started by
# the test inherits it), so a load-time import would find the planted copy;
# loads from the system directory still get Wine's own.
msilaunch_add_wine_test(dll_loading_wine_test SOURCES dll_loading_wine_test.cpp LIBRARIES msilaunch_payloads
  ENVIRONMENT WINEDLLOVERRIDES=crypt32=n,b)
add_dependencies(dll_loading_wine_test msilaunch planted_crypt32)
target_compile_definitions(dll_loading_wine_test PRIVATE
  MSILAUNCH_STUB="Z:$<TARGET_FILE:msilaunch>"
  MSILAUNCH_PLANTED_DLL="Z:$<TARGET_FILE:planted_crypt32>")
