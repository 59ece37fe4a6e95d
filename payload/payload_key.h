// The public key that every signed record is verified against, and the key
// slot of the launcher's image that holds it.
#pragma once

#include <cstdint>

#include "base/byte_view.h"
#include "payload/content_digest.h"

// The key slot: a fixed area of the launcher's image, written at build time
// (MSILAUNCH_PUBLIC_KEY, or empty) and stamped later by `msilaunch-pack
// set-key`, so that a vendor can give a prebuilt launcher their own key and,
// with it, the only manifests that key may install.
//
//   0    marker    16 bytes  "MSILAUNCH-KEYSLT" (ASCII)
//   16   version   u32       kKeySlotVersion (2); launchers built before
//                            bindings have 1, and their slot ends after the modulus
//   20   state     u32       kKeySlotEmpty or kKeySlotStamped
//   24   modulus   256 bytes RSA-2048, least significant byte first (zero while empty)
//   280  bindings  u32       how many digests follow, 0..kKeySlotBindingCapacity
//   284  digests   16 x 32   SHA-256 of each bound manifest's content; unused ones zero
//
// The exponent is always 65537.
constexpr uint32_t kKeySlotMarkerSize = 16;
constexpr uint32_t kKeySlotVersionAt = 16;
constexpr uint32_t kKeySlotStateAt = 20;
constexpr uint32_t kKeySlotModulusAt = 24;
constexpr uint32_t kKeySlotVersion1Size = kKeySlotModulusAt + 256;
constexpr uint32_t kKeySlotBindingCountAt = kKeySlotVersion1Size;
constexpr uint32_t kKeySlotBindingsAt = kKeySlotBindingCountAt + 4;
// Sixteen releases of one product line in one stub is more than any vendor
// ships at once; a fixed number keeps the slot one fixed size in every image.
constexpr uint32_t kKeySlotBindingCapacity = 16;
constexpr uint32_t kKeySlotSize = kKeySlotBindingsAt + kKeySlotBindingCapacity * kContentDigestSize;
constexpr uint32_t kKeySlotVersion = 2;
constexpr uint32_t kKeySlotVersion1 = 1;
constexpr uint32_t kKeySlotEmpty = 0;
constexpr uint32_t kKeySlotStamped = 1;

// The marker, then the version, as initializer bytes. Only the slot's
// definition (generated at build time) and the packer's search spell them;
// the launcher's code never compares them, so its image holds the marker
// exactly once: in the slot.
#define MSILAUNCH_KEY_SLOT_MARKER 'M', 'S', 'I', 'L', 'A', 'U', 'N', 'C', 'H', '-', 'K', 'E', 'Y', 'S', 'L', 'T'
#define MSILAUNCH_KEY_SLOT_HEAD MSILAUNCH_KEY_SLOT_MARKER, 2, 0, 0, 0

// The slot of this program's image, defined in the source the build
// generates (cmake/EmbedPublicKey.cmake). Read it only through
// LoadBuiltInKey: the packer rewrites these bytes in the file after the
// build, so no read may be answered from what the compiler saw.
extern const uint8_t kPayloadKeySlot[kKeySlotSize];

// What records are verified against: the key and, when bindingCount is not
// 0, the only manifests it takes (by the SHA-256 of their content).
struct PayloadKey {
  uint8_t modulus[256];  // least significant byte first
  uint32_t bindingCount;
  uint8_t bindings[kKeySlotBindingCapacity][kContentDigestSize];
};

// A key slot's fields.
struct KeySlot {
  uint32_t version;  // kKeySlotVersion1 or kKeySlotVersion
  uint32_t state;    // kKeySlotEmpty or kKeySlotStamped
  PayloadKey key;    // a version 1 slot binds nothing
};

// The bytes a slot of `version` takes; 0 for a version this build does not know.
uint32_t KeySlotSizeOf(uint32_t version);

// Reads the fields of the slot that begins `bytes` (the marker is the
// finder's business and is not compared); the view may go on past the slot.
// False, *slot unspecified, when the version is neither 1 nor 2, the view is
// shorter than that version's slot, the state is neither empty nor stamped
// or the binding count passes the capacity.
bool ReadKeySlot(ByteView bytes, KeySlot* slot);

// Whether `key` takes the manifest whose content has `digest`: any manifest
// when it holds no bindings, else only one whose digest it holds.
bool BindsManifest(const PayloadKey& key, const uint8_t digest[kContentDigestSize]);

// Copies the key stamped into this program's slot, with its bindings, into
// *key and returns `key`; null when the slot holds no key (empty, or a
// version or state this build does not know). Reads the slot afresh from the
// image on every call.
const PayloadKey* LoadBuiltInKey(PayloadKey* key);

constexpr uint32_t kPublicKeyBlobSize = 276;

// A PUBLICKEYBLOB (BLOBHEADER + RSAPUBKEY "RSA1", 2048 bits, exponent 65537,
// modulus least significant byte first) for the given modulus.
void AssemblePublicKeyBlob(const uint8_t modulus[256], uint8_t blob[kPublicKeyBlobSize]);
