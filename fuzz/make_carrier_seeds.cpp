// make_carrier_seeds EXE_DIR KEY.pem OUT_DIR
// Writes the carrier fuzz target's seeds: the test executables as they are,
// and filled with a signed payload in each place the carriers look (file
// tail, certificate table, certificate extension, both), so that fuzzing
// starts from inputs that reach the certificate loop and the record reader.
#include <algorithm>
#include <cstdio>
#include <string>

#include "packer/writer/payload_writer.h"
#include "packer/writer/pe_placement.h"
#include "payload/payload_key.h"
#include "payload/pe_image.h"
#include "tests/support/files.h"

// The executable with an empty key slot written over the start of its first
// section that has room, so that the slot search starts from a slot.
static ByteVector WithKeySlot(const ByteVector& exe) {
  const ByteView file{exe.data(), exe.size()};
  const uint8_t slot[kKeySlotModulusAt] = {MSILAUNCH_KEY_SLOT_HEAD};
  PeImage image;
  ByteVector out(exe);
  ByteView raw{};
  for (uint32_t i = 0; ReadPeImage(file, &image) == PeHeaders::Complete && i < PeSectionCount(file, image); ++i) {
    if (!ReadPeSection(file, image, i, &raw) || raw.size < kKeySlotSize) continue;
    std::copy(slot, slot + sizeof slot, out.begin() + (raw.data - file.data));
    break;
  }
  return out;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_carrier_seeds EXE_DIR KEY.pem OUT_DIR\n");
    return 2;
  }
  const std::string exeDir = argv[1], outDir = argv[3];
  const ByteVector unsignedExe = ReadWholeFile(exeDir + "/unsigned.exe");
  const ByteVector signedExe = ReadWholeFile(exeDir + "/signed.exe");
  std::string error;
  SigningKey* key = LoadSigningKey(argv[2], &error);
  if (unsignedExe.empty() || signedExe.empty() || !key) {
    std::fprintf(stderr, "make_carrier_seeds: cannot read the inputs %s\n", error.c_str());
    return 1;
  }
  ByteVector manifest, stack;
  AppendManifestEntry(&manifest, 1, PackageEntryText("x64", "1033", "{00000000-0000-4000-8000-000000000001}", "Seed"));
  // Small, so that mutations land in the headers and the stack alike.
  const bool built = BuildPayload(manifest, {{1, ByteVector(64, 's')}}, key, RecordEncoding{}, &stack, &error);
  FreeSigningKey(key);

  const ByteVector slotExe = WithKeySlot(unsignedExe);
  ByteVector tail, table, certificate, both;
  const bool ok = built && PlaceStackAtEnd(unsignedExe, stack, &tail, &error) &&
                  PlaceStackInCertificateTable(signedExe, stack, &table, &error) &&
                  PlaceStackInCertificate(signedExe, stack, &certificate, &error) &&
                  PlaceStackInCertificateTable(certificate, stack, &both, &error);
  if (!ok) {
    std::fprintf(stderr, "make_carrier_seeds: %s\n", error.c_str());
    return 1;
  }
  const struct {
    const char* name;
    const ByteVector* bytes;
  } seeds[] = {{"unsigned.exe", &unsignedExe}, {"signed.exe", &signedExe},   {"tail.exe", &tail},
               {"table.exe", &table},          {"certificate.exe", &certificate}, {"both.exe", &both},
               {"slot.exe", &slotExe}};
  for (const auto& seed : seeds) {
    if (!WriteWholeFile(outDir + "/" + seed.name, *seed.bytes)) {
      std::fprintf(stderr, "make_carrier_seeds: cannot write %s\n", seed.name);
      return 1;
    }
  }
  return 0;
}
