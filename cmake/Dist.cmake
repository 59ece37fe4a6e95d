# What the release archive ships (scripts/dist) beyond what every build
# does (the Windows programs are stripped in their own folders): the Linux
# packer stripped and fully static, carrying its own libcrypto, zlib
# (cmake/Dependencies.cmake), libdeflate, C++ runtime and C library, so that
# it runs on any x86-64 Linux, older build agents included, with nothing
# from the system: no loader, no shared object. It reads MSIs itself
# (packer/msi/msi_database_tables.cpp), converts code pages itself, and never
# asks for what glibc can only load at run time (iconv's modules, NSS,
# OpenSSL's configuration, packer/main.cpp).
# The dev tree's packer stays dynamic: its sanitizers need the loader.
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
target_link_options(msilaunch-pack PRIVATE -static)
