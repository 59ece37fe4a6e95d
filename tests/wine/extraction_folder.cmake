# The extraction folder against real files, the prefix's registry and the
# real folder browser under Xvfb (included by tests/wine/CMakeLists.txt).
msilaunch_add_wine_test(extraction_folder_wine_test SOURCES extraction_folder_wine_test.cpp)

# Choosing a drive's root must not write to a real one: Q: is mapped to a
# folder of this tree while these tests run.
set(MSILAUNCH_TEST_DRIVE_FOLDER "${CMAKE_BINARY_DIR}/wine/test-drive-q")
add_test(NAME extraction_folder_drive_setup
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/map-test-drive" q "${MSILAUNCH_TEST_DRIVE_FOLDER}")
add_test(NAME extraction_folder_drive_cleanup
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/map-test-drive" --remove q)
set_tests_properties(extraction_folder_drive_setup PROPERTIES
  FIXTURES_SETUP test_drive FIXTURES_REQUIRED wine ENVIRONMENT "${MSILAUNCH_WINE_ENV}")
set_tests_properties(extraction_folder_drive_cleanup PROPERTIES
  FIXTURES_CLEANUP test_drive FIXTURES_REQUIRED wine ENVIRONMENT "${MSILAUNCH_WINE_ENV}")
set_tests_properties(extraction_folder_wine_test PROPERTIES FIXTURES_REQUIRED "wine;test_drive")

# Double-byte folder names: Wine takes the ANSI code page from LC_ALL, so
# ja_JP gives code page 932, where a character's trail byte may be 0x5C.
add_test(NAME extraction_folder_wine_test_cp932
  COMMAND extraction_folder_wine_test --gtest_filter=*DoubleByte*)
set_tests_properties(extraction_folder_wine_test_cp932 PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${MSILAUNCH_WINE_ENV};LC_ALL=ja_JP.UTF-8" SKIP_RETURN_CODE 77 TIMEOUT 300)
