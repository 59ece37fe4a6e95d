# Generates the launcher's key slot (payload/payload_key.h) from a PEM
# RSA-2048 public key (MSILAUNCH_PUBLIC_KEY), or leaves it empty
# (MSILAUNCH_EMPTY_KEY_SLOT) for a stub that vendors stamp with
# `msilaunch-pack set-key`. Without either, the throwaway test key is
# embedded, and we say loudly what that means. A build that must ship
# (MSILAUNCH_REQUIRE_KEY) takes a real key or an empty slot, never a key of
# tests/keys, whose private halves are public.
find_program(MSILAUNCH_OPENSSL_TOOL openssl REQUIRED)

# The modulus of `key` as hex digits, most significant first; fails the
# configuration unless it is a PEM RSA-2048 public key with exponent 65537.
function(msilaunch_key_modulus key out)
  execute_process(COMMAND ${MSILAUNCH_OPENSSL_TOOL} pkey -pubin -in "${key}" -noout -text
                  OUTPUT_VARIABLE text RESULT_VARIABLE result ERROR_QUIET)
  if(NOT result EQUAL 0 OR NOT text MATCHES "Public-Key: \\(2048 bit\\)" OR NOT text MATCHES "Exponent: 65537 ")
    message(FATAL_ERROR "${key} is not a PEM RSA-2048 public key with exponent 65537")
  endif()
  execute_process(COMMAND ${MSILAUNCH_OPENSSL_TOOL} rsa -pubin -in "${key}" -noout -modulus
                  OUTPUT_VARIABLE modulus OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE "^Modulus=" "" modulus "${modulus}")
  string(LENGTH "${modulus}" length)
  if(NOT length EQUAL 512)
    message(FATAL_ERROR "unexpected modulus length in ${key}")
  endif()
  string(TOUPPER "${modulus}" modulus)
  set(${out} "${modulus}" PARENT_SCOPE)
endfunction()

set(_msilaunch_test_key "${CMAKE_CURRENT_SOURCE_DIR}/tests/keys/test-key.pub.pem")
set(_msilaunch_key "")
if(MSILAUNCH_EMPTY_KEY_SLOT AND NOT MSILAUNCH_PUBLIC_KEY STREQUAL "")
  message(FATAL_ERROR "MSILAUNCH_EMPTY_KEY_SLOT and MSILAUNCH_PUBLIC_KEY exclude each other: choose one")
elseif(MSILAUNCH_EMPTY_KEY_SLOT)
  message(STATUS "Key slot left empty: this launcher installs nothing until "
                 "`msilaunch-pack set-key` stamps a key into it")
elseif(MSILAUNCH_PUBLIC_KEY STREQUAL "")
  if(MSILAUNCH_REQUIRE_KEY)
    message(FATAL_ERROR "This preset builds a shipping launcher: set -DMSILAUNCH_PUBLIC_KEY=/path/to/key.pub.pem, "
                        "or -DMSILAUNCH_EMPTY_KEY_SLOT=ON for a stub that is stamped with msilaunch-pack set-key")
  endif()
  message(WARNING "MSILAUNCH_PUBLIC_KEY is not set: embedding the test key from tests/keys. "
                  "This launcher accepts payloads signed by a key whose private half is public.")
  set(_msilaunch_key "${_msilaunch_test_key}")
else()
  set(_msilaunch_key "${MSILAUNCH_PUBLIC_KEY}")
endif()

set(_slot_state "0, 0, 0, 0")
set(_bytes "")
if(_msilaunch_key)
  msilaunch_key_modulus("${_msilaunch_key}" _modulus)
  if(MSILAUNCH_REQUIRE_KEY)
    # By modulus, so that a copy of a test key under another name is refused too.
    file(GLOB _test_keys "${CMAKE_CURRENT_SOURCE_DIR}/tests/keys/*.pub.pem")
    foreach(_test_key IN LISTS _test_keys)
      msilaunch_key_modulus("${_test_key}" _test_modulus)
      if(_modulus STREQUAL _test_modulus)
        message(FATAL_ERROR "${_msilaunch_key} is the test key ${_test_key}, whose private half is public: "
                            "a shipping launcher needs a key of its own")
      endif()
    endforeach()
  endif()
  set(_slot_state "1, 0, 0, 0")
  # The slot stores the modulus least significant byte first.
  set(_i 510)
  while(_i GREATER_EQUAL 0)
    string(SUBSTRING "${_modulus}" ${_i} 2 _b)
    string(APPEND _bytes "0x${_b},")
    math(EXPR _i "${_i} - 2")
  endwhile()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_msilaunch_key}")
  set(_origin "Generated from ${_msilaunch_key}")
else()
  set(_origin "Generated as an empty key slot")
endif()

set(MSILAUNCH_KEY_SOURCE "${CMAKE_BINARY_DIR}/generated/payload_key_slot.cpp")
file(CONFIGURE OUTPUT "${MSILAUNCH_KEY_SOURCE}" CONTENT
"// ${_origin}. Do not edit.
#include \"payload/payload_key.h\"
// used: the slot must stay in the image even where nothing reads it, so that
// the packer always finds it. No bindings: those name payloads, which exist
// only after the build (msilaunch-pack set-key --bind).
extern const uint8_t kPayloadKeySlot[kKeySlotSize] __attribute__((used)) = {
    MSILAUNCH_KEY_SLOT_HEAD, ${_slot_state},
    ${_bytes}};
")
