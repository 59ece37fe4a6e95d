// Arbitrary file bytes through both carriers in the launcher's order,
// through the PE reader as the packer's placement reads them, and through
// the packer's search for a launcher's key slot, and through brand's
// resource reader and rewrite. The file is
// copied into a heap block of exactly its size so that any read past it
// (headers, certificate table, record stack) hits ASan's redzone; every
// item found must lie in a block of its own and be released cleanly.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"
#include "payload/carriers.h"
#include "packer/writer/branding.h"
#include "packer/writer/key_slot.h"
#include "packer/writer/resources.h"
#include "payload/pe_image.h"

// The packer's placement also reads the tables of PE32+ images, which the
// carrier never looks into. Aborts when a certificate the reader hands out is
// not where, or not as long as, the file's bytes say.
static void ReadAsThePlacementDoes(ByteView file) {
  PeImage image;
  ByteView certificate{};
  uint32_t dwLength = 0;
  if (ReadPeImage(file, &image) != PeHeaders::Complete ||
      ReadFirstCertificate(file, image.tableOffset, image.tableSize, &certificate) != CertificateTable::Usable)
    return;
  if (certificate.data != file.data + uint64_t{image.tableOffset} + kWinCertificateHeaderSize ||
      !U32(file, image.tableOffset, &dwLength) || dwLength != kWinCertificateHeaderSize + certificate.size)
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t fileSize = static_cast<uint32_t>(size);
  std::unique_ptr<uint8_t[]> file(new uint8_t[size ? size : 1]);
  if (size) std::memcpy(file.get(), data, size);

  ReadAsThePlacementDoes(ByteView{file.get(), size});
  // A slot found lies wholly inside the file.
  StubKeySlot slot;
  if (FindKeySlot(ByteView{file.get(), size}, &slot) == KeySlotSearch::Found &&
      !SpanFits(size, slot.at, KeySlotSizeOf(slot.slot.version)))
    std::abort();

  // Resources read back from a rewritten image are the ones written.
  ResourceSection section;
  std::vector<Resource> resources, again;
  std::string error;
  ByteVector rewritten;
  if (FindResourceSection(ByteView{file.get(), size}, &section, &error) && ReadResources(section, &resources, &error)) {
    ReadBrand(resources);
    if (ReplaceResources(ByteVector(data, data + size), resources, &rewritten, &error) &&
        (!FindResourceSection(ByteView{rewritten.data(), rewritten.size()}, &section, &error) ||
         !ReadResources(section, &again, &error) || again.size() != resources.size()))
      std::abort();
  }

  PayloadList list{};
  ErrorPair pair = ReadCertificatePayloads(file.get(), fileSize, &list);
  if (pair.code == 0 && list.count == 0) pair = ReadTailPayload(file.get(), fileSize, &list);
  for (uint32_t i = 0; i < list.count; ++i) {
    const PayloadItem& item = list.items[i];
    if (!item.raw || !item.manifest || item.flags != (PayloadFlagCompressed | PayloadFlagSigned)) std::abort();
  }
  ReleasePayloadList(&list);
  if (list.items || list.count) std::abort();
  return 0;
}
