#include "payload/carriers.h"

#include "payload/payload_key.h"

#include <cstring>

#include "base/platform.h"
#include "payload/pe_image.h"
#include "payload/record_decoding.h"

extern const char PayloadExtensionOid[] =
    "1.2.840.113556.1.8000.2554.2951.50896.53846.17503.37240.13145692.12219546";

namespace {

constexpr uint32_t kPayloadFlags = PayloadFlagCompressed | PayloadFlagSigned;

// The signed message of the file's first WIN_CERTIFICATE entry, as a span
// inside the file; false when the file has no usable signature to look into.
// The launcher is a PE32 file and looks into no other kind (its x86-64 test
// build reads only its tail), and it takes the security directory entry as
// it stands. A first entry that is no usable signature leaves the file
// unsigned, so the file-tail carrier gets its chance.
bool FindSignedMessage(ByteView file, ByteView* message) {
  PeImage image;
  if (ReadPeImage(file, &image) != PeHeaders::Complete || image.magic != kPe32Magic) return false;
  return ReadFirstCertificate(file, image.tableOffset, image.tableSize, message) == CertificateTable::Usable;
}

// Copies `size` bytes into a fresh item and reads its manifest. On code 0
// the item owns both blocks; otherwise it owns nothing. `copyLine` is the
// site of a failed copy.
ErrorPair MakeItem(const PayloadKey* key, const uint8_t* bytes, uint32_t size, uint32_t copyLine,
                   PayloadItem* item) {
  *item = PayloadItem{};
  item->flags = kPayloadFlags;
  item->rawSize = size;
  item->raw = static_cast<uint8_t*>(platform::AllocBlock(size, 0));
  if (!item->raw) return MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, copyLine);
  if (size) std::memcpy(item->raw, bytes, size);
  const ErrorPair pair =
      ReadRecordWithKey(key, *item, ManifestRecordType, 0, &item->manifest, &item->manifestSize);
  if (pair.code != 0) {
    platform::FreeBlock(item->raw);
    *item = PayloadItem{};
  }
  return pair;
}

// Adds a made item to the list, or releases it and reports `line`.
ErrorPair AddItem(PayloadList* list, PayloadItem* item, ErrorPair pair, uint32_t line) {
  if (AppendPayload(list, *item)) return pair;
  const ErrorPair failure = MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, line);
  platform::FreeBlock(item->raw);
  platform::FreeBlock(item->manifest);
  *item = PayloadItem{};
  return failure;
}

// Every matching extension of one decoded certificate becomes an item.
ErrorPair ReadExtensions(const PayloadKey* key, const Certificate* certificate, PayloadList* list,
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
    pair = MakeItem(key, extension.value, extension.valueSize, kExtensionNotCopied, &item);
    if (pair.code == 0) pair = AddItem(list, &item, pair, kExtensionNotAdded);
    if (pair.code != 0) break;
  }
  return pair;
}

// Runs the certificate loop over an opened and filled message.
ErrorPair ReadCertificates(const PayloadKey* key, SignedMessage* message, PayloadList* list, ErrorPair pair) {
  uint32_t certificateCount = 0;
  constexpr uint32_t kCertificateCountUnknown = 846;
  if (!platform::GetCertificateCount(message, &certificateCount))
    return MakeErrorPair(&platform::LastError, ErrorCode::InvalidArg, kCertificateCountUnknown);
  for (uint32_t i = 0; i < certificateCount; ++i) {
    uint32_t derSize = 0;
    constexpr uint32_t kCertificateSizeUnknown = 937;
    if (!platform::GetCertificateEncoding(message, i, nullptr, &derSize))
      return MakeErrorPair(&platform::LastError, ErrorCode::InvalidArg, kCertificateSizeUnknown);
    auto* der = static_cast<uint8_t*>(platform::AllocBlock(derSize, 0));
    constexpr uint32_t kCertificateNoMemory = 932;
    if (!der) return MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory, kCertificateNoMemory);
    constexpr uint32_t kCertificateNotFetched = 924;
    if (!platform::GetCertificateEncoding(message, i, der, &derSize)) {
      pair = MakeErrorPair(&platform::LastError, ErrorCode::InvalidArg, kCertificateNotFetched);
      platform::FreeBlock(der);
      return pair;
    }
    Certificate* certificate = platform::DecodeCertificate(der, derSize);
    constexpr uint32_t kCertificateNotDecoded = 919;
    if (!certificate) {
      pair = MakeErrorPair(&platform::LastError, ErrorCode::InvalidArg, kCertificateNotDecoded);
      platform::FreeBlock(der);
      return pair;
    }
    pair = ReadExtensions(key, certificate, list, pair);
    platform::FreeCertificate(certificate);
    platform::FreeBlock(der);
    if (pair.code != 0) break;
  }
  return pair;
}

}  // namespace

ErrorPair ReadCertificatePayloadsWithKey(const PayloadKey* key, const uint8_t* file, uint32_t fileSize,
                                         PayloadList* list) {
  SetPayloadListKey(list, key);
  constexpr uint32_t kNoCertificatePayload = 789;  // not signed, or no extension of ours: no failure
  const ErrorPair nothing{ErrorCode::Success, kNoCertificatePayload};
  ByteView signedMessage{};
  if (!FindSignedMessage(ByteView{file, fileSize}, &signedMessage)) return nothing;

  SignedMessage* message = platform::OpenSignedMessage();
  constexpr uint32_t kMessageNotOpened = 831;
  if (!message) return MakeErrorPair(&platform::LastError, ErrorCode::InvalidArg, kMessageNotOpened);
  ErrorPair pair = nothing;
  constexpr uint32_t kMessageNotUpdated = 837;
  // Inside the file, so its size fits the file's u32.
  if (!platform::UpdateSignedMessage(message, signedMessage.data, static_cast<uint32_t>(signedMessage.size)))
    pair = MakeErrorPair(&platform::LastError, ErrorCode::InvalidArg, kMessageNotUpdated);
  else
    pair = ReadCertificates(key, message, list, pair);
  platform::CloseSignedMessage(message);
  return pair;
}

ErrorPair ReadTailPayloadWithKey(const PayloadKey* key, const uint8_t* file, uint32_t fileSize, PayloadList* list) {
  SetPayloadListKey(list, key);
  PayloadItem item;
  constexpr uint32_t kTailNotCopied = 2016, kTailNotAdded = 2001;
  const ErrorPair pair = MakeItem(key, file, fileSize, kTailNotCopied, &item);
  if (pair.code != 0) return pair;
  return AddItem(list, &item, pair, kTailNotAdded);
}

ErrorPair ReadCertificatePayloads(const uint8_t* file, uint32_t fileSize, PayloadList* list) {
  PayloadKey key;
  return ReadCertificatePayloadsWithKey(LoadBuiltInKey(&key), file, fileSize, list);
}

ErrorPair ReadTailPayload(const uint8_t* file, uint32_t fileSize, PayloadList* list) {
  PayloadKey key;
  return ReadTailPayloadWithKey(LoadBuiltInKey(&key), file, fileSize, list);
}
