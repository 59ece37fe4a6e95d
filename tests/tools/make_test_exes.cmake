# Real executables for the carrier and placement tests, made in the build
# tree: a tiny PE32 program cross-compiled with MinGW-w64, and a copy signed
# by osslsigncode with a throwaway self-signed certificate (made here, never
# kept in the source tree). Sets MSILAUNCH_TEST_EXE_DIR and the target
# msilaunch_test_exes.
find_program(MSILAUNCH_MINGW_GCC i686-w64-mingw32-gcc REQUIRED)
find_program(MSILAUNCH_OSSLSIGNCODE osslsigncode REQUIRED)
find_program(MSILAUNCH_OPENSSL_TOOL openssl REQUIRED)

set(MSILAUNCH_TEST_EXE_DIR "${CMAKE_BINARY_DIR}/test_exes")
set(_exe_dir "${MSILAUNCH_TEST_EXE_DIR}")
add_custom_command(
  OUTPUT "${_exe_dir}/unsigned.exe" "${_exe_dir}/signed.exe" "${_exe_dir}/signer.pem"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${_exe_dir}"
  COMMAND ${MSILAUNCH_MINGW_GCC} -Os -s -o "${_exe_dir}/unsigned.exe"
          "${CMAKE_CURRENT_LIST_DIR}/tiny_program.c"
  COMMAND ${MSILAUNCH_OPENSSL_TOOL} req -x509 -newkey rsa:2048 -nodes -days 3650
          -subj "/CN=msilaunch test signer" -keyout "${_exe_dir}/signer-key.pem"
          -out "${_exe_dir}/signer.pem"
  COMMAND ${CMAKE_COMMAND} -E remove -f "${_exe_dir}/signed.exe"
  COMMAND ${MSILAUNCH_OSSLSIGNCODE} sign -certs "${_exe_dir}/signer.pem" -key "${_exe_dir}/signer-key.pem"
          -h sha256 -in "${_exe_dir}/unsigned.exe" -out "${_exe_dir}/signed.exe"
  DEPENDS "${CMAKE_CURRENT_LIST_DIR}/tiny_program.c"
  COMMENT "Building and signing the test executables"
  VERBATIM)
add_custom_target(msilaunch_test_exes
  DEPENDS "${_exe_dir}/unsigned.exe" "${_exe_dir}/signed.exe" "${_exe_dir}/signer.pem")
