#include "payload/carriers.h"

#include "payload/payload_key.h"

#include <cstring>

#include "base/platform.h"
#include "payload/record_decoding.h"

extern const char PayloadExtensionOid[] =
    "1.2.840.113556.1.8000.2554.2951.50896.53846.17503.37240.13145692.12219546";

namespace {

constexpr uint32_t kPayloadFlags = PayloadFlagCompressed | PayloadFlagSigned;

// PE32 layout, as file offsets relative to e_lfanew where noted.
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kLfanewOffset = 0x3C;
constexpr uint32_t kPe32HeadersSize = 248;  // signature + file header + PE32 optional header
constexpr uint32_t kPeSignature = 0x00004550;
constexpr uint32_t kOptionalMagicOffset = 24;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint32_t kSecurityDirectoryOffset = 152;
constexpr uint32_t kWinCertificateHeaderSize = 8;

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The signed message of the file's first WIN_CERTIFICATE entry, as a span
// inside the file; false when the file has no usable signature to look into.
bool FindSignedMessage(const uint8_t* file, uint32_t fileSize, const uint8_t** message, uint32_t* messageSize) {
  if (fileSize < kDosHeaderSize) return false;
  if (file[0] != 'M' || file[1] != 'Z') return false;
  // 64-bit sums: a huge e_lfanew or table offset must not wrap into range.
  const uint32_t lfanew = ReadU32(file + kLfanewOffset);
  if (static_cast<uint64_t>(lfanew) + kPe32HeadersSize > fileSize) return false;
  const uint8_t* pe = file + lfanew;
  if (ReadU32(pe) != kPeSignature) return false;
  if (ReadU16(pe + kOptionalMagicOffset) != kPe32Magic) return false;
  const uint32_t tableOffset = ReadU32(pe + kSecurityDirectoryOffset);
  const uint32_t tableSize = ReadU32(pe + kSecurityDirectoryOffset + 4);
  if (tableSize < kWinCertificateHeaderSize) return false;
  if (static_cast<uint64_t>(tableOffset) + tableSize > fileSize) return false;
  // A first entry shorter than its own header or longer than the table
  // would hand the decoder bytes outside the table (or a wrapped length);
  // such an entry is not a usable signature, so the file is treated as
  // unsigned and the file-tail carrier gets its chance.
  const uint32_t entryLength = ReadU32(file + tableOffset);
  if (entryLength < kWinCertificateHeaderSize || entryLength > tableSize) return false;
  *message = file + tableOffset + kWinCertificateHeaderSize;
  *messageSize = entryLength - kWinCertificateHeaderSize;
  return true;
}

// Copies `size` bytes into a fresh item and reads its manifest. On code 0
// the item owns both blocks; otherwise it owns nothing. `copyLine` is the
// site of a failed copy.
ErrorPair MakeItem(const uint8_t* modulus, const uint8_t* bytes, uint32_t size, uint32_t copyLine,
                   PayloadItem* item) {
  *item = PayloadItem{};
  item->flags = kPayloadFlags;
  item->rawSize = size;
  item->raw = static_cast<uint8_t*>(platform::AllocBlock(size, 0));
  if (!item->raw) return MakeErrorPair(platform::LastError, ErrorCode::NotEnoughMemory, copyLine);
  if (size) std::memcpy(item->raw, bytes, size);
  const ErrorPair pair =
      ReadRecordWithKey(modulus, *item, ManifestRecordType, 0, &item->manifest, &item->manifestSize);
  if (pair.code != 0) {
    platform::FreeBlock(item->raw);
    *item = PayloadItem{};
  }
  return pair;
}

// Adds a made item to the list, or releases it and reports `line`.
ErrorPair AddItem(PayloadList* list, PayloadItem* item, ErrorPair pair, uint32_t line) {
  if (AppendPayload(list, *item)) return pair;
  const ErrorPair failure = MakeErrorPair(platform::LastError, ErrorCode::NotEnoughMemory, line);
  platform::FreeBlock(item->raw);
  platform::FreeBlock(item->manifest);
  *item = PayloadItem{};
  return failure;
}

// Every matching extension of one decoded certificate becomes an item.
ErrorPair ReadExtensions(const uint8_t* modulus, const Certificate* certificate, PayloadList* list,
                         ErrorPair pair) {
  const uint32_t extensionCount = platform::GetExtensionCount(certificate);
  for (uint32_t j = 0; j < extensionCount; ++j) {
    CertificateExtension extension{};
    // An extension the decoder cannot show us cannot be recognised as ours
    // either; it is stepped over like any foreign extension.
    if (!platform::GetExtension(certificate, j, &extension)) continue;
    if (extension.critical) continue;
    if (!extension.oid || std::strcmp(extension.oid, PayloadExtensionOid) != 0) continue;
    PayloadItem item;
    constexpr uint32_t kExtensionNotCopied = 907, kExtensionNotAdded = 892;
    pair = MakeItem(modulus, extension.value, extension.valueSize, kExtensionNotCopied, &item);
    if (pair.code == 0) pair = AddItem(list, &item, pair, kExtensionNotAdded);
    if (pair.code != 0) break;
  }
  return pair;
}

// Runs the certificate loop over an opened and filled message.
ErrorPair ReadCertificates(const uint8_t* modulus, SignedMessage* message, PayloadList* list, ErrorPair pair) {
  uint32_t certificateCount = 0;
  constexpr uint32_t kCertificateCountUnknown = 846;
  if (!platform::GetCertificateCount(message, &certificateCount))
    return MakeErrorPair(platform::LastError, ErrorCode::InvalidArg, kCertificateCountUnknown);
  for (uint32_t i = 0; i < certificateCount; ++i) {
    uint32_t derSize = 0;
    constexpr uint32_t kCertificateSizeUnknown = 937;
    if (!platform::GetCertificateEncoding(message, i, nullptr, &derSize))
      return MakeErrorPair(platform::LastError, ErrorCode::InvalidArg, kCertificateSizeUnknown);
    auto* der = static_cast<uint8_t*>(platform::AllocBlock(derSize, 0));
    constexpr uint32_t kCertificateNoMemory = 932;
    if (!der) return MakeErrorPair(platform::LastError, ErrorCode::NotEnoughMemory, kCertificateNoMemory);
    constexpr uint32_t kCertificateNotFetched = 924;
    if (!platform::GetCertificateEncoding(message, i, der, &derSize)) {
      pair = MakeErrorPair(platform::LastError, ErrorCode::InvalidArg, kCertificateNotFetched);
      platform::FreeBlock(der);
      return pair;
    }
    Certificate* certificate = platform::DecodeCertificate(der, derSize);
    constexpr uint32_t kCertificateNotDecoded = 919;
    if (!certificate) {
      pair = MakeErrorPair(platform::LastError, ErrorCode::InvalidArg, kCertificateNotDecoded);
      platform::FreeBlock(der);
      return pair;
    }
    pair = ReadExtensions(modulus, certificate, list, pair);
    platform::FreeCertificate(certificate);
    platform::FreeBlock(der);
    if (pair.code != 0) break;
  }
  return pair;
}

}  // namespace

