// Small Win32-only helpers that several layers above share.
#pragma once

#include <windows.h>

// 1 when a first-file search on `path` finds an entry (file or folder; a
// trailing backslash or a drive root finds nothing), else 0.
int PathExists(const char* path);

// Opens the file at `path` to hold it: GENERIC_READ, sharing read only, so
// that while the handle is open no other process writes, deletes or renames
// the file, and readers that deny writing (msiexec) still get in. Never
// through a link: the entry itself is opened (FILE_FLAG_OPEN_REPARSE_POINT)
// and refused when its handle's or its path's attributes say reparse point
// or folder. Returns the handle, or INVALID_HANDLE_VALUE with the last error
// set (ERROR_CANT_ACCESS_FILE for a link or a folder).
HANDLE OpenFileToHold(const char* path);

// The same for the folder at `path`, sharing read and write but not delete:
// files in it can be made, written and deleted, the folder itself can be
// neither removed nor renamed (so neither swapped for a link) while it is
// held. Refused when it is a link or no folder.
HANDLE OpenFolderToHold(const char* path);
