// The launcher's key slot in a stub's file (payload/payload_key.h): finding
// it, stamping a key into it, and naming the key it holds. Byte work only;
// msilaunch-pack set-key and attach --key read the key file around it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_view.h"
#include "packer/writer/payload_writer.h"
#include "payload/payload_key.h"

// What a search for the key slot found.
enum class KeySlotSearch {
  NotPe,       // the file is no PE image
  None,        // no section holds the marker: no launcher, or one built before key slots
  CutShort,    // a section's bytes lie past the end of the file: a stub cut short
  Several,     // the marker occurs more than once
  Unreadable,  // one marker, but no slot of a version, state and binding count this packer knows behind it
  Found,
};

struct StubKeySlot {
  uint64_t at = 0;  // file offset of the slot (its marker)
  KeySlot slot{};
};

// Looks for the marker in the raw data of every section of the PE image
// `file` (what the loader maps, hence what the launcher reads its slot from;
// a marker in a certificate table or a payload is none) and reads the slot
// at it, which must lie inside its section. *found is set on Found only.
KeySlotSearch FindKeySlot(ByteView file, StubKeySlot* found);

// A sentence for each search result but Found ("no key slot: ...").
std::string DescribeKeySlotSearch(KeySlotSearch search);

// What a slot binds a manifest by: the SHA-256 of its content.
using ManifestDigest = std::array<uint8_t, kContentDigestSize>;

// Finds the manifest record that ends the record stack `stack` (a payload as
// pack writes it), decodes it as the launcher does and verifies it with the
// key `modulus` alone (whether a slot binds it is the caller's question),
// and stores its content's digest. False with *error set ("not a payload
// ...", "its manifest does not verify ...").
bool ReadManifestDigest(ByteView stack, const uint8_t modulus[256], ManifestDigest* digest, std::string* error);

// What StampKeySlot did.
enum class KeyStamp {
  Stamped,      // the slot was empty
  Replaced,     // it held another key and `replace` was given
  Bound,        // it held this key without bindings, and now binds
  Rebound,      // it held this key bound to other payloads, and `replace` was given
  AlreadyHeld,  // it holds this key and these bindings already: the stub is left as it is, signed or not
};

// Writes the key `modulus` (least significant byte first) into the key slot
// of the launcher stub `stub`, with `bindings` (each kept once, in order),
// marks the slot stamped and recomputes the PE checksum (when set), into
// *out. No bindings leaves those of a slot that holds this key as they are
// and stamps none otherwise. False with *error set, *out untouched, when
// FindKeySlot finds no one slot, when bindings are given and the slot is of
// version 1 or has too little room for them, when the stub is signed (the
// slot lies under the signature's hash: stamp first, then sign), and when the
// slot holds another key, or this key bound to other payloads, and `replace`
// is false.
bool StampKeySlot(const ByteVector& stub, const uint8_t modulus[256], const std::vector<ManifestDigest>& bindings,
                  bool replace, ByteVector* out, KeyStamp* stamp, std::string* error);

// A digest as 64 lowercase hex digits.
std::string DigestHex(const uint8_t digest[kContentDigestSize]);

// The key's fingerprint: the SHA-256 of its SubjectPublicKeyInfo DER (what
// `openssl pkey -pubin -in KEY.pub.pem -outform DER | sha256sum` prints),
// 64 lowercase hex digits. Empty for a modulus that is no 2048-bit number.
std::string KeyFingerprint(const uint8_t modulus[256]);
