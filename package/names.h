// What the launcher accepts as a product code and as the name of a file it
// extracts. Both end up in paths of an elevated process (the product code
// names the folder under %WINDIR%\Installer, a cabinet's name the file next
// to main.msi), so anything that the file system would read as more than one
// plain name is refused before a path is made from it.
#pragma once

// Longest file name the launcher extracts, in bytes: the shortest product
// folder a file can land in, "C:\{GUID}\" (42 bytes), leaves 217 of the 259
// that a path may have without the "\\?\" prefix. A longer name fits no
// folder at all, so no attempt and no folder the user picks could help.
constexpr unsigned kMaxPlainFileNameBytes = 217;

// True when `text` is exactly a GUID in braces, "{8-4-4-4-12}" hexadecimal
// digits in either case (38 bytes). A null text is not.
bool IsBracedGuid(const char* text);

// True when `text` (in the ANSI code page, as the launcher hands it to the
// file system) can only name one file inside a folder, and fits in every
// folder the launcher may use: not empty, at most 217 bytes, not in the
// 8.3 form that holds a '~' (at most 8 bytes, a dot and at most 3 more:
// "LONG~UM1.CAB" may be the short name the system gives another file of the
// package, "longcabinetname.cab", and is then that file), none of \ / : * ? " < > |, no control byte (below 0x20, 0x7F),
// not "." or "..", no trailing dot or space (the system strips them, so
// "a.cab." would open "a.cab"), and not a device name (CON, PRN, AUX, NUL,
// COM0-9, LPT0-9 and their superscript-digit forms, CONIN$, CONOUT$), in any
// case, also with an extension ("nul.txt") or trailing spaces before it. A
// null text is not.
bool IsPlainFileName(const char* text);

// True when the file system would take the ANSI names `a` and `b` for one
// file: each converted back to UTF-16 as the system reads it (AnsiToWide),
// then compared ordinally without regard to letter case
// (SameNameIgnoringCase), as NTFS compares names. "Disk1.cab" and
// "disk1.cab", "MAIN.MSI" and "main.msi", "\xC4.cab" and "\xE4.cab" under code
// page 1252 all fold together. A name that cannot be converted counts as
// folding together with anything: two names not known to differ are one
// file as far as a caller refusing them is concerned.
bool NamesFoldTogether(const char* a, const char* b);
