#include "packer/key_slot.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "packer/pe_placement.h"
#include "payload/pe_image.h"

namespace {

constexpr uint8_t kMarker[kKeySlotMarkerSize] = {MSILAUNCH_KEY_SLOT_MARKER};

// The SubjectPublicKeyInfo DER of every RSA-2048 key with exponent 65537
// around its big-endian modulus: a 2048-bit modulus has its top bit set,
// so its INTEGER always takes 257 bytes with a leading zero.
constexpr uint8_t kSpkiHead[] = {0x30, 0x82, 0x01, 0x22, 0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48,
                                 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00, 0x03, 0x82, 0x01,
                                 0x0F, 0x00, 0x30, 0x82, 0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00};
constexpr uint8_t kSpkiTail[] = {0x02, 0x03, 0x01, 0x00, 0x01};

bool IsSigned(ByteView file) {
  PeImage image;
  return ReadPeImage(file, &image) == PeHeaders::Complete && DeclaresSecurityDirectory(image) &&
         image.tableSize != 0;
}

}  // namespace

KeySlotSearch FindKeySlot(ByteView file, StubKeySlot* found) {
  PeImage image;
  if (ReadPeImage(file, &image) != PeHeaders::Complete) return KeySlotSearch::NotPe;
  uint32_t markers = 0;
  StubKeySlot first;
  bool readable = false;
  const uint32_t sections = PeSectionCount(file, image);
  for (uint32_t i = 0; i < sections; ++i) {
    ByteView raw{};
    if (!ReadPeSection(file, image, i, &raw) || raw.size == 0) continue;
    const uint8_t* const end = raw.data + raw.size;
    for (const uint8_t* p = std::search(raw.data, end, kMarker, kMarker + sizeof kMarker); p != end;
         p = std::search(p + 1, end, kMarker, kMarker + sizeof kMarker)) {
      if (++markers > 1) continue;
      ByteView slot;
      first.at = static_cast<uint64_t>(p - file.data);
      readable = Sub(raw, static_cast<uint64_t>(p - raw.data), kKeySlotSize, &slot) && ReadKeySlot(slot, &first.slot);
    }
  }
  if (markers == 0) return KeySlotSearch::None;
  if (markers > 1) return KeySlotSearch::Several;
  if (!readable) return KeySlotSearch::Unreadable;
  *found = first;
  return KeySlotSearch::Found;
}

std::string DescribeKeySlotSearch(KeySlotSearch search) {
  switch (search) {
    case KeySlotSearch::NotPe: return "not a PE image";
    case KeySlotSearch::None: return "no key slot: not a launcher stub, or one built before key slots";
    case KeySlotSearch::Several: return "the key slot's marker occurs more than once: which one the launcher reads is unknown";
    case KeySlotSearch::Unreadable: return "the key slot has a version or state this packer does not know";
    case KeySlotSearch::Found: break;
  }
  return "a key slot";
}

bool StampKeySlot(const ByteVector& stub, const uint8_t modulus[256], bool replace, ByteVector* out,
                  KeyStamp* stamp, std::string* error) {
  const ByteView file{stub.data(), stub.size()};
  StubKeySlot found;
  const KeySlotSearch search = FindKeySlot(file, &found);
  if (search != KeySlotSearch::Found) {
    *error = DescribeKeySlotSearch(search);
    return false;
  }
  const bool stamped = found.slot.state == kKeySlotStamped;
  if (stamped && std::memcmp(found.slot.modulus, modulus, sizeof found.slot.modulus) == 0) {
    *out = stub;
    *stamp = KeyStamp::AlreadyHeld;
    return true;
  }
  if (IsSigned(file)) {
    *error = "the stub is signed, and its signature covers the key slot: stamp the key first, then sign";
    return false;
  }
  if (stamped && !replace) {
    *error = "its key slot holds another key (sha256 " + KeyFingerprint(found.slot.modulus) +
             "); --replace stamps over it";
    return false;
  }
  ByteVector result(stub);
  // FindKeySlot read the whole slot at `at`, so these bytes lie in the file.
  PutU32(MutableByteView{result.data(), result.size()}, found.at + kKeySlotStateAt, kKeySlotStamped);
  std::memcpy(result.data() + found.at + kKeySlotModulusAt, modulus, sizeof found.slot.modulus);
  if (!RecomputePeChecksum(&result)) {
    *error = "cannot rewrite the PE checksum";
    return false;
  }
  *stamp = stamped ? KeyStamp::Replaced : KeyStamp::Stamped;
  *out = std::move(result);
  return true;
}

std::string KeyFingerprint(const uint8_t modulus[256]) {
  if ((modulus[255] & 0x80) == 0) return "";
  ByteVector der(kSpkiHead, kSpkiHead + sizeof kSpkiHead);
  der.insert(der.end(), std::make_reverse_iterator(modulus + 256), std::make_reverse_iterator(modulus));
  der.insert(der.end(), kSpkiTail, kSpkiTail + sizeof kSpkiTail);
  uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int digestSize = 0;
  if (EVP_Digest(der.data(), der.size(), digest, &digestSize, EVP_sha256(), nullptr) != 1) return "";
  std::string hex;
  for (unsigned int i = 0; i < digestSize; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}
