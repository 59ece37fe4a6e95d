// The launcher's key slot in a stub's file (payload/payload_key.h): finding
// it, stamping a key into it, and naming the key it holds. Byte work only;
// msilaunch-pack set-key and attach --key read the key file around it.
#pragma once

#include <cstdint>
#include <string>

#include "base/byte_view.h"
#include "packer/payload_writer.h"
#include "payload/payload_key.h"

// What a search for the key slot found.
enum class KeySlotSearch {
  NotPe,       // the file is no PE image
  None,        // no section holds the marker: no launcher, or one built before key slots
  Several,     // the marker occurs more than once
  Unreadable,  // one marker, but no slot of a version and state this packer knows behind it
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

// What StampKeySlot did.
enum class KeyStamp {
  Stamped,      // the slot was empty
  Replaced,     // it held another key and `replace` was given
  AlreadyHeld,  // it holds this key already: the stub is left as it is, signed or not
};

// Writes the key `modulus` (least significant byte first) into the key slot
// of the launcher stub `stub`, marks the slot stamped and recomputes the PE
// checksum (when set), into *out. False with *error set, *out untouched,
// when FindKeySlot finds no one slot, when the stub is signed (the key lies
// under the signature's hash: stamp first, then sign), and when the slot
// holds another key and `replace` is false.
bool StampKeySlot(const ByteVector& stub, const uint8_t modulus[256], bool replace, ByteVector* out,
                  KeyStamp* stamp, std::string* error);

// The key's fingerprint: the SHA-256 of its SubjectPublicKeyInfo DER (what
// `openssl pkey -pubin -in KEY.pub.pem -outform DER | sha256sum` prints),
// 64 lowercase hex digits. Empty for a modulus that is no 2048-bit number.
std::string KeyFingerprint(const uint8_t modulus[256]);