ErrorPair ReadCertificatePayloadsWithKey(const uint8_t modulus[256], const uint8_t* file, uint32_t fileSize,
                                         PayloadList* list) {
  constexpr uint32_t kNoCertificatePayload = 789;  // not signed, or no extension of ours: no failure
  const ErrorPair nothing{ErrorCode::Success, kNoCertificatePayload};
  const uint8_t* signedBytes = nullptr;
  uint32_t signedSize = 0;
  if (!FindSignedMessage(file, fileSize, &signedBytes, &signedSize)) return nothing;

  SignedMessage* message = platform::OpenSignedMessage();
  constexpr uint32_t kMessageNotOpened = 831;
  if (!message) return MakeErrorPair(platform::LastError, ErrorCode::InvalidArg, kMessageNotOpened);
  ErrorPair pair = nothing;
  constexpr uint32_t kMessageNotUpdated = 837;
  if (!platform::UpdateSignedMessage(message, signedBytes, signedSize))
    pair = MakeErrorPair(platform::LastError, ErrorCode::InvalidArg, kMessageNotUpdated);
  else
    pair = ReadCertificates(modulus, message, list, pair);
  platform::CloseSignedMessage(message);
  return pair;
}

ErrorPair ReadTailPayloadWithKey(const uint8_t modulus[256], const uint8_t* file, uint32_t fileSize,
                                 PayloadList* list) {
  PayloadItem item;
  constexpr uint32_t kTailNotCopied = 2016, kTailNotAdded = 2001;
  const ErrorPair pair = MakeItem(modulus, file, fileSize, kTailNotCopied, &item);
  if (pair.code != 0) return pair;
  return AddItem(list, &item, pair, kTailNotAdded);
}

ErrorPair ReadCertificatePayloads(const uint8_t* file, uint32_t fileSize, PayloadList* list) {
  return ReadCertificatePayloadsWithKey(kPayloadKeyModulus, file, fileSize, list);
}

ErrorPair ReadTailPayload(const uint8_t* file, uint32_t fileSize, PayloadList* list) {
  return ReadTailPayloadWithKey(kPayloadKeyModulus, file, fileSize, list);
}
