// The text grammar shared by package and cab entries: fields separated by
// single backslashes, and numeric lists separated by semicolons.
#pragma once

#include <cstdint>

// Every manifest field buffer: at most 255 bytes and the terminating NUL.
constexpr uint32_t kManifestFieldSize = 256;
constexpr uint32_t kMaxManifestFieldBytes = kManifestFieldSize - 1;

// Splits `text` into its first `count` fields, as the conversion
// "%[^\]\%[^\]..." with `count` directives would: each field a non-empty run
// of bytes other than '\' (and NUL), consecutive fields separated by exactly
// one '\', whatever follows the last field ignored. Field i is copied into
// fields[i], a buffer of kManifestFieldSize bytes, and NUL-terminated.
// Returns false when fewer than `count` fields are found, and also when a
// field is longer than 255 bytes: nothing is written past a buffer, and the
// contents of the buffers then mean nothing.
bool SplitEntryFields(const char* text, char* const* fields, uint32_t count);

// Steps through a numeric list ("1031;1033", "7;;x;8"): the list is cut at
// each ';' and each piece read as "%u" reads it: white space (the C isspace
// set) skipped, an optional sign, then decimal digits up to the first other
// byte. Pieces without digits are skipped. Values follow strtoul with a
// 32-bit unsigned long: too large a number gives 0xFFFFFFFF, and a '-' sign
// negates modulo 2^32 ("-1" gives 0xFFFFFFFF).
//
// *cursor starts at the list; each call stores the next number in *value and
// returns true, or returns false at the end of the list.
bool NextListNumber(const char** cursor, uint32_t* value);
