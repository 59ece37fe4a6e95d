# What the release archive ships (scripts/dist) beyond what every build
# does (the Windows programs are stripped in their own folders): the Linux
# packer stripped, and carrying its own libcrypto, zlib
# (cmake/Dependencies.cmake), libdeflate and C++ runtime, so that it needs
# only glibc and libmsi (with the GLib it brings) from the system it runs on.
# No distribution builds libmsi as a static library: it stays shared, and
# README.md names it.
# Each packer's link map says what it took, for the archive's bill of
# materials (scripts/bill-of-materials); the stub writes its own map.
if(TARGET msilaunch-pack)
  target_link_options(msilaunch-pack PRIVATE -Wl,-Map=$<TARGET_FILE_DIR:msilaunch-pack>/msilaunch-pack.map)
endif()
if(WIN32 OR NOT TARGET msilaunch-pack)
  return()
endif()
target_link_options(msilaunch-pack PRIVATE -s)
find_library(MSILAUNCH_STATIC_DEFLATE NAMES libdeflate.a REQUIRED)
get_target_property(_deflate msilaunch::deflate ALIASED_TARGET)
if(NOT _deflate)
  set(_deflate msilaunch::deflate)
endif()
set_property(TARGET ${_deflate} PROPERTY INTERFACE_LINK_LIBRARIES "${MSILAUNCH_STATIC_DEFLATE}")
target_link_options(msilaunch-pack PRIVATE -static-libstdc++ -static-libgcc)
