// The extra certificate that carries payloads into a signed image: a small
// self-signed certificate whose extensions hold record stacks, added to the
// signature's certificate set (pe_placement.h). Nothing validates it, so it
// is made the same for the same extensions on every system and in every run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// OpenSSL's X509.
struct x509_st;

// One extension of the extra certificate.
struct ExtensionSpec {
  std::string oid;  // dotted-decimal text
  bool critical = false;
  std::vector<uint8_t> value;  // the content octets of extnValue
};

// A certificate carrying `extensions` in order, signed with a fixed key and
// valid 2020-2049; its serial number is taken from the extensions. The
// caller owns it (X509_free). Null with *error set on failure (an OID that
// is not dotted decimal, a value too large for ASN.1, an OpenSSL failure).
x509_st* MakeCarrierCertificate(const std::vector<ExtensionSpec>& extensions, std::string* error);
