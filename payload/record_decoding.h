// From a record in a payload to verified, decoded content.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "payload/content_digest.h"
#include "payload/payload_key.h"
#include "payload/payload_list.h"
#include "payload/record_stack.h"

// Sites the packer names in its messages: a record that is not in its
// payload, (1168, 509), and a manifest whose signature does not verify or
// that the key's bindings leave out, (1392, 592).
constexpr uint32_t kRecordNotFound = 509;
constexpr uint32_t kNotVerifiedManifest = 592;

// Finds the record (type, id) in `payload` and decodes it with
// DecodeRecord, against the built-in key (tests and benchmarks read so).
// The launcher reads a listed payload's records with the list's key
// (ReadRecordWithKey, PayloadListKey). Not found: (1168, 509). On code 0, *content is a block from
// platform::AllocBlock that the caller owns (possibly with size 0); on any
// other code the outputs are empty and the caller owns nothing.
ErrorPair ReadRecord(const PayloadItem& payload, const Guid16& type, uint32_t id, uint8_t** content,
                     uint32_t* contentSize);

// Decodes a located record under the payload's flags: inflate when
// compressed, verify the RSA/SHA-256 signature over the content against the
// key in the launcher's key slot when signed. Pairs as ReadRecord; with an
// empty slot every signed record that inflates fails as a key that cannot
// be loaded, (0x80090003, 599 | 739). A slot with bindings takes only a
// signed manifest whose content digest it holds: any other fails as one
// whose signature does not verify, (1392, 592).
ErrorPair DecodeRecord(uint32_t flags, const LocatedRecord& record, uint8_t** content, uint32_t* contentSize);

// The same with another key (and its bindings), for the packer's
// inspect/verify/extract, which check payloads made with any key. A null key
// is no key, as an empty slot.
ErrorPair DecodeRecordWithKey(const PayloadKey* key, uint32_t flags, const LocatedRecord& record,
                              uint8_t** content, uint32_t* contentSize);
ErrorPair ReadRecordWithKey(const PayloadKey* key, const PayloadItem& payload, const Guid16& type, uint32_t id,
                            uint8_t** content, uint32_t* contentSize);

// Inflates one zlib stream from `input` (inputSize bytes) into a fresh
// block, growing it one chunk at a time (chunk: 256 for inputs under 256
// bytes, else inputSize / 8). Returns 0 and the block and its size, or a
// negative zlib status with empty outputs.
int InflateToBuffer(const uint8_t* input, uint32_t inputSize, uint8_t** output, uint32_t* outputSize);

// The chunk InflateToBuffer feeds and grows by: 256 for inputs under 256
// bytes, else inputSize / 8.
uint32_t InflateChunkSize(uint32_t inputSize);

// The output block's next capacity, outputSize + chunk. False when that would
// pass UINT32_MAX: the inflate then fails as out of memory instead of wrapping
// the 32-bit content size.
bool GrowOutputCapacity(uint32_t outputSize, uint32_t chunk, uint32_t* capacity);

// Loads the assembled PUBLICKEYBLOB (b2i_PublicKey's contract: advances
// *blob, returns a new key or null). It is a variable so that tests can make
// the load of a real key fail: in use, the (0x80090003, 599 | 739) sites are
// reached only by a stub whose key slot is empty, which has no blob at all.
struct evp_pkey_st;
using PublicKeyBlobLoader = evp_pkey_st* (*)(const unsigned char** blob, long size);
extern PublicKeyBlobLoader gLoadPublicKeyBlob;
