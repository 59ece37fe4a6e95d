// The executables tests/tools/make_test_exes.cmake builds for the test run,
// and osslsigncode's verdict on a file.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "packer/writer/payload_writer.h"

// "unsigned.exe" or "signed.exe" from the build tree's test_exes folder.
ByteVector LoadTestExe(const std::string& name);

struct SignatureCheck {
  bool verified = false;          // osslsigncode verify exited with 0 and said "Signature verification: ok"
  std::string currentDigest;      // the digest the signature states
  std::string calculatedDigest;   // the digest of the file as it is
  bool checksumMismatch = false;  // osslsigncode reported a wrong PE checksum
  std::string output;
};

// Runs `osslsigncode verify` on `file` with the test signer as the trusted root.
SignatureCheck VerifyWithOsslsigncode(const ByteVector& file);

// Little-endian fields of a PE32 test file: a u32 at a file offset,
// e_lfanew, and the security directory's offset and size.
inline uint32_t U32At(const ByteVector& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}
inline void SetU32At(ByteVector* b, size_t at, uint32_t v) { std::memcpy(b->data() + at, &v, 4); }
inline uint32_t Lfanew(const ByteVector& b) { return U32At(b, 0x3C); }
inline uint32_t TableOffset(const ByteVector& b) { return U32At(b, Lfanew(b) + 152); }
inline uint32_t TableSize(const ByteVector& b) { return U32At(b, Lfanew(b) + 156); }
