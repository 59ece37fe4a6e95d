// The executables tests/tools/make_test_exes.cmake builds for the test run,
// and osslsigncode's verdict on a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/payload_writer.h"

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
