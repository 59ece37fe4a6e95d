// Who may change a product folder, in the binary forms Windows keeps it in.
// The launcher writes an elevated installer's package into that folder and
// leaves it there for later repairs, which read it with SYSTEM rights: only
// Administrators, SYSTEM and TrustedInstaller may be able to change it.
// Portable: the descriptor is bytes, built and read through bounded views.
#pragma once

#include <cstdint>

#include "base/byte_view.h"

// Bytes of the descriptor BuildProtectedFolderSecurity makes.
constexpr uint32_t kProtectedFolderSecuritySize = 128;

// Writes a self-relative security descriptor into `out` (at least
// kProtectedFolderSecuritySize bytes) and returns its size, 0 when `out` is
// too small: owner and group Administrators; a protected DACL (nothing
// inherited from the folder above) giving Administrators and SYSTEM full
// control and Users read and execute, each inherited by files and folders
// made inside. SDDL: O:BAG:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU).
uint32_t BuildProtectedFolderSecurity(MutableByteView out);

// True when nobody but Administrators, SYSTEM or TrustedInstaller can write
// to a folder with this owner and DACL, create in it, delete it or change its
// permissions: the owner (a SID) is one of the three, and no allowed ACE
// gives anyone else a right that writes, deletes or rewrites the
// descriptor (ACEs that apply only to what is made inside count too, since
// the package's files would get them). CREATOR OWNER and OWNER RIGHTS stand
// for the owner and pass with it. A null DACL (`hasDacl` false) grants
// everyone everything; an ACE of a kind not understood, a SID or ACL that
// does not parse inside its view, make the answer false.
bool OnlyAdministratorsMayChange(ByteView owner, bool hasDacl, ByteView dacl);

// The length of the SID at the start of `sid` (8 bytes and 4 per
// sub-authority), 0 when it does not fit in the view.
uint32_t SidLength(ByteView sid);
