# zlib and OpenSSL libcrypto as imported targets msilaunch::zlib and
# msilaunch::crypto: the host's packages natively, the MinGW zlib package and
# the cached libcrypto cross-build (scripts/build-openssl-mingw) for Windows.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_openssl_link openssl-mingw64)
  else()
    set(_openssl_link openssl-mingw)
  endif()
  set(_openssl_cache "$ENV{HOME}/.cache/msilaunch")
  if(DEFINED ENV{MSILAUNCH_CACHE})
    set(_openssl_cache "$ENV{MSILAUNCH_CACHE}")
  endif()
  set(MSILAUNCH_OPENSSL_MINGW "${_openssl_cache}/${_openssl_link}" CACHE PATH
      "Static libcrypto cross-built for this MinGW-w64 target")
  if(NOT EXISTS "${MSILAUNCH_OPENSSL_MINGW}/lib/libcrypto.a")
    message(FATAL_ERROR "No cross-built libcrypto at ${MSILAUNCH_OPENSSL_MINGW}: run scripts/bootstrap")
  endif()
  add_library(msilaunch::crypto STATIC IMPORTED)
  set_target_properties(msilaunch::crypto PROPERTIES
    IMPORTED_LOCATION "${MSILAUNCH_OPENSSL_MINGW}/lib/libcrypto.a"
    INTERFACE_INCLUDE_DIRECTORIES "${MSILAUNCH_OPENSSL_MINGW}/include"
    # What this cut-down build (no-sock, no-engine) calls: CryptGenRandom and
    # the event log in advapi32, the fatal-error box in user32. crypt32 stays
    # off the link line: the launcher links it at run time from the system
    # directory (base/crypt32_win32.h), and an import of it would fail to link.
    INTERFACE_LINK_LIBRARIES "advapi32;user32")
  find_library(MSILAUNCH_MINGW_ZLIB NAMES libz.a z REQUIRED)
  find_path(MSILAUNCH_MINGW_ZLIB_INCLUDE zlib.h REQUIRED)
  add_library(msilaunch::zlib STATIC IMPORTED)
  set_target_properties(msilaunch::zlib PROPERTIES
    IMPORTED_LOCATION "${MSILAUNCH_MINGW_ZLIB}"
    INTERFACE_INCLUDE_DIRECTORIES "${MSILAUNCH_MINGW_ZLIB_INCLUDE}")
else()
  if(MSILAUNCH_DIST)
    # The archive's packer carries its own (cmake/Dist.cmake).
    set(ZLIB_USE_STATIC_LIBS ON)
    set(OPENSSL_USE_STATIC_LIBS ON)
  endif()
  find_package(ZLIB REQUIRED)
  find_package(OpenSSL 3.0 REQUIRED COMPONENTS Crypto)
  add_library(msilaunch::zlib ALIAS ZLIB::ZLIB)
  add_library(msilaunch::crypto ALIAS OpenSSL::Crypto)
endif()
