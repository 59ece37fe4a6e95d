#include "payload/pe_image.h"

namespace {

constexpr uint32_t kDosHeaderSize = 64;
constexpr uint64_t kLfanewAt = 0x3C;
constexpr uint16_t kDosSignature = 'M' | 'Z' << 8;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
// Offsets from e_lfanew. PE32+ drops BaseOfData and widens ImageBase, which
// cancel out before CheckSum, and widens the four stack and heap sizes, so
// everything from NumberOfRvaAndSizes on sits 16 bytes further than in PE32.
// The optional header follows the signature (4) and the file header (20).
constexpr uint32_t kOptionalHeaderAt = 24;
constexpr uint32_t kMagicAt = kOptionalHeaderAt;
constexpr uint32_t kChecksumAt = kOptionalHeaderAt + 64;
constexpr uint32_t kPe32DirectoryCountAt = kOptionalHeaderAt + 92;
constexpr uint32_t kPe32PlusDirectoryCountAt = kOptionalHeaderAt + 108;
constexpr uint32_t kDirectoryEntrySize = 8;  // VirtualAddress (here a file offset) u32, Size u32
// The file header's NumberOfSections and SizeOfOptionalHeader; the section
// table's entries and, in each, SizeOfRawData and PointerToRawData.
constexpr uint32_t kSectionCountAt = 6;
constexpr uint32_t kOptionalHeaderSizeAt = 20;
constexpr uint32_t kSectionEntrySize = 40;
constexpr uint32_t kRawSizeAt = 16;
constexpr uint32_t kRawOffsetAt = 20;

}  // namespace

PeHeaders ReadPeImage(ByteView file, PeImage* image) {
  *image = PeImage{};
  uint16_t dosSignature = 0;
  if (file.size < kDosHeaderSize || !U16(file, 0, &dosSignature) || dosSignature != kDosSignature ||
      !U32(file, kLfanewAt, &image->lfanew))
    return PeHeaders::NoDosHeader;

  // The signature and Magic come first, so that an image whose optional
  // header is cut short still says which kind it is.
  ByteView pe;
  uint32_t peSignature = 0;
  uint16_t magic = 0;
  if (!Sub(file, image->lfanew, kMagicAt + 2, &pe) || !U32(pe, 0, &peSignature) || peSignature != kPeSignature ||
      !U16(pe, kMagicAt, &magic))
    return PeHeaders::NoPeSignature;
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return PeHeaders::UnknownMagic;
  image->magic = magic;

  const bool plus = magic == kPe32PlusMagic;
  const uint32_t countAt = plus ? kPe32PlusDirectoryCountAt : kPe32DirectoryCountAt;
  const uint32_t entryAt = countAt + 4 + kSecurityDirectoryIndex * kDirectoryEntrySize;
  ByteView headers;
  if (!Sub(file, image->lfanew, plus ? kPe32PlusHeadersSize : kPe32HeadersSize, &headers) ||
      !U32(headers, countAt, &image->directoryCount) || !U32(headers, entryAt, &image->tableOffset) ||
      !U32(headers, entryAt + 4, &image->tableSize))
    return PeHeaders::Truncated;
  image->checksumAt = uint64_t{image->lfanew} + kChecksumAt;
  image->securityEntryAt = uint64_t{image->lfanew} + entryAt;
  return PeHeaders::Complete;
}

bool DeclaresSecurityDirectory(const PeImage& image) { return image.directoryCount > kSecurityDirectoryIndex; }

CertificateTable ReadFirstCertificate(ByteView file, uint32_t tableOffset, uint32_t tableSize,
                                      ByteView* certificate) {
  if (tableSize < kWinCertificateHeaderSize) return CertificateTable::Missing;
  ByteView table;
  if (!Sub(file, tableOffset, tableSize, &table)) return CertificateTable::OutsideFile;
  // A first entry shorter than its own header or longer than the table
  // would hand the decoder bytes outside the table (or a wrapped length):
  // it is no usable signature.
  uint32_t entryLength = 0;
  if (!U32(table, 0, &entryLength) || entryLength < kWinCertificateHeaderSize ||
      !Sub(table, kWinCertificateHeaderSize, entryLength - kWinCertificateHeaderSize, certificate))
    return CertificateTable::BadFirstEntry;
  return CertificateTable::Usable;
}

uint32_t PeSectionCount(ByteView file, const PeImage& image) {
  uint16_t count = 0;
  return U16(file, uint64_t{image.lfanew} + kSectionCountAt, &count) ? count : 0;
}

bool ReadPeSection(ByteView file, const PeImage& image, uint32_t index, ByteView* raw) {
  uint16_t optionalHeaderSize = 0;
  if (index >= PeSectionCount(file, image) ||
      !U16(file, uint64_t{image.lfanew} + kOptionalHeaderSizeAt, &optionalHeaderSize))
    return false;
  const uint64_t entryAt =
      uint64_t{image.lfanew} + kOptionalHeaderAt + optionalHeaderSize + uint64_t{index} * kSectionEntrySize;
  uint32_t rawSize = 0, rawOffset = 0;
  return U32(file, entryAt + kRawSizeAt, &rawSize) && U32(file, entryAt + kRawOffsetAt, &rawOffset) &&
         Sub(file, rawOffset, rawSize, raw);
}
