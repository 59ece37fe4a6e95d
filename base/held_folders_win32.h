// Paths an elevated process can trust: every folder from the drive root down
// held open, and the files inside made, held and deleted relative to a held
// folder's handle, never by walking a path again.
//
// A folder is held with GENERIC_READ, sharing read and write but not delete:
// while the handle is open the folder can be neither renamed nor removed, so
// nothing on the path can be swapped for a link or moved elsewhere. A folder
// that is a name surrogate (junction, symbolic link, mount point) is refused
// when it is opened; reparse points that only change how a file's data is
// stored (cloud placeholders, deduplication) are folders like any other.
#pragma once

#include <windows.h>

#include <cstdint>

// Enough for any path of a product folder whose files fit MAX_PATH.
constexpr uint32_t kMaxHeldFolders = 130;

// The held folders of one path: [0] is the drive root, the last one the
// folder the path names. Zeroed: nothing held.
struct HeldFolders {
  HANDLE handles[kMaxHeldFolders];
  uint32_t count;
};

// Holds `path`, an absolute folder path on a local drive ("C:", "C:\",
// "C:\Windows\Installer"), from its drive root down, each folder opened
// relative to the one above it. False, with nothing held and the last error
// set, when the path is no drive path (a network path "\\server\share"), the
// drive is a network drive, a folder is missing or no folder, is a name
// surrogate (ERROR_CANT_ACCESS_FILE), or the path is deeper than
// kMaxHeldFolders. `held` comes zeroed.
bool HoldFolderPath(const char* path, HeldFolders* held);

// Closes every held folder, deepest first, and zeroes `held`.
void ReleaseHeldFolders(HeldFolders* held);

// NtCreateFile of `name` (ANSI, one plain name) inside the folder `folder`:
// `access`, `share`, `disposition` (FILE_CREATE, FILE_OPEN, FILE_OPEN_IF)
// and `options` as NtCreateFile takes them, FILE_SYNCHRONOUS_IO_NONALERT
// added, and `security` (a self-relative descriptor, or null) for what it
// creates. `created`, when given, tells whether it was created. Returns the
// handle, or INVALID_HANDLE_VALUE with the last error set from the status.
HANDLE OpenInFolder(HANDLE folder, const char* name, DWORD access, DWORD share, DWORD disposition, DWORD options,
                    void* security, bool* created);

// Whether the entry open at `handle` (opened with FILE_OPEN_REPARSE_POINT),
// whose path is `path`, is a name surrogate. Windows shows a link in the
// handle's attributes and tag; Wine follows a Unix symbolic link when it
// opens and shows it only in the path's attributes, asked while the entry is
// held. A reparse point whose tag cannot be read counts as one.
bool IsNameSurrogate(HANDLE handle, const char* path);
