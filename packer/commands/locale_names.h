// Locale names for simulate's --lcid and brand's --messages: one built-in table of common Windows
// locales, so that the packer answers the same on every system whatever
// locale data the system has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The LCID of a locale name such as "de-CH", ASCII case ignored and "_"
// taken for "-". False when the table does not hold it.
bool LcidOfLocaleName(const std::string& name, uint32_t* lcid);

// A locale name, or a number: decimal, or hexadecimal after "0x" (never
// octal: "01031" is 1031). False for anything else and for 0.
bool ParseLcid(const std::string& text, uint32_t* lcid);

// The table's name for `lcid` ("de-CH"), or "" when it holds none.
std::string LocaleNameOf(uint32_t lcid);

// Every LCID of the table, in table order.
std::vector<uint32_t> TableLcids();

// The dozen locales simulate --all shows: the most frequent user locales,
// chosen so that every selection pass shows up against a typical payload.
const std::vector<std::string>& FrequentLocales();
