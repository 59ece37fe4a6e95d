// Writes the fuzz targets' seed corpora: real payloads made by the packer's
// writer with the test key, and a few command lines. Run at build time.
//   make_fuzz_seeds <test-key.pem> <corpus root>
#include <cstdio>
#include <string>
#include <vector>

#include "packer/writer/payload_writer.h"
#include "tests/support/bytes.h"
#include "tests/support/files.h"

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
    ok = ok && WriteWholeFile(root + "/decode_record/" + seed.name, stack) && WriteWholeFile(root + "/locate_record/" + seed.name, stack);
  }
  const std::u16string lines[] = {u"launcher.exe /qn TRANSFORMS=\"a b.mst\"", u"\"\" \"\"\"\" x\ty\r\nz",
                                  u"a\"b c\"d \\\"e", u"   ", u"\"unclosed  tail"};
  int n = 0;
  for (const std::u16string& line : lines)
    ok = ok && WriteWholeFile(root + "/split_command_line/line" + std::to_string(n++), Utf16(line));
  // Texts as a manifest may give them: a plain name, one past the template's
  // 49 units, and bytes of a double-byte character.
  const std::string templates[] = {
      std::string("MSI_STUB_WINDOW_CLASS_NAME") + '\0' + "Example Product 1.0" + '\0' + "MS Sans Serif",
      std::string("C") + '\0' + std::string(60, 'T') + '\0' + "F",
      std::string("C") + '\0' + "\x95\x5c\x95\x5c\xe8\xa1\xa8" + '\0' + "F"};
  n = 0;
  for (const std::string& text : templates)
    ok = ok && WriteWholeFile(root + "/dialog_template/texts" + std::to_string(n++), ByteVector(text.begin(), text.end()));
  // A 1024-byte line, the system's msiexec and a package path, then "/qn",
  // an argument with a space and an empty one.
  std::string commandLine = std::string("\xff\x03") + "C:\\windows\\system32\\msiexec.exe" + '\0' +
                            "C:\\windows\\Installer\\{6F330B47-2577-43AD-9095-1861BA25889B}\\main.msi" + '\0';
  const ByteVector arguments = Utf16(std::u16string(u"/qn") + u'\0' + u"A B=1" + u'\0');
  commandLine.append(arguments.begin(), arguments.end());
  ok = ok && WriteWholeFile(root + "/msiexec_command_line/typical", ByteVector(commandLine.begin(), commandLine.end()));
  FreeSigningKey(key);
  if (!ok) std::fprintf(stderr, "could not write the seeds: %s\n", error.c_str());
  return ok ? 0 : 1;
}
