// The payloads the carriers found, each with its verified manifest.
#pragma once

#include <cstdint>

#include "base/error_pair.h"
#include "payload/payload_key.h"

// How every record of a payload is stored. Both carriers set both flags.
constexpr uint32_t PayloadFlagCompressed = 1;  // data part is one zlib stream
constexpr uint32_t PayloadFlagSigned = 2;      // signature part: RSA PKCS#1 v1.5 / SHA-256 over the content

struct PayloadItem {
  uint8_t* raw;       // owned: the block whose last byte ends the record stack
  uint32_t rawSize;
  uint8_t* manifest;  // owned: content of the manifest record (ManifestRecordType, 0)
  uint32_t manifestSize;
  uint32_t flags;
};

struct PayloadList {
  PayloadItem* items;  // owned; grows by exactly one zero-filled item per append
  uint32_t count;
  // What the payloads' records are verified against: the key their
  // manifests were verified with, set by the carrier that found them (the
  // launcher's built-in key with its bindings; the packer's own). Without
  // one (an empty key slot, a list nobody gave a key) every signed record
  // fails as a key that cannot be loaded.
  uint32_t hasKey;
  PayloadKey key;
};

// Gives `list` the key its records are verified against; null: no key.
void SetPayloadListKey(PayloadList* list, const PayloadKey* key);

// The key `list` verifies its records with, or null.
const PayloadKey* PayloadListKey(const PayloadList& list);

// Grows `list` by one item and copies `item` into the new last slot. On
// failure returns false, leaves the list as it was, and the caller still owns
// the item's blocks; the thread's last error tells why.
bool AppendPayload(PayloadList* list, const PayloadItem& item);

// Frees every item's raw and manifest blocks (each when present), then the
// array, and empties the list.
void ReleasePayloadList(PayloadList* list);
