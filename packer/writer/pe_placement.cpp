#include "packer/writer/pe_placement.h"

#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "base/byte_view.h"
#include "packer/writer/carrier_certificate.h"
#include "payload/carriers.h"
#include "payload/pe_image.h"

namespace {

constexpr uint32_t kTableAlignment = 8;

uint64_t AlignUp(uint64_t value) { return (value + kTableAlignment - 1) / kTableAlignment * kTableAlignment; }

ByteView ViewOf(const ByteVector& bytes) { return ByteView{bytes.data(), bytes.size()}; }

// What the placements need to know of a PE image: its headers, and its
// certificate table as the image declares it.
struct PeLayout {
  PeImage image;
  uint32_t tableOffset;  // 0 and 0 when the image declares no security directory
  uint32_t tableSize;
};

bool ReadPeLayout(const ByteVector& exe, PeLayout* layout, std::string* error) {
  switch (ReadPeImage(ViewOf(exe), &layout->image)) {
    case PeHeaders::NoDosHeader: *error = "not a PE image: no MZ header"; return false;
    case PeHeaders::NoPeSignature: *error = "not a PE image: no PE signature"; return false;
    case PeHeaders::UnknownMagic: *error = "not a PE image: unknown optional header magic"; return false;
    case PeHeaders::Truncated:
      *error = layout->image.magic == kPe32Magic ? "truncated PE32 optional header" : "truncated PE32+ optional header";
      return false;
    case PeHeaders::Complete: break;
  }
  layout->tableOffset = 0;
  layout->tableSize = 0;
  // A PE32+ table is read only so that a signed x86-64 image is not given
  // bytes behind its signature; the launcher never looks into one.
  if (IsSignedImage(layout->image)) {
    layout->tableOffset = layout->image.tableOffset;
    layout->tableSize = layout->image.tableSize;
  }
  return true;
}

// The PE checksum: 16-bit one's-complement-style sum of the file with the
// checksum field taken as 0, plus the file length. The loader ignores it for
// executables, but signing tools set it and verifiers report a mismatch.
uint32_t PeChecksum(const ByteVector& file, size_t checksumAt) {
  uint64_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 2) {
    if (i == checksumAt || i == checksumAt + 2) continue;
    uint32_t word = file[i];
    if (i + 1 < file.size()) word |= static_cast<uint32_t>(file[i + 1]) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + file.size());
}

// False when the field lies outside `file` (never for a layout read from the
// bytes `file` was grown from).
bool UpdateChecksum(ByteVector* file, const PeLayout& layout) {
  const uint64_t at = layout.image.checksumAt;
  uint32_t checksum = 0;
  if (!U32(ViewOf(*file), at, &checksum)) return false;
  if (checksum == 0) return true;  // unset stays unset
  return PutU32(MutableByteView{file->data(), file->size()}, at, PeChecksum(*file, static_cast<size_t>(at)));
}

// The signed image's table, checked to be one entry that ends the file, so
// that it can grow or be replaced without moving anything the hash covers.
bool RequireSignedTableAtEnd(const ByteVector& exe, const PeLayout& layout, uint32_t* entryLength,
                             std::string* error) {
  if (layout.image.magic != kPe32Magic) {
    *error = "not a PE32 image (the launcher is 32-bit)";
    return false;
  }
  ByteView certificate{};
  const CertificateTable table = ReadFirstCertificate(ViewOf(exe), layout.tableOffset, layout.tableSize, &certificate);
  if (table == CertificateTable::Missing) {
    *error = "the image is not signed (no certificate table)";
    return false;
  }
  if (table == CertificateTable::OutsideFile ||
      static_cast<uint64_t>(layout.tableOffset) + layout.tableSize != exe.size()) {
    *error = "the certificate table does not end the file";
    return false;
  }
  if (table == CertificateTable::BadFirstEntry) {
    *error = "the first certificate entry's length does not fit the certificate table";
    return false;
  }
  *entryLength = static_cast<uint32_t>(kWinCertificateHeaderSize + certificate.size);
  if (AlignUp(*entryLength) < layout.tableSize) {
    *error = "the certificate table holds more than one entry";
    return false;
  }
  return true;
}

// Writes a new table size into the security directory and, for a signed
// image, into the first entry; the checksum follows. False as UpdateChecksum.
bool SetTableSize(ByteVector* file, const PeLayout& layout, uint32_t size) {
  const MutableByteView view{file->data(), file->size()};
  return PutU32(view, layout.image.securityEntryAt + 4, size) && PutU32(view, layout.tableOffset, size) &&
         UpdateChecksum(file, layout);
}

struct OpenSslFree {
  void operator()(X509* p) const { X509_free(p); }
  void operator()(PKCS7* p) const { PKCS7_free(p); }
};
template <typename T>
using OsslPtr = std::unique_ptr<T, OpenSslFree>;

}  // namespace

bool IsSignedImage(const PeImage& image) { return DeclaresSecurityDirectory(image) && image.tableSize != 0; }

