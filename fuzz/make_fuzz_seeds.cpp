// Writes the fuzz targets' seed corpora: real payloads made by the packer's
// writer with the test key, and a few command lines. Run at build time.
//   make_fuzz_seeds <test-key.pem> <corpus root>
#include <cstdio>
#include <string>
#include <vector>

#include "packer/payload_writer.h"

namespace {

bool Write(const std::string& path, const ByteVector& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

ByteVector Utf16(const std::u16string& text) {
  ByteVector bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<uint8_t>(u));
    bytes.push_back(static_cast<uint8_t>(u >> 8));
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <key.pem> <corpus root>\n");
    return 2;
  }
  std::string error;
  SigningKey* key = LoadSigningKey(argv[1], &error);
  if (!key) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::string root = argv[2];

  ByteVector manifest;
  AppendManifestEntry(&manifest, 1, PackageEntryText("x64", "1031;1033", "{6F330B47-2577-43AD-9095-1861BA25889B}", "Sample"));
  AppendManifestEntry(&manifest, 2, CabEntryText("1", "data1.cab"));
  std::vector<PayloadFile> files = {{1, ByteVector(600, 'm')}, {2, {}}};
  for (int i = 0; i < 300; ++i) files[1].content.push_back(static_cast<uint8_t>(i * 37 + i / 7));

  struct Seed {
    const char* name;
    RecordEncoding encoding;
  } seeds[] = {{"signed-compressed", {}}, {"stored", {false, false, 9}}, {"signed-stored", {false, true, 9}},
               {"compressed", {true, false, 1}}};
  bool ok = true;
  for (const Seed& seed : seeds) {
    ByteVector stack;
    ok = ok && BuildPayload(manifest, files, key, seed.encoding, &stack, &error);
    ok = ok && Write(root + "/decode_record/" + seed.name, stack) && Write(root + "/locate_record/" + seed.name, stack);
  }
  const std::u16string lines[] = {u"launcher.exe /qn TRANSFORMS=\"a b.mst\"", u"\"\" \"\"\"\" x\ty\r\nz",
                                  u"a\"b c\"d \\\"e", u"   ", u"\"unclosed  tail"};
  int n = 0;
  for (const std::u16string& line : lines)
    ok = ok && Write(root + "/split_command_line/line" + std::to_string(n++), Utf16(line));
  FreeSigningKey(key);
  if (!ok) std::fprintf(stderr, "could not write the seeds: %s\n", error.c_str());
  return ok ? 0 : 1;
}
