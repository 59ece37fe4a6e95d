// The headers of a PE image that say where its certificate table lies, and
// the table's first WIN_CERTIFICATE entry, read one way for the launcher's
// certificate carrier and for the packer. The reader answers what the bytes
// say; each caller keeps its own rule on what it accepts (the launcher looks
// only into PE32 files and takes the security directory entry as it stands;
// the packer also puts a tail behind PE32+ files and honours the declared
// number of data directories).
//
//   0x3C        e_lfanew u32
//   e_lfanew    "PE\0\0" | file header (20) | optional header: Magic u16 ...
//               CheckSum u32 at +64, NumberOfRvaAndSizes u32 at +92 (PE32)
//               or +108 (PE32+), data directories from +96 or +112, the
//               security directory (offset u32, size u32) the fifth
#pragma once

#include <cstdint>

#include "base/byte_view.h"

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
// From e_lfanew through the 16 data directories of each optional header.
constexpr uint32_t kPe32HeadersSize = 248;
constexpr uint32_t kPe32PlusHeadersSize = 264;
constexpr uint32_t kSecurityDirectoryIndex = 4;
// dwLength u32 | wRevision u16 | wCertificateType u16, then the certificate.
constexpr uint32_t kWinCertificateHeaderSize = 8;

// How far ReadPeImage got: the first check that failed, or Complete.
enum class PeHeaders : uint32_t {
  NoDosHeader,    // fewer than 64 bytes, or no "MZ"
  NoPeSignature,  // e_lfanew leaves no room for the signature and Magic, or no "PE\0\0" there
  UnknownMagic,   // the optional header is neither PE32 nor PE32+
  Truncated,      // the optional header with its 16 data directories passes the end
  Complete,
};

struct PeImage {
  uint32_t lfanew;           // file offset of the PE signature
  uint16_t magic;            // kPe32Magic or kPe32PlusMagic
  uint32_t directoryCount;   // NumberOfRvaAndSizes
  uint64_t checksumAt;       // file offset of CheckSum
  uint64_t securityEntryAt;  // file offset of the security directory entry
  uint32_t tableOffset;      // that entry as it stands, whatever directoryCount says
  uint32_t tableSize;
};

// Reads the headers of `file`. On Complete every field is set and each
// field it names lies inside the file. Otherwise the fields read before the
// failing check are set (lfanew from NoPeSignature on, magic on Truncated)
// and the rest are 0.
PeHeaders ReadPeImage(ByteView file, PeImage* image);

// Whether the image declares a security directory at all: an entry beyond
// NumberOfRvaAndSizes is not part of the image, whatever bytes stand there.
bool DeclaresSecurityDirectory(const PeImage& image);

// The number of sections the file header declares (NumberOfSections), 0
// when it cannot be read. For a Complete image it always can.
uint32_t PeSectionCount(ByteView file, const PeImage& image);

// The raw data of section `index` (from 0) of a Complete image: the
// SizeOfRawData bytes at PointerToRawData of its entry in the section table,
// which follows the optional header (SizeOfOptionalHeader bytes). This is
// what the loader maps, unlike the headers' padding and the bytes behind
// the last section (a certificate table, a record stack). False, *raw
// untouched, when the entry or its raw data passes the end of the file.
bool ReadPeSection(ByteView file, const PeImage& image, uint32_t index, ByteView* raw);

// What the certificate table at (tableOffset, tableSize) of a file holds,
// checked in this order.
enum class CertificateTable : uint32_t {
  Missing,        // smaller than one WIN_CERTIFICATE header (an unsigned image)
  OutsideFile,    // offset + size pass the end of the file
  BadFirstEntry,  // the first entry's dwLength is below its own header or beyond the table
  Usable,
};

// Checks the table and, when Usable, sets *certificate to the first entry's
// certificate: the dwLength - 8 bytes after its header, inside the table and
// the file. *certificate is untouched otherwise. Only the first entry is
// read: it holds the signature, and what follows it in the table (padding,
// a record stack) is no entry.
CertificateTable ReadFirstCertificate(ByteView file, uint32_t tableOffset, uint32_t tableSize,
                                      ByteView* certificate);
