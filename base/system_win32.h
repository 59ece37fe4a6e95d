// Small Win32-only helpers that several layers above share.
#pragma once

// 1 when a first-file search on `path` finds an entry (file or folder; a
// trailing backslash or a drive root finds nothing), else 0.
int PathExists(const char* path);
