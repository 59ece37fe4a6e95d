# Cross-compiles the same sources for 64-bit Windows. The product is the
# 32-bit launcher; this flavour exists so the Windows-facing code runs under
# Wine on machines that cannot execute 32-bit code at all.
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
