// Folder and file paths of the extraction, joined inside their fixed
// buffers. A path that does not fit is refused, never cut: a cut path names
// another folder or file than the one meant.
#pragma once

#include <cstddef>
#include <cstdint>

// The extraction folder's buffer: at most 1023 characters and the NUL.
constexpr uint32_t kFolderPathSize = 1024;

// Appends a backslash and `part` to the zero-terminated text in `path`
// (`size` bytes). Returns false when that does not fit; `path` then holds
// its text as before.
bool AppendPathPart(char* path, size_t size, const char* part);

// Writes `folder`, a backslash and `name` into `dest` (`size` bytes).
// Returns false when that does not fit; `dest` is then empty.
bool JoinPath(char* dest, size_t size, const char* folder, const char* name);

// True when a backslash and a name appended to `text` name the same file
// whatever the current drive and directory: `text` is a drive letter and a
// colon, alone (a drive root whose backslash was stripped) or followed by a
// backslash ("C:", "C:\", "D:\Setup"), or a UNC path ("\\server\share").
// Empty, relative ("Setup") and drive-relative ("C:Setup", "\Setup") texts
// are not.
bool IsAbsoluteFolderPath(const char* text);
