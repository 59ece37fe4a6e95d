#include "payload/record_decoding.h"

#include <zlib.h>

// The launcher's record format is defined in terms of the classic RSA calls,
// and the static libcrypto it links provides them; OpenSSL 3 merely marks
// them deprecated.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>  // b2i_PublicKey
#include <openssl/rsa.h>
#include <openssl/sha.h>

#include <cstring>

#include "base/platform.h"
#include "payload/payload_key.h"

PublicKeyBlobLoader gLoadPublicKeyBlob = b2i_PublicKey;

uint32_t InflateChunkSize(uint32_t inputSize) { return inputSize < 256 ? 256 : inputSize / 8; }

bool GrowOutputCapacity(uint32_t outputSize, uint32_t chunk, uint32_t* capacity) {
  // The content size is a u32 everywhere downstream; a stream that would
  // inflate past it must fail rather than wrap into a small block.
  if (chunk > UINT32_MAX - outputSize) return false;
  *capacity = outputSize + chunk;
  return true;
}

namespace {

// Ends the stream and drops the partial output: every failure after
// inflateInit leaves through here so no block or zlib state outlives it.
int AbandonInflate(z_stream* stream, uint8_t* block, int status) {
  inflateEnd(stream);
  platform::FreeBlock(block);
  return status;
}

uint32_t SiteLine(RecordKind kind, uint32_t manifestLine, uint32_t fileLine) {
  return kind == RecordKind::Manifest ? manifestLine : fileLine;
}

// RSASSA-PKCS1-v1_5 over the content's SHA-256 `digest` against a key assembled afresh
// from `payloadKey`'s modulus, and for a manifest the key's bindings. Nothing
// from one check is reused by the next, so a key object can never be shared
// across payloads. No key (an empty key slot) is a key that cannot be loaded.
ErrorPair VerifyContent(const PayloadKey* payloadKey, const LocatedRecord& record,
                        const uint8_t digest[kContentDigestSize]) {
  EVP_PKEY* key = nullptr;
  if (payloadKey) {
    uint8_t blob[kPublicKeyBlobSize];
    AssemblePublicKeyBlob(payloadKey->modulus, blob);
    const uint8_t* cursor = blob;
    key = gLoadPublicKeyBlob(&cursor, kPublicKeyBlobSize);
  }
  RSA* rsa = key ? EVP_PKEY_get1_RSA(key) : nullptr;
  constexpr uint32_t kKeyNotLoadedManifest = 599, kKeyNotLoadedFile = 739;
  if (!rsa) {
    EVP_PKEY_free(key);
    return ErrorPair{ErrorCode::BadKey, SiteLine(record.kind, kKeyNotLoadedManifest, kKeyNotLoadedFile)};
  }

  const int verified =
      RSA_verify(NID_sha256, digest, kContentDigestSize, record.signature, record.signatureSize, rsa);
  RSA_free(rsa);
  EVP_PKEY_free(key);

  // A manifest the key signed but the slot is not bound to is, to the
  // launcher, no more its vendor's than a forged one: no pair of its own.
  constexpr uint32_t kNotVerifiedFile = 732;
  if (verified != 1 || (record.kind == RecordKind::Manifest && !BindsManifest(*payloadKey, digest)))
    return ErrorPair{ErrorCode::FileCorrupt, SiteLine(record.kind, kNotVerifiedManifest, kNotVerifiedFile)};
  return ErrorPair{ErrorCode::Success, 0};
}

}  // namespace

