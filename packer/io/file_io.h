// Whole-file reads and all-or-nothing writes of the msilaunch-pack command,
// and what its terminal output needs of the system. Paths are UTF-8 on every
// system; the system half lives in file_io_posix.cpp and file_io_win32.cpp
// (UTF-16 paths, long ones included), and both word a failure alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Reads the whole of `path` into *bytes. False with *error set ("cannot open
// ...: reason") on failure.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Writes `bytes` to a temporary file beside `path`, flushes it and renames it
// over `path`, so that a failure at any point leaves either the old file or
// none, never a partial one. `mode` gives the permission bits (0600 for a
// private key, 0755 for an executable); on Windows 0600 becomes a protected
// DACL that allows the current user alone, the others keep what the folder
// hands down.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, unsigned mode,
                         std::string* error);

// Opens `path` for reading in binary mode, as std::fopen does; the caller
// closes it. Null when it cannot be opened.
std::FILE* OpenFileForReading(const std::string& path);

// Removes the file `path`; nothing is reported.
void RemoveFile(const std::string& path);

// Creates `path` and its missing parents. False with *error set.
bool MakeDirectories(const std::string& path, std::string* error);

// The directory part of a path ("." when there is none) and the last part.
// '/' separates on every system, '\' on Windows too.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);

// The system half, for file_io.cpp: whether `c` separates path parts, one
// level of MakeDirectories (true when it exists as a directory afterwards;
// else *reason says why not), whether standard error is a terminal, and
// erasing a line of `width` characters that the cursor ends.
bool IsPathSeparator(char c);
bool MakeOneDirectory(const std::string& path, std::string* reason);
bool IsDirectory(const std::string& path);
bool StandardErrorIsTerminal();

// Whether standard input is a terminal (a console on Windows): the only
// case in which the packer may ask its user something, such as a key's
// passphrase.
bool StandardInputIsTerminal();

// The value of the environment variable `name`, in UTF-8 on every system.
// False when it is not set.
bool ReadEnvironmentVariable(const std::string& name, std::string* value);
void EraseTerminalLine(size_t width);
