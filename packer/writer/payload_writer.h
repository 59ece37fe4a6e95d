// The making side of the payload format: manifests, signed and compressed
// records, record stacks. A native library (std containers, OpenSSL), used
// by the msilaunch-pack command and by every test that needs a payload.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "packer/writer/private_key.h"
#include "payload/record_stack.h"

using ByteVector = std::vector<uint8_t>;

// OpenSSL's EVP_PKEY.
struct evp_pkey_st;

// The launcher's key blob (payload/payload_key.h) holds only a 2048-bit
// modulus and always states the exponent 65537: a key of any other shape
// signs records no launcher verifies.
constexpr int kSigningKeyBits = 2048;
// Whether `key` is RSA, 2048 bits, exponent 65537.
bool HasLauncherKeyShape(const evp_pkey_st* key);
// The modulus of an RSA-2048 `key`, least significant byte first. False,
// with `modulus` zeroed, when it cannot be read in 256 bytes.
bool ReadKeyModulus(const evp_pkey_st* key, uint8_t modulus[256]);

// An RSA private key for signing records (OpenSSL EVP_PKEY inside).
struct SigningKey;

// Loads a PEM private key of the launcher's shape, decrypting an encrypted
// one with the passphrase from `passphrase` (ReadPemPrivateKey); the caller
// owns it (hold it in a SigningKeyPtr). Null with *error set on failure
// (unreadable file, no or a wrong passphrase, not HasLauncherKeyShape).
SigningKey* LoadSigningKey(const std::string& pemPath, std::string* error,
                           const PassphraseSource& passphrase = PassphraseSource());
// Frees a key from LoadSigningKey; null is ignored.
void FreeSigningKey(SigningKey* key);

struct SigningKeyRelease {
  void operator()(SigningKey* key) const { FreeSigningKey(key); }
};
// A signing key with one owner, freed on every path.
using SigningKeyPtr = std::unique_ptr<SigningKey, SigningKeyRelease>;
// The modulus of the key's public half, least significant byte first
// (ReadKeyModulus).
void SigningKeyModulus(const SigningKey* key, uint8_t modulus[256]);

// Manifest texts: "arch\lcids\{code}\name" and "cab\ids\file".
std::string PackageEntryText(const std::string& architecture, const std::string& lcids,
                             const std::string& productCode, const std::string& productName);
std::string CabEntryText(const std::string& packageIds, const std::string& fileName);

// Appends one manifest entry: id, byte length, then `text` (UTF-8) as
// UTF-16LE including one terminating NUL.
void AppendManifestEntry(ByteVector* manifest, uint32_t id, const std::string& text);

// Compresses `contentSize` bytes at `content` into one zlib stream (RFC
// 1950) at `level`, replacing *out. False with *error set (and *out empty).
using RecordCompressor = bool (*)(const uint8_t* content, size_t contentSize, int level, ByteVector* out,
                                  std::string* error);

// The writer's compressor: zlib's compress2 (levels 0..9). The packer
// passes libdeflate's instead (packer/deflate.h).
bool CompressContent(const uint8_t* content, size_t contentSize, int level, ByteVector* out,
                     std::string* error);

struct RecordEncoding {
  bool compress = true;  // data part: one zlib stream of the content
  bool sign = true;      // signature part: RSA PKCS#1 v1.5 / SHA-256 over the content
  int level = 9;         // compression level, in the compressor's range
  // Deliberately wrong records for tests: sign the data part as stored (the
  // compressed bytes) instead of the content.
  bool signStoredBytes = false;
  RecordCompressor compressor = CompressContent;
};

// The one record encoder: the data part (compressed by
// encoding.compressor, or the content as it is) and the signature part
// (empty when not signing; `key` is needed when signing) of a record of
// `content`. False with *error set on failure.
bool EncodeRecord(const uint8_t* content, size_t contentSize, const SigningKey* key, const RecordEncoding& encoding,
                  ByteVector* data, ByteVector* signature, std::string* error);

// The pieces a record is made of, for tools and for tests that need a
// record no correct writer would make (cut streams, foreign signatures).
// RSASSA-PKCS1-v1_5 / SHA-256 signature (256 bytes) of `bytes`.
bool SignBytes(const SigningKey* key, const uint8_t* bytes, size_t size, ByteVector* signature,
               std::string* error);
// Appends data, signature and a trailer that states their sizes, as given.
void AppendRawRecord(ByteVector* stack, const Guid16& type, uint32_t id, const ByteVector& data,
                     const ByteVector& signature);

// Appends one record (EncodeRecord's data and signature, then the trailer)
// to `stack`. False with *error set and `stack` unchanged on failure, also
// when the content or the grown stack would not fit the launcher's file
// (FitsLauncherFile).
bool AppendRecord(ByteVector* stack, const Guid16& type, uint32_t id, const uint8_t* content,
                  size_t contentSize, const SigningKey* key, const RecordEncoding& encoding,
                  std::string* error);

// A whole payload, appended to *stack: the manifest record lowest, then one
// file record per file, in the given order, each through AppendRecord with
// `encoding` (its compressor: zlib for tests, libdeflate in pack).
// `progress`, when set, gets each record's content size once the record is
// in the stack. False with *error set as AppendRecord.
struct PayloadFile {
  uint32_t id;
  ByteVector content;
};
struct BuildProgress {
  void (*report)(void* context, uint64_t bytes) = nullptr;
  void* context = nullptr;
};
bool BuildPayload(const ByteVector& manifest, const std::vector<PayloadFile>& files, const SigningKey* key,
                  const RecordEncoding& encoding, ByteVector* stack, std::string* error,
                  const BuildProgress& progress = {});
