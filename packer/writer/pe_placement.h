// Placing a record stack into a Windows executable so that the launcher's
// carriers find it: at the end of an unsigned file, inside the certificate
// table of a signed one, or as a certificate extension in the signature.
//
// The Authenticode hash skips the PE checksum, the security directory entry
// and the certificate table, so the two signed placements leave the
// signature's message digest unchanged. Each operation takes the file's
// bytes, writes the new file to *out and returns true, or returns false with
// a sentence in *error and *out untouched.
#pragma once

#include <string>
#include <vector>

#include "packer/writer/carrier_certificate.h"
#include "packer/writer/payload_writer.h"
#include "payload/pe_image.h"

// Whether a Complete image (ReadPeImage) is signed, as the packer counts it:
// it declares a security directory and that directory's size is not 0. An
// entry beyond NumberOfRvaAndSizes is no table, whatever bytes stand there.
bool IsSignedImage(const PeImage& image);

// (a) The file must be a PE32 or PE32+ image without a certificate table;
// the stack becomes the file's last bytes.
bool PlaceStackAtEnd(const ByteVector& exe, const ByteVector& stack, ByteVector* out, std::string* error);

// (b) The file must be a signed PE32 image whose certificate table holds one
// entry and ends the file. The stack is appended inside that entry, after
// zero padding that keeps the table a multiple of 8 bytes while the stack's
// last byte stays the file's last byte; the entry's dwLength and the
// security directory's size grow to match and the checksum is recomputed.
bool PlaceStackInCertificateTable(const ByteVector& exe, const ByteVector& stack, ByteVector* out,
                                  std::string* error);

// Recomputes the PE checksum of `file` after its bytes changed, as the
// placements do; an unset (0) checksum stays unset. False when `file` is no
// PE image.
bool RecomputePeChecksum(ByteVector* file);

// (c) The file must be a signed PE32 image whose certificate table holds
// only the signature (and zero padding) and ends the file. A small
// self-signed certificate carrying `extensions` in order is appended to the
// signature's certificate set; the signature is re-encoded and the table
// rewritten (dwLength, directory size, 8-byte alignment, checksum).
bool AddCertificateToSignature(const ByteVector& exe, const std::vector<ExtensionSpec>& extensions,
                               ByteVector* out, std::string* error);

// (c) for one stack: a certificate with one non-critical extension whose
// OID is PayloadExtensionOid and whose value is the stack.
bool PlaceStackInCertificate(const ByteVector& exe, const ByteVector& stack, ByteVector* out,
                             std::string* error);
