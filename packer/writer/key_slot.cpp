#include "packer/writer/key_slot.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

#include "base/platform.h"
#include "packer/writer/pe_placement.h"
#include "payload/pe_image.h"
#include "payload/record_decoding.h"
#include "payload/record_stack.h"

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
  return ReadPeImage(file, &image) == PeHeaders::Complete && IsSignedImage(image);
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
    // A stub cut short can still hold its whole slot, and a stamp would make
    // it look like a setup that Windows then refuses to start.
    if (!ReadPeSection(file, image, i, &raw)) return KeySlotSearch::CutShort;
    if (raw.size == 0) continue;
    const uint8_t* const end = raw.data + raw.size;
    for (const uint8_t* p = std::search(raw.data, end, kMarker, kMarker + sizeof kMarker); p != end;
         p = std::search(p + 1, end, kMarker, kMarker + sizeof kMarker)) {
      if (++markers > 1) continue;
      // The rest of the section: the slot's version says how much of it is the slot.
      ByteView rest;
      first.at = static_cast<uint64_t>(p - file.data);
      readable = Sub(raw, static_cast<uint64_t>(p - raw.data), static_cast<uint64_t>(end - p), &rest) &&
                 ReadKeySlot(rest, &first.slot);
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
    case KeySlotSearch::CutShort: return "the file is cut short: a section's bytes lie past its end";
    case KeySlotSearch::Several:
      return "the key slot's marker occurs more than once: not a launcher stub (msilaunch-pack itself carries the "
             "marker), or one whose slot cannot be told apart";
    case KeySlotSearch::Unreadable:
      return "the key slot has a version, state or binding count this packer does not know";
    case KeySlotSearch::Found: break;
  }
  return "a key slot";
}

bool ReadManifestDigest(ByteView stack, const uint8_t modulus[256], ManifestDigest* digest, std::string* error) {
  LocatedRecord manifest;
  if (!FitsLauncherFile(stack.size) ||
      !LocateRecord(stack.data, static_cast<uint32_t>(stack.size), ManifestRecordType, 0, &manifest)) {
    *error = "not a payload (no manifest record ends it)";
    return false;
  }
  PayloadKey key{};
  std::memcpy(key.modulus, modulus, sizeof key.modulus);
  uint8_t* content = nullptr;
  uint32_t contentSize = 0;
  const ErrorPair pair =
      DecodeRecordWithKey(&key, PayloadFlagCompressed | PayloadFlagSigned, manifest, &content, &contentSize);
  if (pair.code != 0) {
    *error = "its manifest does not verify with the key (sha256 " + KeyFingerprint(modulus) + ")";
    return false;
  }
  DigestBytes(content, contentSize, digest->data());
  platform::FreeBlock(content);
  return true;
}

bool StampKeySlot(const ByteVector& stub, const uint8_t modulus[256], const std::vector<ManifestDigest>& bindings,
                  bool replace, ByteVector* out, KeyStamp* stamp, std::string* error) {
  const ByteView file{stub.data(), stub.size()};
  StubKeySlot found;
  const KeySlotSearch search = FindKeySlot(file, &found);
  if (search != KeySlotSearch::Found) {
    *error = DescribeKeySlotSearch(search);
    return false;
  }
  // A payload named twice is bound once.
  std::vector<ManifestDigest> wanted;
  for (const ManifestDigest& digest : bindings)
    if (std::find(wanted.begin(), wanted.end(), digest) == wanted.end()) wanted.push_back(digest);
  if (!wanted.empty() && found.slot.version == kKeySlotVersion1) {
    *error = "its key slot is of version 1 (a launcher built before payload bindings), which has no room for "
             "--bind: stamp a stub of this release";
    return false;
  }
  if (wanted.size() > kKeySlotBindingCapacity) {
    *error = std::to_string(wanted.size()) + " payloads to bind, but the key slot holds at most " +
             std::to_string(kKeySlotBindingCapacity);
    return false;
  }
  const PayloadKey& held = found.slot.key;
  const bool stamped = found.slot.state == kKeySlotStamped;
  const bool sameKey = stamped && std::memcmp(held.modulus, modulus, sizeof held.modulus) == 0;
  bool sameBindings = wanted.empty() || wanted.size() == held.bindingCount;
  for (const ManifestDigest& digest : wanted) sameBindings = sameBindings && BindsManifest(held, digest.data());
  if (sameKey && sameBindings) {
    *out = stub;
    *stamp = KeyStamp::AlreadyHeld;
    return true;
  }
  if (IsSigned(file)) {
    *error = "the stub is signed, and its signature covers the key slot: stamp the key first, then sign";
    return false;
  }
  if (stamped && !sameKey && !replace) {
    *error = "its key slot holds another key (sha256 " + KeyFingerprint(held.modulus) + "); --replace stamps over it";
    return false;
  }
  // Dropping or swapping bindings widens what the stub installs: only on request.
  if (sameKey && held.bindingCount != 0 && !replace) {
    *error = "its key slot is bound to " + std::to_string(held.bindingCount) +
             " other payload(s); --replace stamps over them";
    return false;
  }
  ByteVector result(stub);
  // FindKeySlot read the whole slot of its version at `at`, so these bytes lie in the file.
  const MutableByteView view{result.data(), result.size()};
  PutU32(view, found.at + kKeySlotStateAt, kKeySlotStamped);
  std::memcpy(result.data() + found.at + kKeySlotModulusAt, modulus, sizeof held.modulus);
  if (found.slot.version == kKeySlotVersion) {
    PutU32(view, found.at + kKeySlotBindingCountAt, static_cast<uint32_t>(wanted.size()));
    uint8_t* digests = result.data() + found.at + kKeySlotBindingsAt;
    std::memset(digests, 0, kKeySlotBindingCapacity * kContentDigestSize);
    for (size_t i = 0; i < wanted.size(); ++i)
      std::memcpy(digests + i * kContentDigestSize, wanted[i].data(), kContentDigestSize);
  }
  if (!RecomputePeChecksum(&result)) {
    *error = "cannot rewrite the PE checksum";
    return false;
  }
  *stamp = !stamped                   ? KeyStamp::Stamped
           : !sameKey                 ? KeyStamp::Replaced
           : held.bindingCount == 0   ? KeyStamp::Bound
                                      : KeyStamp::Rebound;
  *out = std::move(result);
  return true;
}

std::string DigestHex(const uint8_t digest[kContentDigestSize]) {
  std::string hex;
  for (uint32_t i = 0; i < kContentDigestSize; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string KeyFingerprint(const uint8_t modulus[256]) {
  if ((modulus[255] & 0x80) == 0) return "";
  ByteVector der(kSpkiHead, kSpkiHead + sizeof kSpkiHead);
  der.insert(der.end(), std::make_reverse_iterator(modulus + 256), std::make_reverse_iterator(modulus));
  der.insert(der.end(), kSpkiTail, kSpkiTail + sizeof kSpkiTail);
  uint8_t digest[kContentDigestSize];
  DigestBytes(der.data(), static_cast<uint32_t>(der.size()), digest);
  return DigestHex(digest);
}
