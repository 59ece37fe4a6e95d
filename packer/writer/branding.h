// The vendor's marks on a launcher stub, as resources (resources.h): its icon
// group APP, its version information and its messages (strings 100..102),
// made from the vendor's files and read back for inspect. Byte work only;
// msilaunch-pack brand reads the files and writes the stub around it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_view.h"
#include "packer/writer/resources.h"

// The launcher's icon group (resources/resource_ids.h's kAppIconName).
constexpr char kBrandIconGroup[] = "APP";
// The launcher's messages: ids 100..102, all in string block 7 (ids 96..111).
constexpr uint16_t kFirstMessageId = 100;
constexpr uint32_t kMessageCount = 3;

// Replaces the icon group APP (every language) and the RT_ICON images only it
// used with the images of the .ico file `ico`, under the replaced group's
// language (neutral when it had none or several). The images take the lowest
// RT_ICON ids no other group uses. The file is checked first: an icon
// directory of 1..256 images, each entry's bytes inside the file and past the
// directory, each a BMP (BITMAPINFOHEADER) or PNG image. False with *error
// set ("not an icon file: ...") and *resources untouched otherwise.
bool ReplaceIcon(ByteView ico, std::vector<Resource>* resources, std::string* error);

// Version information as the vendor gives it (UTF-8; empty: not given).
struct VersionStrings {
  std::string companyName, fileDescription, fileVersion, legalCopyright, originalFilename, productName,
      productVersion;
};

// A dotted version "a", "a.b", "a.b.c" or "a.b.c.d" (decimal, each at most
// 65535, missing parts 0) as the two 32-bit halves of VS_FIXEDFILEINFO.
// False for anything else.
bool ParseDottedVersion(const std::string& text, uint32_t* high, uint32_t* low);

// Whether `text` is well-formed UTF-8 (no sequence DecodeUtf8 replaces).
bool IsWellFormedUtf8(const std::string& text);

// Replaces every RT_VERSION resource by one VS_VERSIONINFO (id 1, language
// neutral) with the given strings in StringFileInfo "000004b0" and
// VarFileInfo Translation 0x0000, 0x04b0. The fixed numbers come from the
// file and product versions, each standing in for the other when missing.
// False with *error set when a version does not parse or a string is not
// UTF-8.
bool ReplaceVersionInfo(const VersionStrings& strings, std::vector<Resource>* resources, std::string* error);

// Reads a messages file: UTF-8 (a leading BOM skipped), one "ID=text" line
// for each of 100, 101 and 102, blank lines and lines starting with "#"
// skipped, CR before LF ignored. False with *error set (with the line
// number) for a missing, repeated or unknown id, a line without "=", bytes
// that are not UTF-8, or a text longer than the launcher's buffer takes for
// `language` (LoadStringA: 511 bytes for 100, 255 for 101 and 102, counting
// 2 bytes for a non-ASCII character of Chinese, Japanese and Korean).
bool ParseMessages(ByteView file, uint16_t language, std::vector<std::u16string>* texts, std::string* error);

// Writes `texts` (100..102) into string block 7 of `language`, keeping the
// block's other strings when it exists.
void ReplaceMessages(uint16_t language, const std::vector<std::u16string>& texts, std::vector<Resource>* resources);

// What inspect shows of a stub's marks.
struct BrandReport {
  bool hasIcon = false;
  std::vector<std::string> iconSizes;  // "32x32 32-bit", one per image of group APP
  std::vector<std::pair<std::string, std::string>> version;  // key, value (UTF-8), in the file's order
  std::vector<uint16_t> messageLanguages;  // languages of string block 7, ascending
};

// Reads the marks from `resources`; a version resource that does not parse
// gives no strings.
BrandReport ReadBrand(const std::vector<Resource>& resources);

// UTF-16 as UTF-8 (unpaired surrogates as U+FFFD).
std::string Utf8Of(const std::u16string& text);
