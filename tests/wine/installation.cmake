# The whole launcher end to end (included by tests/wine/CMakeLists.txt): the
# real msilaunch.exe as a child process against a stand-in msiexec and
# against Wine's real msiexec installing real packages, and in-process runs
# of RunLauncher where a system call must fail.

# The setups are made at build time, on the host, where wixl and the packer
# live (a test run in an emulated guest then finds them in the tree). The
# packer is a host program, so this cross-built tree builds it in a native
# tree of its own.
include(ExternalProject)
set(MSILAUNCH_HOST_PACKER_DIR "${CMAKE_BINARY_DIR}/host-packer")
set(MSILAUNCH_HOST_PACK "${MSILAUNCH_HOST_PACKER_DIR}/packer/msilaunch-pack")
ExternalProject_Add(msilaunch_host_packer
  SOURCE_DIR "${PROJECT_SOURCE_DIR}"
  BINARY_DIR "${MSILAUNCH_HOST_PACKER_DIR}"
  CMAKE_GENERATOR Ninja
  # Its built-in key plays no part in packing; naming one keeps the warning
  # about the test key out of this tree's build.
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
             "-DMSILAUNCH_PUBLIC_KEY=${PROJECT_SOURCE_DIR}/tests/keys/test-key.pub.pem"
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target msilaunch-pack
  BUILD_BYPRODUCTS "${MSILAUNCH_HOST_PACK}"
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")

foreach(tool wixl msibuild msidump)
  find_program(MSILAUNCH_TOOL_${tool} ${tool} REQUIRED)
endforeach()
set(MSILAUNCH_INSTALLATION_DIR "${CMAKE_BINARY_DIR}/installation-packages")
set(_make_packages "${CMAKE_CURRENT_SOURCE_DIR}/make-installation-packages")
add_custom_command(
  OUTPUT "${MSILAUNCH_INSTALLATION_DIR}/languages.exe" "${MSILAUNCH_INSTALLATION_DIR}/condition.exe"
  COMMAND "${_make_packages}" "${MSILAUNCH_HOST_PACK}" $<TARGET_FILE:msilaunch>
          "${PROJECT_SOURCE_DIR}/tests/keys/test-key.pem" "${MSILAUNCH_INSTALLATION_DIR}"
  DEPENDS "${_make_packages}" msilaunch "${MSILAUNCH_HOST_PACK}" msilaunch_host_packer
          "${PROJECT_SOURCE_DIR}/tests/keys/test-key.pem"
  COMMENT "Building the wixl packages and the setups of the installation tests"
  VERBATIM)
add_custom_target(msilaunch_installation_packages
  DEPENDS "${MSILAUNCH_INSTALLATION_DIR}/languages.exe" "${MSILAUNCH_INSTALLATION_DIR}/condition.exe")

# Wine's real msiexec installs the package each locale selects, once per
# locale.
msilaunch_add_wine_test(installation_wine_test
  SOURCES installation_wine_test.cpp $<TARGET_OBJECTS:msilaunch_resources>
  LIBRARIES msilaunch_payloads
  LOCALES de_DE de_CH en_GB es_ES ja_JP ONLY InstallationRealMsiexec.InstallsThePackageOfTheUsersLocale)
add_dependencies(installation_wine_test msilaunch msilaunch_installation_packages)
target_compile_definitions(installation_wine_test PRIVATE
  MSILAUNCH_STUB="Z:$<TARGET_FILE:msilaunch>"
  MSILAUNCH_INSTALLATION_DIR="Z:${MSILAUNCH_INSTALLATION_DIR}")
# Real installations take a while under Wine.
set_tests_properties(installation_wine_test PROPERTIES TIMEOUT 600)
