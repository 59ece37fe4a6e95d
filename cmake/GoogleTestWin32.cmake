# GoogleTest cross-built for the Wine tests from the sources Debian ships in
# libgtest-dev: there is no MinGW build of it to link against.
set(MSILAUNCH_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (libgtest-dev)")
if(NOT EXISTS "${MSILAUNCH_GTEST_SOURCE}/googletest/CMakeLists.txt")
  message(FATAL_ERROR "No GoogleTest sources at ${MSILAUNCH_GTEST_SOURCE}: run scripts/bootstrap")
endif()
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # Win32 threads, no winpthread DLL
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${MSILAUNCH_GTEST_SOURCE}/googletest" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
# Its own warnings are not ours to fix.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
if(NOT TARGET GTest::gtest)  # older GoogleTest releases define no aliases
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gtest_main ALIAS gtest_main)
endif()
