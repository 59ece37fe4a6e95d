// What the launcher accepts as a product code and as the name of a file it
// extracts. Both end up in paths of an elevated process (the product code
// names the folder under %WINDIR%\Installer, a cabinet's name the file next
// to main.msi), so anything that the file system would read as more than one
// plain name is refused before a path is made from it.
#pragma once

// Longest file name a Windows file system takes, in bytes.
constexpr unsigned kMaxPlainFileNameBytes = 255;

// True when `text` is exactly a GUID in braces, "{8-4-4-4-12}" hexadecimal
// digits in either case (38 bytes). A null text is not.
bool IsBracedGuid(const char* text);

// True when `text` (in the ANSI code page, as the launcher hands it to the
// file system) can only name one file inside a folder: not empty, at most
// 255 bytes, none of \ / : * ? " < > |, no control byte (below 0x20, 0x7F),
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
