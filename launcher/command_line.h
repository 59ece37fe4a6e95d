// The launcher's own command-line splitter and its own-path lookup.
#pragma once

#include <cstdint>

// Splits a zero-terminated UTF-16 command line by the launcher's rules:
// whitespace is TAB, LF, CR and SPACE; a quote (U+0022) toggles quoting and
// never reaches an argument; backslashes are ordinary characters.
//
// Returns one block from platform::AllocBlock (release it with one
// platform::FreeBlock): `*count` argument pointers followed by a null pointer,
// then the arguments' text. Returns null when the block cannot be allocated;
// `*count` is then left untouched.
char16_t** SplitCommandLine(const char16_t* commandLine, int32_t* count);

// The full ANSI path of the launcher's own executable in a block from
// platform::AllocBlock that is at least two bytes longer than the path; the
// caller frees it. Null when memory runs out or the name cannot be obtained.
// The buffer starts at 260 bytes and grows by 64 while the name may be cut.
char* GetOwnModulePath();
