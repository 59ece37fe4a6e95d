// The public key that every signed record is verified against, and the key
// slot of the launcher's image that holds it.
#pragma once

#include <cstdint>

#include "base/byte_view.h"

// The key slot: a fixed area of the launcher's image, written at build time
// (MSILAUNCH_PUBLIC_KEY, or empty) and stamped later by `msilaunch-pack
// set-key`, so that a vendor can give a prebuilt launcher their own key.
//
//   0   marker   16 bytes  "MSILAUNCH-KEYSLT" (ASCII)
//   16  version  u32       kKeySlotVersion
//   20  state    u32       kKeySlotEmpty or kKeySlotStamped
//   24  modulus  256 bytes RSA-2048, least significant byte first (zero while empty)
//
// The exponent is always 65537.
constexpr uint32_t kKeySlotMarkerSize = 16;
constexpr uint32_t kKeySlotVersionAt = 16;
constexpr uint32_t kKeySlotStateAt = 20;
constexpr uint32_t kKeySlotModulusAt = 24;
constexpr uint32_t kKeySlotSize = kKeySlotModulusAt + 256;
constexpr uint32_t kKeySlotVersion = 1;
constexpr uint32_t kKeySlotEmpty = 0;
constexpr uint32_t kKeySlotStamped = 1;

// The marker, then the version, as initializer bytes. Only the slot's
// definition (generated at build time) and the packer's search spell them;
// the launcher's code never compares them, so its image holds the marker
// exactly once: in the slot.
#define MSILAUNCH_KEY_SLOT_MARKER 'M', 'S', 'I', 'L', 'A', 'U', 'N', 'C', 'H', '-', 'K', 'E', 'Y', 'S', 'L', 'T'
#define MSILAUNCH_KEY_SLOT_HEAD MSILAUNCH_KEY_SLOT_MARKER, 1, 0, 0, 0

// The slot of this program's image, defined in the source the build
// generates (cmake/EmbedPublicKey.cmake). Read it only through
// LoadBuiltInKey: the packer rewrites these bytes in the file after the
// build, so no read may be answered from what the compiler saw.
extern const uint8_t kPayloadKeySlot[kKeySlotSize];

// A key slot's fields.
struct KeySlot {
  uint32_t version;
  uint32_t state;        // kKeySlotEmpty or kKeySlotStamped
  uint8_t modulus[256];  // least significant byte first
};

// Reads the fields of the slot whose kKeySlotSize bytes begin `bytes` (the
// marker is the finder's business and is not compared). False, *slot
// unspecified, when the view is shorter, the version is not kKeySlotVersion
// or the state is neither empty nor stamped.
bool ReadKeySlot(ByteView bytes, KeySlot* slot);

// Copies the modulus of the key stamped into this program's slot into
// `modulus` and returns `modulus`; null when the slot holds no key (empty,
// or a version or state this build does not know). Reads the slot afresh
// from the image on every call.
const uint8_t* LoadBuiltInKey(uint8_t modulus[256]);

constexpr uint32_t kPublicKeyBlobSize = 276;

// A PUBLICKEYBLOB (BLOBHEADER + RSAPUBKEY "RSA1", 2048 bits, exponent 65537,
// modulus least significant byte first) for the given modulus.
void AssemblePublicKeyBlob(const uint8_t modulus[256], uint8_t blob[kPublicKeyBlobSize]);
