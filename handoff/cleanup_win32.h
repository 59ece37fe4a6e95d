// What of the extraction stays: the product's registration decides.
#pragma once

#include <cstdint>

#include "base/held_folders_win32.h"
#include "handoff/msiexec_outcome.h"
#include "package/file_set.h"

// 1 when HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\<productCode>
// holds an "UninstallString" of more than zero bytes (an empty string, one
// terminator, counts), else 0. Under WOW64 (`isWow64` non-zero) only the
// 64-bit registry view is read, otherwise only the 32-bit one, matching the
// package architecture that selection accepts. Every call reads the
// registry afresh. An empty product code, or one that makes the key name
// longer than 255 characters, is not registered: a name cut to fit would be
// another key's.
int IsProductRegistered(const char* productCode, uint32_t isWow64);

// The last step of every installation sequence. For each item of `files`,
// in order: frees its data, closes its handle, and, when msiexec's outcome
// is a non-zero exit code (never ran: 1601) and the product is not
// registered, deletes its file if it has a path, relative to the product
// folder the set still holds. Then frees the item array (`files` is left
// empty), closes the product folder and, when the product is not
// registered, removes `folderPath` if it exists (only an empty folder goes),
// while `held` still holds the folders above it; last, lets `held` go.
// An unknown outcome deletes and removes nothing: msiexec may still be
// using the files. Failures to delete or remove are left without notice.
void CleanUpExtraction(FileSet* files, HeldFolders* held, const MsiexecOutcome& outcome, const char* productCode,
                       uint32_t isWow64, const char* folderPath);
