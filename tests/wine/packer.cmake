# msilaunch-pack.exe (included by tests/wine/CMakeLists.txt in the x86-64
# tree, the one that builds it): the packer's command-line tests run against
# it under Wine, with this tree's host packer (installation.cmake) as the
# reference that must make the same bytes; then the installation packages
# made again by it, under Wine, and installed by Wine's real msiexec.
set(_wine_pack "${PROJECT_SOURCE_DIR}/tests/packer/wine-pack")
set(_packer_env "MSILAUNCH_PACKER_UNDER_WINE=$<TARGET_FILE:msilaunch-pack>")

# One file to hand out: system DLLs only.
add_test(NAME packer_is_self_contained_pe
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/check-pe-imports" $<TARGET_FILE:msilaunch-pack>
          "PE32+ executable (console) x86-64")

msilaunch_add_lane_test(packer_cli_wine
  COMMAND bash "${PROJECT_SOURCE_DIR}/tests/packer/packer_cli_test.sh" "${_wine_pack}"
          "${CMAKE_CURRENT_BINARY_DIR}/packer-cli-work" "${MSILAUNCH_HOST_PACK}"
  ENVIRONMENT ${_packer_env} TIMEOUT 1200)

set(_wine_packages "${CMAKE_BINARY_DIR}/installation-packages-wine")
msilaunch_add_lane_test(installation_packages_packed_under_wine
  COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/make-installation-packages" "${_wine_pack}" $<TARGET_FILE:msilaunch>
          "${PROJECT_SOURCE_DIR}/tests/keys/test-key.pem" "${_wine_packages}"
  ENVIRONMENT ${_packer_env} FIXTURES_SETUP packed_under_wine TIMEOUT 600)
msilaunch_add_lane_test(installation_packed_under_wine
  COMMAND installation_wine_test --gtest_filter=InstallationRealMsiexec.*
  ENVIRONMENT "MSILAUNCH_INSTALLATION_DIR=Z:${_wine_packages}" LC_ALL=de_DE.UTF-8 MSILAUNCH_LOCALE_CASE=de_DE
  TIMEOUT 600)
set_tests_properties(installation_packed_under_wine PROPERTIES FIXTURES_REQUIRED "wine;packed_under_wine")