bool RecomputePeChecksum(ByteVector* file) {
  PeLayout layout;
  std::string error;
  return ReadPeLayout(*file, &layout, &error) && UpdateChecksum(file, layout);
}

bool PlaceStackAtEnd(const ByteVector& exe, const ByteVector& stack, ByteVector* out, std::string* error) {
  PeLayout layout;
  if (!ReadPeLayout(exe, &layout, error)) return false;
  if (IsSignedImage(layout.image)) {
    // Bytes behind a signed image's table would enter its hash and break
    // the signature; such a file takes the stack inside its table.
    *error = "the image is signed: place the stack inside its certificate table";
    return false;
  }
  if (!FitsLauncherFile(static_cast<uint64_t>(exe.size()) + stack.size())) {
    *error = "the result would exceed 4 GiB";
    return false;
  }
  ByteVector result(exe);
  result.insert(result.end(), stack.begin(), stack.end());
  // The checksum covers the whole file: a set one left as it was would be
  // wrong for the file that ships.
  if (!UpdateChecksum(&result, layout)) {
    *error = "cannot rewrite the PE checksum";
    return false;
  }
  *out = std::move(result);
  return true;
}

bool PlaceStackInCertificateTable(const ByteVector& exe, const ByteVector& stack, ByteVector* out,
                                  std::string* error) {
  PeLayout layout;
  uint32_t entryLength = 0;
  if (!ReadPeLayout(exe, &layout, error) || !RequireSignedTableAtEnd(exe, layout, &entryLength, error))
    return false;
  // Padding goes before the stack: the carrier needs the stack's last byte
  // to be the file's, and the table must stay a multiple of 8 bytes.
  const uint64_t newTableSize = AlignUp(static_cast<uint64_t>(layout.tableSize) + stack.size());
  if (!FitsLauncherFile(layout.tableOffset + newTableSize)) {
    *error = "the result would exceed 4 GiB";
    return false;
  }
  const size_t padding = static_cast<size_t>(newTableSize - layout.tableSize - stack.size());
  ByteVector result(exe);
  result.insert(result.end(), padding, 0);
  result.insert(result.end(), stack.begin(), stack.end());
  if (!SetTableSize(&result, layout, static_cast<uint32_t>(newTableSize))) {
    *error = "cannot rewrite the certificate table's size";
    return false;
  }
  *out = std::move(result);
  return true;
}

bool AddCertificateToSignature(const ByteVector& exe, const std::vector<ExtensionSpec>& extensions,
                               ByteVector* out, std::string* error) {
  PeLayout layout;
  uint32_t entryLength = 0;
  if (!ReadPeLayout(exe, &layout, error) || !RequireSignedTableAtEnd(exe, layout, &entryLength, error))
    return false;
  const uint8_t* message = exe.data() + layout.tableOffset + kWinCertificateHeaderSize;
  const long messageSize = static_cast<long>(entryLength - kWinCertificateHeaderSize);
  const unsigned char* cursor = message;
  OsslPtr<PKCS7> pkcs7(d2i_PKCS7(nullptr, &cursor, messageSize));
  if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get())) {
    *error = "the certificate table does not hold a PKCS#7 signed message";
    return false;
  }
  // Rewriting the table would drop whatever follows the message, such as a
  // record stack placed there earlier.
  const uint8_t* tableEnd = exe.data() + exe.size();
  for (const uint8_t* p = cursor; p < tableEnd; ++p) {
    if (*p != 0) {
      *error = "the certificate table holds data after the signature; add certificates before placing a stack";
      return false;
    }
  }
  OsslPtr<X509> cert(MakeCarrierCertificate(extensions, error));
  if (!cert) return false;
  // PKCS7_add_certificate takes its own reference.
  if (!PKCS7_add_certificate(pkcs7.get(), cert.get())) {
    *error = "cannot add the certificate to the signature";
    return false;
  }
  const int derSize = i2d_PKCS7(pkcs7.get(), nullptr);
  if (derSize <= 0) {
    *error = "cannot encode the signature";
    return false;
  }
  const uint64_t newTableSize = AlignUp(kWinCertificateHeaderSize + static_cast<uint64_t>(derSize));
  if (!FitsLauncherFile(layout.tableOffset + newTableSize)) {
    *error = "the result would exceed 4 GiB";
    return false;
  }
  ByteVector result(exe.begin(), exe.begin() + layout.tableOffset + kWinCertificateHeaderSize);
  result.resize(layout.tableOffset + newTableSize, 0);
  unsigned char* der = result.data() + layout.tableOffset + kWinCertificateHeaderSize;
  i2d_PKCS7(pkcs7.get(), &der);
  if (!SetTableSize(&result, layout, static_cast<uint32_t>(newTableSize))) {
    *error = "cannot rewrite the certificate table's size";
    return false;
  }
  *out = std::move(result);
  return true;
}

bool PlaceStackInCertificate(const ByteVector& exe, const ByteVector& stack, ByteVector* out,
                             std::string* error) {
  ExtensionSpec extension;
  extension.oid = PayloadExtensionOid;
  extension.value = stack;
  return AddCertificateToSignature(exe, {extension}, out, error);
}
