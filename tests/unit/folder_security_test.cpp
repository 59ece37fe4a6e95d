// Who may change a product folder: the descriptor the launcher gives the
// folders it makes, and the rule for a folder that is there already.
#include "base/folder_security.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAdministrators = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const Bytes kSystem = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const Bytes kUsers = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
const Bytes kAuthenticatedUsers = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};
const Bytes kCreatorOwner = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
const Bytes kSomeUser = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 0xE9, 3, 0, 0};
const Bytes kTrustedInstaller = {0x01, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x50, 0x00, 0x00,
                                 0x00, 0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C,
                                 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

struct Ace {
  uint8_t type;  // 0 allowed, 1 denied
  uint8_t flags;
  uint32_t mask;
  Bytes sid;
};

Bytes Acl(const std::vector<Ace>& aces) {
  Bytes acl(8, 0);
  acl[0] = 2;
  for (const Ace& a : aces) {
    const size_t size = 8 + a.sid.size();
    acl.insert(acl.end(), {a.type, a.flags, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8)});
    for (int i = 0; i < 4; ++i) acl.push_back(static_cast<uint8_t>(a.mask >> (8 * i)));
    acl.insert(acl.end(), a.sid.begin(), a.sid.end());
  }
  acl[2] = static_cast<uint8_t>(acl.size());
  acl[3] = static_cast<uint8_t>(acl.size() >> 8);
  acl[4] = static_cast<uint8_t>(aces.size());
  return acl;
}

constexpr uint32_t kFull = 0x1F01FF, kReadExecute = 0x1200A9, kModify = 0x1301BF, kAddFile = 0x2;
constexpr uint32_t kWriteDac = 0x40000, kGenericWrite = 0x40000000;
constexpr uint8_t kInheritOnly = 0x0B;  // object, container and inherit-only

TEST(FolderSecurityTest, OnlyAdministratorsSystemAndTrustedInstallerMayChangeIt) {
  const std::vector<Ace> launchers = {{0, 3, kFull, kAdministrators}, {0, 3, kFull, kSystem},
                                      {0, 3, kReadExecute, kUsers}};
  auto with = [&](Ace extra) {
    std::vector<Ace> aces = launchers;
    aces.push_back(extra);
    return aces;
  };
  const struct {
    const char* name;
    Bytes owner;
    bool hasDacl;
    Bytes dacl;
    bool trusted;
  } cases[] = {
      {"as the launcher leaves it", kAdministrators, true, Acl(launchers), true},
      {"owned by SYSTEM", kSystem, true, Acl(launchers), true},
      {"TrustedInstaller may change it", kTrustedInstaller, true, Acl(with({0, 3, kFull, kTrustedInstaller})), true},
      {"creator owner, inherit only", kAdministrators, true, Acl(with({0, kInheritOnly, kFull, kCreatorOwner})), true},
      {"someone denied", kAdministrators, true, Acl(with({1, 3, kFull, kAuthenticatedUsers})), true},
      {"a user owns it", kSomeUser, true, Acl(launchers), false},
      {"no DACL: everyone may", kAdministrators, false, {}, false},
      {"users may add a file", kAdministrators, true, Acl(with({0, 3, kAddFile, kUsers})), false},
      {"authenticated users may modify", kAdministrators, true, Acl(with({0, 3, kModify, kAuthenticatedUsers})), false},
      {"a user may rewrite the DACL", kAdministrators, true, Acl(with({0, 0, kWriteDac, kSomeUser})), false},
      {"generic write, inherit only", kAdministrators, true, Acl(with({0, kInheritOnly, kGenericWrite, kUsers})), false},
      {"an ACE of another kind", kAdministrators, true, Acl(with({5, 3, kReadExecute, kUsers})), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OnlyAdministratorsMayChange(ByteView{c.owner.data(), c.owner.size()}, c.hasDacl,
                                          ByteView{c.dacl.data(), c.dacl.size()}),
              c.trusted)
        << c.name;
  }
}

TEST(FolderSecurityTest, CutDescriptorsAreNotTrusted) {
  const Bytes dacl = Acl({{0, 3, kFull, kAdministrators}});
  for (size_t cut = 0; cut < dacl.size(); ++cut)
    EXPECT_FALSE(OnlyAdministratorsMayChange(ByteView{kAdministrators.data(), kAdministrators.size()}, true,
                                             ByteView{dacl.data(), cut}))
        << cut;
  EXPECT_FALSE(OnlyAdministratorsMayChange(ByteView{kAdministrators.data(), 15}, true, ByteView{dacl.data(), dacl.size()}));
}

// What the launcher gives a folder it makes passes its own rule; the Wine
// tests read it back through the system's SDDL conversion.
TEST(FolderSecurityTest, TheLaunchersDescriptorPassesItsOwnRule) {
  uint8_t descriptor[kProtectedFolderSecuritySize];
  EXPECT_EQ(BuildProtectedFolderSecurity(MutableByteView{descriptor, sizeof descriptor - 1}), 0u);
  ASSERT_EQ(BuildProtectedFolderSecurity(MutableByteView{descriptor, sizeof descriptor}), kProtectedFolderSecuritySize);
  const ByteView whole{descriptor, sizeof descriptor};
  uint32_t ownerAt = 0, daclAt = 0;
  ASSERT_TRUE(U32(whole, 4, &ownerAt) && U32(whole, 16, &daclAt));
  ByteView owner, dacl;
  ASSERT_TRUE(Sub(whole, ownerAt, 16, &owner) && Sub(whole, daclAt, whole.size - daclAt, &dacl));
  EXPECT_TRUE(OnlyAdministratorsMayChange(owner, true, dacl));
}

}  // namespace
