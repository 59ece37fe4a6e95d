# Generates the modulus of the launcher's built-in payload key from a PEM
# RSA-2048 public key (MSILAUNCH_PUBLIC_KEY). Without one, the throwaway test
# key is embedded, and we say loudly what that means.
set(_msilaunch_test_key "${CMAKE_CURRENT_SOURCE_DIR}/tests/keys/test-key.pub.pem")
if(MSILAUNCH_PUBLIC_KEY STREQUAL "")
  if(MSILAUNCH_REQUIRE_KEY)
    message(FATAL_ERROR "This preset builds a shipping launcher: set -DMSILAUNCH_PUBLIC_KEY=/path/to/key.pub.pem")
  endif()
  message(WARNING "MSILAUNCH_PUBLIC_KEY is not set: embedding the test key from tests/keys. "
                  "This launcher accepts payloads signed by a key whose private half is public.")
  set(_msilaunch_key "${_msilaunch_test_key}")
else()
  set(_msilaunch_key "${MSILAUNCH_PUBLIC_KEY}")
endif()

find_program(MSILAUNCH_OPENSSL_TOOL openssl REQUIRED)
execute_process(COMMAND ${MSILAUNCH_OPENSSL_TOOL} pkey -pubin -in "${_msilaunch_key}" -noout -text
                OUTPUT_VARIABLE _key_text RESULT_VARIABLE _key_result ERROR_QUIET)
if(NOT _key_result EQUAL 0 OR NOT _key_text MATCHES "Public-Key: \\(2048 bit\\)"
   OR NOT _key_text MATCHES "Exponent: 65537 ")
  message(FATAL_ERROR "${_msilaunch_key} is not a PEM RSA-2048 public key with exponent 65537")
endif()
execute_process(COMMAND ${MSILAUNCH_OPENSSL_TOOL} rsa -pubin -in "${_msilaunch_key}" -noout -modulus
                OUTPUT_VARIABLE _modulus OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX REPLACE "^Modulus=" "" _modulus "${_modulus}")
string(LENGTH "${_modulus}" _len)
if(NOT _len EQUAL 512)
  message(FATAL_ERROR "unexpected modulus length in ${_msilaunch_key}")
endif()
# The blob stores the modulus least significant byte first.
set(_bytes "")
set(_i 510)
while(_i GREATER_EQUAL 0)
  string(SUBSTRING "${_modulus}" ${_i} 2 _b)
  string(APPEND _bytes "0x${_b},")
  math(EXPR _i "${_i} - 2")
endwhile()
set(MSILAUNCH_KEY_SOURCE "${CMAKE_BINARY_DIR}/generated/payload_key_modulus.cpp")
file(CONFIGURE OUTPUT "${MSILAUNCH_KEY_SOURCE}" CONTENT
"// Generated from ${_msilaunch_key}. Do not edit.
#include \"payload/payload_key.h\"
extern const uint8_t kPayloadKeyModulus[256] = {${_bytes}};
")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_msilaunch_key}")
