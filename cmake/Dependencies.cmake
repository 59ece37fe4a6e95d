# zlib and OpenSSL libcrypto as imported targets msilaunch::zlib and
# msilaunch::crypto: the host's packages natively, the MinGW zlib package and
# the cached libcrypto cross-build (scripts/build-openssl-mingw) for Windows.
# The packer's own: msilaunch::deflate (libdeflate) natively; in the x86-64
# Windows tree msilaunch::deflate from the cached cross-build
# (scripts/build-libdeflate-mingw) and msilaunch::packer_crypto, the fuller
# libcrypto the Windows packer links (msi.dll needs no target: the packer
# loads it at run time).
# msilaunch::json: nlohmann/json (header only) for the packer's --json
# output, in every tree that builds the packer.
set(_msilaunch_cache "$ENV{HOME}/.cache/msilaunch")
if(DEFINED ENV{MSILAUNCH_CACHE})
  set(_msilaunch_cache "$ENV{MSILAUNCH_CACHE}")
endif()

# msilaunch_import_cached(<target> <cache variable> <folder in the cache> <library file> <description>
#                         [LINK <libraries>...])
# A static library from the cache as an imported target, or a configure
# error that says how to make it.
function(msilaunch_import_cached target variable folder file description)
  cmake_parse_arguments(ARG "" "" "LINK" ${ARGN})
  set(${variable} "${_msilaunch_cache}/${folder}" CACHE PATH "${description}")
  if(NOT EXISTS "${${variable}}/lib/${file}")
    message(FATAL_ERROR "No ${file} at ${${variable}}/lib: run scripts/bootstrap")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION "${${variable}}/lib/${file}"
    INTERFACE_INCLUDE_DIRECTORIES "${${variable}}/include"
    INTERFACE_LINK_LIBRARIES "${ARG_LINK}")
endfunction()

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_openssl_link openssl-mingw64)
  else()
    set(_openssl_link openssl-mingw)
  endif()
  # What this cut-down build (no-sock, no-engine) calls: CryptGenRandom and
  # the event log in advapi32, the fatal-error box in user32. crypt32 stays
  # off the link line: the launcher links it at run time from the system
  # directory (base/crypt32_win32.h), and an import of it would fail to link.
  msilaunch_import_cached(msilaunch::crypto MSILAUNCH_OPENSSL_MINGW ${_openssl_link} libcrypto.a
    "Static libcrypto cross-built for this MinGW-w64 target" LINK advapi32 user32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # The packer's libcrypto keeps error strings and every key type; it is
    # still built without sockets and engines, so it calls what the
    # launcher's does.
    msilaunch_import_cached(msilaunch::packer_crypto MSILAUNCH_OPENSSL_MINGW_PACKER openssl-mingw64-packer
      libcrypto.a "Static libcrypto cross-built for the Windows packer" LINK advapi32 user32)
    msilaunch_import_cached(msilaunch::deflate MSILAUNCH_LIBDEFLATE_MINGW libdeflate-mingw64 libdeflate.a
      "Static libdeflate cross-built for the Windows packer")
  endif()
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
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MSILAUNCH_LIBDEFLATE REQUIRED IMPORTED_TARGET GLOBAL libdeflate)
  add_library(msilaunch::deflate ALIAS PkgConfig::MSILAUNCH_LIBDEFLATE)
endif()

# Debian installs nlohmann/json under /usr/include, which a MinGW build must
# never search (the host's C library headers would shadow the toolchain's):
# the headers are copied into the build tree, and the target's include
# directory holds nothing else.
find_path(MSILAUNCH_NLOHMANN_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(_json_include "${CMAKE_BINARY_DIR}/nlohmann-json/include")
file(COPY "${MSILAUNCH_NLOHMANN_JSON_INCLUDE}/nlohmann" DESTINATION "${_json_include}")
add_library(msilaunch_json INTERFACE)
target_include_directories(msilaunch_json SYSTEM INTERFACE "${_json_include}")
add_library(msilaunch::json ALIAS msilaunch_json)
