#include "base/folder_security.h"

#include <cstring>

namespace {

// SIDs as Windows stores them: revision 1, the number of sub-authorities,
// the 48-bit authority (big-endian), then each sub-authority (little-endian).
constexpr uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};  // S-1-5-32-544
constexpr uint8_t kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};                        // S-1-5-18
constexpr uint8_t kUsers[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};          // S-1-5-32-545
constexpr uint8_t kCreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};                   // S-1-3-0
constexpr uint8_t kOwnerRights[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};                    // S-1-3-4
// S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464
constexpr uint8_t kTrustedInstaller[] = {0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x50, 0x00, 0x00,
                                         0x00, 0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C,
                                         0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

constexpr uint8_t kAccessAllowedAce = 0;
constexpr uint8_t kAccessDeniedAce = 1;
constexpr uint8_t kObjectAndContainerInherit = 0x03;  // OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE
constexpr uint32_t kFullControl = 0x001F01FF;         // FILE_ALL_ACCESS
constexpr uint32_t kReadAndExecute = 0x001200A9;      // FILE_GENERIC_READ | FILE_GENERIC_EXECUTE
constexpr uint16_t kSelfRelative = 0x8000, kDaclProtected = 0x1000, kDaclPresent = 0x0004;

// Rights that change a folder, what is in it, or who may: write or append
// data (add a file or a folder), extended attributes, delete a child, write
// attributes, delete, write the DACL or the owner, and the generic all/write.
constexpr uint32_t kChangingRights = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 |
                                     0x10000000 | 0x40000000;

template <size_t N>
bool IsSid(ByteView sid, const uint8_t (&known)[N]) {
  return sid.size == N && std::memcmp(sid.data, known, N) == 0;
}

bool IsTrusted(ByteView sid) {
  return IsSid(sid, kAdministrators) || IsSid(sid, kSystem) || IsSid(sid, kTrustedInstaller) ||
         IsSid(sid, kCreatorOwner) || IsSid(sid, kOwnerRights);
}

// Writes one ACCESS_ALLOWED_ACE inherited by files and folders at `*at`.
void PutAllowedAce(MutableByteView out, uint32_t* at, uint32_t mask, const uint8_t* sid, uint32_t sidSize) {
  const uint32_t size = 8 + sidSize;
  out.data[*at] = kAccessAllowedAce;
  out.data[*at + 1] = kObjectAndContainerInherit;
  PutU16(out, *at + 2, static_cast<uint16_t>(size));
  PutU32(out, *at + 4, mask);
  std::memcpy(out.data + *at + 8, sid, sidSize);
  *at += size;
}

}  // namespace

uint32_t SidLength(ByteView sid) {
  if (sid.size < 8) return 0;
  const uint32_t length = 8 + 4u * sid.data[1];
  return length <= sid.size ? length : 0;
}

uint32_t BuildProtectedFolderSecurity(MutableByteView out) {
  if (out.size < kProtectedFolderSecuritySize) return 0;
  std::memset(out.data, 0, kProtectedFolderSecuritySize);
  constexpr uint32_t kOwnerAt = 20, kGroupAt = kOwnerAt + sizeof kAdministrators;
  constexpr uint32_t kDaclAt = kGroupAt + sizeof kAdministrators;
  out.data[0] = 1;  // revision
  PutU16(out, 2, kSelfRelative | kDaclProtected | kDaclPresent);
  PutU32(out, 4, kOwnerAt);
  PutU32(out, 8, kGroupAt);
  PutU32(out, 16, kDaclAt);
  std::memcpy(out.data + kOwnerAt, kAdministrators, sizeof kAdministrators);
  std::memcpy(out.data + kGroupAt, kAdministrators, sizeof kAdministrators);
  uint32_t at = kDaclAt + 8;
  PutAllowedAce(out, &at, kFullControl, kAdministrators, sizeof kAdministrators);
  PutAllowedAce(out, &at, kFullControl, kSystem, sizeof kSystem);
  PutAllowedAce(out, &at, kReadAndExecute, kUsers, sizeof kUsers);
  out.data[kDaclAt] = 2;  // ACL_REVISION
  PutU16(out, kDaclAt + 2, static_cast<uint16_t>(at - kDaclAt));
  PutU16(out, kDaclAt + 4, 3);
  static_assert(kDaclAt + 8 + 3 * 8 + 2 * sizeof kAdministrators + sizeof kSystem == kProtectedFolderSecuritySize,
                "the descriptor's parts add up to its size");
  return at;
}

bool OnlyAdministratorsMayChange(ByteView owner, bool hasDacl, ByteView dacl) {
  const uint32_t ownerLength = SidLength(owner);
  if (ownerLength == 0 || !IsTrusted(ByteView{owner.data, ownerLength})) return false;
  if (!hasDacl) return false;
  uint16_t aclSize = 0, aceCount = 0;
  ByteView acl;
  if (!U16(dacl, 2, &aclSize) || !U16(dacl, 4, &aceCount) || !Sub(dacl, 0, aclSize, &acl) || aclSize < 8)
    return false;
  uint64_t at = 8;
  for (uint16_t i = 0; i < aceCount; ++i) {
    uint16_t aceSize = 0;
    ByteView ace;
    if (!U16(acl, at + 2, &aceSize) || aceSize < 8 || !Sub(acl, at, aceSize, &ace)) return false;
    const uint8_t type = ace.data[0];
    if (type == kAccessAllowedAce) {
      uint32_t mask = 0;
      ByteView sid;
      if (!U32(ace, 4, &mask) || !Sub(ace, 8, ace.size - 8, &sid)) return false;
      const uint32_t sidLength = SidLength(sid);
      if (sidLength == 0) return false;
      if ((mask & kChangingRights) != 0 && !IsTrusted(ByteView{sid.data, sidLength})) return false;
    } else if (type != kAccessDeniedAce) {
      return false;  // object and callback ACEs: not on a folder the launcher would trust
    }
    at += aceSize;
  }
  return true;
}