int InflateToBuffer(const uint8_t* input, uint32_t inputSize, uint8_t** output, uint32_t* outputSize) {
  *output = nullptr;
  *outputSize = 0;
  const uint32_t chunk = InflateChunkSize(inputSize);

  z_stream stream;
  std::memset(&stream, 0, sizeof stream);
  int status = inflateInit(&stream);
  if (status != Z_OK) return status;

  uint8_t* block = nullptr;
  uint32_t size = 0;
  uint32_t consumed = 0;
  status = Z_OK;
  do {
    const uint32_t left = inputSize - consumed;
    const uint32_t n = left < chunk ? left : chunk;
    if (n == 0) break;
    stream.next_in = const_cast<Bytef*>(input + consumed);
    stream.avail_in = n;
    do {
      uint32_t capacity;
      void* grown = nullptr;
      if (GrowOutputCapacity(size, chunk, &capacity))
        grown = block ? platform::GrowBlock(block, capacity, 0) : platform::AllocBlock(capacity, 0);
      if (!grown) return AbandonInflate(&stream, block, Z_MEM_ERROR);
      block = static_cast<uint8_t*>(grown);

      stream.next_out = block + size;
      stream.avail_out = chunk;
      status = inflate(&stream, Z_NO_FLUSH);
      if (status == Z_MEM_ERROR || status == Z_DATA_ERROR) return AbandonInflate(&stream, block, status);
      if (status == Z_STREAM_ERROR || status == Z_NEED_DICT) return AbandonInflate(&stream, block, Z_DATA_ERROR);
      size += chunk - stream.avail_out;
    } while (stream.avail_out == 0);
    consumed += n - stream.avail_in;
  } while (status != Z_STREAM_END);

  // Input that ran out before the stream's end is as bad as a corrupt one.
  if (status != Z_STREAM_END) return AbandonInflate(&stream, block, Z_DATA_ERROR);
  inflateEnd(&stream);
  *output = block;
  *outputSize = size;
  return Z_OK;
}

ErrorPair DecodeRecordWithKey(const PayloadKey* key, uint32_t flags, const LocatedRecord& record,
                              uint8_t** content, uint32_t* contentSize) {
  *content = nullptr;
  *contentSize = 0;

  // A signed file record with an empty data part is decoded like any other:
  // handing its signature part out as content unverified would let anyone
  // who can append to the file's unsigned tail inject a file of their choice.
  uint8_t* block = nullptr;
  uint32_t size = 0;
  ErrorPair result;
  if (flags & PayloadFlagCompressed) {
    constexpr uint32_t kInflatedManifest = 547, kInflatedFile = 687;
    constexpr uint32_t kInflateFailedManifest = 551, kInflateFailedFile = 691;
    if (InflateToBuffer(record.data, record.dataSize, &block, &size) != Z_OK)
      return ErrorPair{ErrorCode::InvalidData, SiteLine(record.kind, kInflateFailedManifest, kInflateFailedFile)};
    result = ErrorPair{ErrorCode::Success, SiteLine(record.kind, kInflatedManifest, kInflatedFile)};
  } else {
    constexpr uint32_t kCopiedManifest = 562, kCopiedFile = 702;
    constexpr uint32_t kNoMemoryManifest = 566, kNoMemoryFile = 706;
    block = static_cast<uint8_t*>(platform::AllocBlock(record.dataSize, 0));
    if (!block)
      return MakeErrorPair(&platform::LastError, ErrorCode::NotEnoughMemory,
                           SiteLine(record.kind, kNoMemoryManifest, kNoMemoryFile));
    if (record.dataSize) std::memcpy(block, record.data, record.dataSize);
    size = record.dataSize;
    result = ErrorPair{ErrorCode::Success, SiteLine(record.kind, kCopiedManifest, kCopiedFile)};
  }

  if (flags & PayloadFlagSigned) {
    uint8_t computed[kContentDigestSize];
    DigestBytes(block, size, computed);
    const ErrorPair verified = VerifyContent(key, record, computed);
    if (verified.code != ErrorCode::Success) {
      platform::FreeBlock(block);
      return verified;
    }
  }
  *content = block;
  *contentSize = size;
  return result;
}

ErrorPair DecodeRecord(uint32_t flags, const LocatedRecord& record, uint8_t** content, uint32_t* contentSize) {
  PayloadKey key;
  return DecodeRecordWithKey(LoadBuiltInKey(&key), flags, record, content, contentSize);
}

ErrorPair ReadRecordWithKey(const PayloadKey* key, const PayloadItem& payload, const Guid16& type, uint32_t id,
                            uint8_t** content, uint32_t* contentSize) {
  *content = nullptr;
  *contentSize = 0;
  LocatedRecord record;
  if (!LocateRecord(payload.raw, payload.rawSize, type, id, &record))
    return ErrorPair{ErrorCode::NotFound, kRecordNotFound};
  return DecodeRecordWithKey(key, payload.flags, record, content, contentSize);
}

ErrorPair ReadRecord(const PayloadItem& payload, const Guid16& type, uint32_t id, uint8_t** content,
                     uint32_t* contentSize) {
  PayloadKey key;
  return ReadRecordWithKey(LoadBuiltInKey(&key), payload, type, id, content, contentSize);
}
