# The extraction folder against real files, the prefix's registry and the
# real folder browser under Xvfb (included by tests/wine/CMakeLists.txt).
# Double-byte folder names in an entry of their own under ja_JP, whose code
# page 932 has characters whose trail byte is 0x5C.
msilaunch_add_wine_test(extraction_folder_wine_test SOURCES extraction_folder_wine_test.cpp
  LOCALES ja_JP ONLY *DoubleByte*)

# Choosing a drive's root must not write to a real one: Q: is mapped to a
# folder of this tree while these tests run.
set(MSILAUNCH_TEST_DRIVE_FOLDER "${CMAKE_BINARY_DIR}/wine/test-drive-q")
msilaunch_add_lane_test(extraction_folder_drive_setup FIXTURES_SETUP test_drive
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/map-test-drive" q "${MSILAUNCH_TEST_DRIVE_FOLDER}")
msilaunch_add_lane_test(extraction_folder_drive_cleanup FIXTURES_CLEANUP test_drive
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/map-test-drive" --remove q)
set_tests_properties(extraction_folder_wine_test PROPERTIES FIXTURES_REQUIRED "wine;test_drive")
