// The packer's own logic: what it takes from an MSI's Template, what it
// refuses to put into a manifest, how it shares cabinets, and whether its
// libdeflate records are what the launcher (and plain zlib) read.
#include <gtest/gtest.h>
#include <iconv.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "base/platform.h"
#include "package/file_set.h"
#include "package/file_writer.h"
#include "package/manifest.h"
#include "packer/commands/deflate.h"
#include "packer/commands/inspect_report.h"
#include "packer/commands/keys.h"
#include "packer/io/file_io.h"
#include "packer/msi/code_pages.h"
#include "packer/msi/msi_reader.h"
#include "packer/commands/pack_command.h"
#include "packer/commands/selection_checks.h"
#include "payload/record_decoding.h"
#include "payload/record_stack.h"

namespace {

std::string KeyPath(const char* name) { return std::string(MSILAUNCH_SOURCE_DIR) + "/tests/keys/" + name; }

// A payload another writer made: entry i + 1 of `entries`, each with a file
// record of its own unless it is `missing`, signed with other-key.pem, then
// read back as verify reads it. False, with the failure recorded, when any
// step fails; *list is the caller's to release.
bool ReadBackPayload(const std::vector<std::string>& entries, uint32_t missing, PayloadList* list,
                     std::vector<InspectedEntry>* inspected) {
  std::string error, carrier;
  const SigningKeyPtr key(LoadSigningKey(KeyPath("other-key.pem"), &error));
  PayloadKey publicKey{};
  ByteVector manifest, stack;
  std::vector<PayloadFile> files;
  for (uint32_t id = 1; id <= entries.size(); ++id) {
    AppendManifestEntry(&manifest, id, entries[id - 1]);
    if (id != missing) files.push_back({id, ByteVector(10, static_cast<uint8_t>(id))});
  }
  const bool read = key != nullptr && LoadPublicModulus(KeyPath("other-key.pub.pem"), publicKey.modulus, &error) &&
                    BuildPayload(manifest, files, key.get(), RecordEncoding{}, &stack, &error) &&
                    FindPayloads(stack, &publicKey, list, &carrier, &error) && CollectEntries(*list, inspected);
  EXPECT_TRUE(read) << error;
  return read;
}

TEST(MsiTemplate, GivesArchitectureAndLcidList) {
  struct Case {
    const char* text;
    bool ok;
    const char* architecture;
    const char* lcids;
  } cases[] = {
      {"x64;1031,1033", true, "x64", "1031;1033"},
      {"Intel;1033", true, "Intel", "1033"},
      {";1033", true, "Intel", "1033"},
      {"AMD64;2057", true, "x64", "2057"},
      {"Intel;0", true, "Intel", "0"},
      {"x64;1031,,1033,", true, "x64", "1031;1033"},
      {"Intel;", true, "Intel", ""},
      {"", true, "Intel", ""},
      {"Arm64;1033", false, "", ""},
      {"Intel64;1033", false, "", ""},
  };
  for (const Case& c : cases) {
    std::string architecture, lcids, error;
    EXPECT_EQ(ParseMsiTemplate(c.text, &architecture, &lcids, &error), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_NE(error.find("cannot be chosen"), std::string::npos) << c.text;
      continue;
    }
    EXPECT_EQ(architecture, c.architecture) << c.text;
    EXPECT_EQ(lcids, c.lcids) << c.text;
  }
}

// A database wixl makes, once per run, for the reader's rows.
std::string WixlDatabase() {
  static const std::string path = [] {
    const std::string dir = testing::TempDir() + "msi-reader";
    std::string error;
    EXPECT_TRUE(MakeDirectories(dir, &error)) << error;
    std::FILE* wxs = std::fopen((dir + "/product.wxs").c_str(), "w");
    std::fputs(R"(<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{A0000000-0000-4000-8000-0000000000B1}" Name="Reader" Language="1033" Version="1.0.0"
           Manufacturer="Test" UpgradeCode="{6A3F5C4E-9A64-4C1D-8E4B-2B7C1A0E5F13}">
    <Package InstallerVersion="200" Compressed="yes" Platform="x64"/>
    <Media Id="1" Cabinet="data1.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir"><Directory Id="INSTALLDIR" Name="Reader">
      <Component Id="C1" Guid="{0C0A8D34-5E1B-4E5A-9C62-7F4E3B2D1A02}">
        <File Id="F1" Source="product.wxs"/>
      </Component>
    </Directory></Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="C1"/></Feature>
  </Product>
</Wix>)", wxs);
    std::fclose(wxs);
    EXPECT_EQ(std::system(("cd '" + dir + "' && wixl -a x64 -o product.msi product.wxs 2>/dev/null").c_str()), 0);
    return dir + "/product.msi";
  }();
  return path;
}

void PutU32At(std::vector<uint8_t>* bytes, size_t at, uint32_t value) {
  PutU32(MutableByteView{bytes->data(), bytes->size()}, at, value);
}

TEST(MsiReader, ReadsWhatWixlWroteAndRefusesCorruptDatabasesWithTheReason) {
  std::vector<uint8_t> built;
  std::string error;
  ASSERT_TRUE(ReadWholeFile(WixlDatabase(), &built, &error)) << error;
  struct Case {
    const char* name;
    void (*change)(std::vector<uint8_t>*);
    const char* reason;  // null: reads as built
  } cases[] = {
      {"as built", [](std::vector<uint8_t>*) {}, nullptr},
      {"not a compound file", [](std::vector<uint8_t>* b) { (*b)[0] ^= 0xFF; }, "no compound file signature"},
      {"truncated", [](std::vector<uint8_t>* b) { b->resize(b->size() / 3); }, "outside the file"},
      {"oversize sector shift", [](std::vector<uint8_t>* b) { (*b)[0x1E] = 30; }, "sector shift 30"},
      {"FAT loop",  // the directory's first sector names itself as the next
       [](std::vector<uint8_t>* b) {
         uint32_t fatSector = 0, directory = 0;
         U32(ByteView{b->data(), b->size()}, 0x4C, &fatSector);
         U32(ByteView{b->data(), b->size()}, 0x30, &directory);
         PutU32At(b, (size_t{fatSector} + 1) * 512 + 4 * directory, directory);
       },
       "the directory's sector chain loops"},
      {"root tree loop",  // the root's first child is its own left sibling
       [](std::vector<uint8_t>* b) {
         uint32_t directory = 0, child = 0;
         U32(ByteView{b->data(), b->size()}, 0x30, &directory);
         const size_t root = (size_t{directory} + 1) * 512;
         U32(ByteView{b->data(), b->size()}, root + 76, &child);
         PutU32At(b, root + 128 * size_t{child} + 68, child);
       },
       "tree loops"},
  };
  const std::string path = testing::TempDir() + "msi-reader/changed.msi";
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = built;
    c.change(&bytes);
    ASSERT_TRUE(WriteFileAtomically(path, bytes, 0644, &error)) << error;
    MsiFacts facts;
    const bool read = ReadMsiFacts(path, &facts, &error);
    EXPECT_EQ(read, c.reason == nullptr) << c.name << ": " << error;
    if (c.reason != nullptr) {
      EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
      continue;
    }
    EXPECT_EQ(facts.architecture, "x64");
    EXPECT_EQ(facts.productCode, "{A0000000-0000-4000-8000-0000000000B1}");
    EXPECT_EQ(facts.productName, "Reader");
    EXPECT_TRUE(facts.cabinets.empty());  // "#data1.cab" is inside the database
  }
}

TEST(CodePages, ConvertExactlyOrSayWhyNot) {
  struct Case {
    uint32_t codePage;
    const char* bytes;
    const char* utf8;  // null: refused, with `reason` in the reason
    const char* reason;
  } cases[] = {
      {932, "Setup 1.0", "Setup 1.0", nullptr},  // ASCII in any code page
      {0, "D\xE9mo", "D\u00E9mo", nullptr},       // neutral: 1252
      {1252, "\x80 \x81 \x9F \xFF", "\u20AC \u0081 \u0178 \u00FF", nullptr},
      {1251, "\xC4\xE5\xEC\xEE", "\u0414\u0435\u043C\u043E", nullptr},
      {1253, "\xAA", nullptr, "byte 0xAA has no character in code page 1253"},
      {65001, "D\xC3\xA9mo", "D\u00E9mo", nullptr},
      {65001, "D\xE9mo", nullptr, "malformed UTF-8"},
      {932, "\x83\x66\x83\x82", nullptr, "code page 932 is not supported"},
      {1259, "\xE9", nullptr, "code page 1259"},
  };
  for (const Case& c : cases) {
    std::string utf8, reason;
    const ByteView text{reinterpret_cast<const uint8_t*>(c.bytes), std::strlen(c.bytes)};
    EXPECT_EQ(ConvertCodePageToUtf8(c.codePage, text, &utf8, &reason), c.utf8 != nullptr)
        << c.codePage << " " << c.bytes;
    if (c.utf8 != nullptr) {
      EXPECT_EQ(utf8, c.utf8) << c.codePage;
    }
    if (c.reason != nullptr) {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
  }
}

// The tables against glibc's iconv, a conversion written apart from ours:
// a byte either converts alike or is refused by both. Windows alone maps the
// undefined 0x80-0x9F bytes to the control characters of the same value.
TEST(CodePages, AgreeWithIconvOnEveryUpperByte) {
  for (uint32_t codePage = 1250; codePage <= 1258; ++codePage) {
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t converter = iconv_open("UTF-8", name.c_str());
    ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1)) << name;
    for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
      char in[1] = {static_cast<char>(byte)}, out[8];
      char *inAt = in, *outAt = out;
      size_t inLeft = 1, outLeft = sizeof out;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
      // 1255 and 1258 hold a letter back for a combining mark to follow:
      // the second call lets it out.
      const bool theirs = iconv(converter, &inAt, &inLeft, &outAt, &outLeft) != static_cast<size_t>(-1) &&
                          iconv(converter, nullptr, nullptr, &outAt, &outLeft) != static_cast<size_t>(-1);
      std::string ours, reason;
      const uint8_t bytes[1] = {static_cast<uint8_t>(byte)};
      const bool converted = ConvertCodePageToUtf8(codePage, ByteView{bytes, 1}, &ours, &reason);
      if (theirs) {
        EXPECT_TRUE(converted && ours == std::string(out, outAt)) << name << " byte " << byte << ": " << reason;
      } else {
        EXPECT_EQ(converted, byte <= 0x9F) << name << " byte " << byte;
      }
    }
    iconv_close(converter);
  }
}

TEST(PackageFacts, RefusesWhatTheManifestCannotCarry) {
  const MsiFacts good{"x64", "1031;1033", "{A0000000-0000-4000-8000-000000000001}", "Demo", {"data1.cab"}, {}};
  struct Case {
    const char* what;
    void (*change)(MsiFacts*);
    const char* complaint;  // null: accepted
  } cases[] = {
      {"as read", [](MsiFacts*) {}, nullptr},
      {"arch", [](MsiFacts* f) { f->architecture = "Arm64"; }, "architecture"},
      {"empty lcids", [](MsiFacts* f) { f->lcids = ""; }, "LCID"},
      {"letter in lcids", [](MsiFacts* f) { f->lcids = "10a3"; }, "LCID"},
      {"empty piece", [](MsiFacts* f) { f->lcids = "1031;;1033"; }, "LCID"},
      {"bare guid", [](MsiFacts* f) { f->productCode = "A0000000-0000-4000-8000-000000000001"; }, "product code"},
      {"short guid", [](MsiFacts* f) { f->productCode = "{A0000000-0000-4000-8000-00000000001}"; }, "product code"},
      {"backslash", [](MsiFacts* f) { f->productName = "a\\b"; }, "product name"},
      {"empty name", [](MsiFacts* f) { f->productName = ""; }, "product name"},
      {"255 bytes", [](MsiFacts* f) { f->productName = std::string(255, 'n'); }, nullptr},
      {"256 bytes", [](MsiFacts* f) { f->productName = std::string(256, 'n'); }, "product name"},
      {"cab climbs out", [](MsiFacts* f) { f->cabinets = {"..\\x.cab"}; }, "cabinet name"},
      {"cab in a folder", [](MsiFacts* f) { f->cabinets = {"sub/x.cab"}; }, "cabinet name"},
      {"cab replaces main.msi", [](MsiFacts* f) { f->cabinets = {"Main.MSI"}; }, "cabinet name"},
      {"cabs one file apart in case", [](MsiFacts* f) { f->cabinets = {"Disk1.cab", "a.cab", "disk1.CAB"}; },
       "cabinet names \"Disk1.cab\" and \"disk1.CAB\" are one file"},
      {"every allowed byte", [](MsiFacts* f) { f->cabinets = {"Disk 1 (en-US) _+~!#$%&',;=@[]^{}.cab"}; }, nullptr},
      {"217-byte cab", [](MsiFacts* f) { f->cabinets = {std::string(213, 'c') + ".cab"}; }, nullptr},
      {"218-byte cab", [](MsiFacts* f) { f->cabinets = {std::string(214, 'c') + ".cab"}; }, "at most 217 bytes"},
      {"short-name form", [](MsiFacts* f) { f->cabinets = {"LONG~UM1.CAB"}; }, "'~'"},
      {"guid with more after it", [](MsiFacts* f) { f->productCode += "x"; }, "product code"},
      {"guid with a NUL after it",
       [](MsiFacts* f) { f->productCode = std::string("{A0000000-0000-4000-8000-000000000001}\0", 39); }, "product code"},
  };
  for (const Case& c : cases) {
    MsiFacts facts = good;
    c.change(&facts);
    std::string error;
    EXPECT_EQ(CheckPackageFacts(facts, &error), c.complaint == nullptr) << c.what;
    if (c.complaint != nullptr) {
      EXPECT_NE(error.find(c.complaint), std::string::npos) << c.what << ": " << error;
    }
  }
  // Cabinet names the launcher would turn into a path, a device or another
  // name: full-width "/" and "..\" (best fit), letters outside ASCII,
  // wildcards, quotes, pipes, streams, control bytes, NUL, trailing dots and
  // spaces, a leading space, device names.
  for (const std::string& name :
       {std::string("sub\xEF\xBC\x8Fx.cab"), std::string("\xEF\xBC\x8E\xEF\xBC\x8E\xEF\xBC\xBCx.cab"),
        std::string("Gr\xC3\xB6\xC3\x9F" "e.cab"), std::string("data*.cab"), std::string("data?.cab"),
        std::string("\"data\".cab"), std::string("<data>.cab"), std::string("a|b.cab"), std::string("a.cab:x"),
        std::string("a\tb.cab"), std::string("a.cab\0x", 7), std::string("data.cab."), std::string("data.cab "),
        std::string(" data.cab"), std::string("NUL.cab"), std::string("com1"), std::string("lpt9.cab")}) {
    MsiFacts facts = good;
    facts.cabinets = {name};
    std::string error;
    EXPECT_FALSE(CheckPackageFacts(facts, &error)) << name;
    EXPECT_NE(error.find("cabinet name"), std::string::npos) << name << ": " << error;
  }
}

PackageSource Package(const char* architecture, const char* code,
                      std::vector<std::pair<std::string, ByteVector>> cabinets) {
  PackageSource source;
  source.facts = MsiFacts{architecture, "1033", code, "Demo", {}, {}};
  source.database = ByteVector(100, static_cast<uint8_t>(code[1]));
  source.cabinets = std::move(cabinets);
  return source;
}

int32_t KeepText(uint32_t, uint32_t id, const char* text, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(std::to_string(id) + ":" + text);
  return 1;
}

TEST(PayloadPlan, StoresACabinetOncePerNameAndBytes) {
  const ByteVector shared(500, 1), other(500, 2);
  std::vector<PackageSource> packages = {
      Package("Intel", "{10000000-0000-4000-8000-000000000001}", {{"a.cab", shared}}),
      Package("x64", "{20000000-0000-4000-8000-000000000002}", {{"a.cab", shared}, {"b.cab", other}}),
      // Same name, other bytes: a cabinet of its own.
      Package("x64", "{30000000-0000-4000-8000-000000000003}", {{"a.cab", other}}),
      // Same bytes, other name: the entry has one name, so stored again.
      Package("Intel", "{40000000-0000-4000-8000-000000000004}", {{"c.cab", shared}}),
  };
  PayloadPlan plan, again;
  PlanPayload(packages, &plan);
  PlanPayload(packages, &again);
  EXPECT_EQ(plan.manifest, again.manifest);

  PayloadItem item{};
  item.manifest = plan.manifest.data();
  item.manifestSize = static_cast<uint32_t>(plan.manifest.size());
  PayloadList list{&item, 1, 0, {}};
  std::vector<std::string> texts;
  ASSERT_TRUE(ForEachManifestEntry(&list, KeepText, &texts));
  std::vector<std::string> expected = {
      "1:Intel\\1033\\{10000000-0000-4000-8000-000000000001}\\Demo",
      "2:x64\\1033\\{20000000-0000-4000-8000-000000000002}\\Demo",
      "3:x64\\1033\\{30000000-0000-4000-8000-000000000003}\\Demo",
      "4:Intel\\1033\\{40000000-0000-4000-8000-000000000004}\\Demo",
      "5:cab\\1;2\\a.cab",
      "6:cab\\2\\b.cab",
      "7:cab\\3\\a.cab",
      "8:cab\\4\\c.cab",
  };
  EXPECT_EQ(texts, expected);
  std::vector<uint32_t> ids;
  for (const PayloadFile& file : plan.files) ids.push_back(file.id);
  EXPECT_EQ(ids, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(plan.files[4].content, shared);
  EXPECT_EQ(plan.files[5].content, other);
}

ByteVector Mixed(size_t size) {
  std::mt19937 random(7);
  ByteVector bytes;
  const char text[] = "<Component Id=\"C1\" Guid=\"{0C0A8D34}\"><File Source=\"app.bin\"/></Component>\n";
  while (bytes.size() < size) {
    if (random() % 3 == 0) {
      for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<uint8_t>(random()));
    } else {
      bytes.insert(bytes.end(), text, text + sizeof text - 1);
    }
  }
  bytes.resize(size);
  return bytes;
}

TEST(Compression, EveryLevelGivesAStreamZlibAndTheLauncherInflate) {
  struct Case {
    const char* what;
    ByteVector content;
  } cases[] = {
      {"empty", {}},
      {"one byte", {42}},
      {"zeros past the window", ByteVector(40000, 0)},
      {"mixed 1 MiB", Mixed(1 << 20)},
  };
  std::string error;
  for (int level : {1, 6, kDefaultDeflateLevel, 12}) {
    for (const Case& c : cases) {
      ByteVector stream;
      ASSERT_TRUE(CompressZlibStream(c.content.data(), c.content.size(), level, &stream, &error)) << c.what;
      uLongf size = static_cast<uLongf>(c.content.size());
      ByteVector inflated(c.content.size() + 1);
      ASSERT_EQ(uncompress(inflated.data(), &size, stream.data(), stream.size()), Z_OK) << c.what << " " << level;
      inflated.resize(size);
      EXPECT_EQ(inflated, c.content) << c.what << " " << level;
      uint8_t* output = nullptr;
      uint32_t outputSize = 0;
      ASSERT_EQ(InflateToBuffer(stream.data(), static_cast<uint32_t>(stream.size()), &output, &outputSize), 0)
          << c.what << " " << level;
      EXPECT_EQ(ByteVector(output, output + outputSize), c.content) << c.what << " " << level;
      platform::FreeBlock(output);
    }
  }
  ByteVector stream;
  EXPECT_FALSE(CompressZlibStream(nullptr, 0, 13, &stream, &error));
  EXPECT_TRUE(stream.empty());
  EXPECT_EQ(error, "cannot compress at level 13");
}

TEST(EncodedPayload, ReadsBackThroughTheLaunchersCarrierWithTheGivenKey) {
  std::string error;
  const SigningKeyPtr key(LoadSigningKey(KeyPath("other-key.pem"), &error));
  ASSERT_NE(key, nullptr) << error;
  PayloadKey mine{}, wrong{};
  ASSERT_TRUE(LoadPublicModulus(KeyPath("other-key.pub.pem"), mine.modulus, &error)) << error;
  ASSERT_TRUE(LoadPublicModulus(KeyPath("test-key.pem"), wrong.modulus, &error)) << error;
  std::vector<PackageSource> packages = {
      Package("Intel", "{10000000-0000-4000-8000-000000000001}", {{"a.cab", Mixed(300000)}}),
      Package("x64", "{20000000-0000-4000-8000-000000000002}", {}),
  };
  PayloadPlan plan;
  PlanPayload(packages, &plan);
  // As pack builds it: libdeflate as the compressor, with progress.
  RecordEncoding libdeflate;
  libdeflate.level = kDefaultDeflateLevel;
  libdeflate.compressor = CompressZlibStream;
  ByteVector stack;
  uint64_t reported = 0;
  const BuildProgress progress{[](void* context, uint64_t bytes) { *static_cast<uint64_t*>(context) += bytes; },
                               &reported};
  ASSERT_TRUE(BuildPayload(plan.manifest, plan.files, key.get(), libdeflate, &stack, &error, progress)) << error;
  EXPECT_EQ(reported, plan.manifest.size() + 100 + 100 + 300000);

  PayloadList list{};
  std::string carrier;
  ASSERT_TRUE(FindPayloads(stack, &mine, &list, &carrier, &error)) << error;
  EXPECT_EQ(carrier, "stack");
  ASSERT_EQ(list.count, 1u);
  EXPECT_EQ(ByteVector(list.items[0].manifest, list.items[0].manifest + list.items[0].manifestSize), plan.manifest);
  for (const PayloadFile& file : plan.files) {
    // Every record is a plain zlib stream...
    LocatedRecord located;
    ASSERT_TRUE(LocateRecord(stack.data(), static_cast<uint32_t>(stack.size()), FileRecordType, file.id, &located));
    ByteVector inflated(file.content.size() + 1);
    uLongf size = static_cast<uLongf>(inflated.size());
    ASSERT_EQ(uncompress(inflated.data(), &size, located.data, located.dataSize), Z_OK) << file.id;
    inflated.resize(size);
    EXPECT_EQ(inflated, file.content) << file.id;
    // ...and verifies with the key it was signed with, and only with it.
    uint8_t* content = nullptr;
    uint32_t contentSize = 0;
    ErrorPair pair = ReadRecordWithKey(&mine, list.items[0], FileRecordType, file.id, &content, &contentSize);
    ASSERT_EQ(pair.code, 0u) << file.id;
    platform::FreeBlock(content);
    pair = ReadRecordWithKey(&wrong, list.items[0], FileRecordType, file.id, &content, &contentSize);
    EXPECT_EQ(pair.code, ErrorCode::FileCorrupt) << file.id;
  }
  std::vector<InspectedEntry> entries;
  ASSERT_TRUE(CollectEntries(list, &entries));
  EXPECT_TRUE(CheckManifest(list, entries).empty());
  ReleasePayloadList(&list);

  ASSERT_FALSE(FindPayloads(stack, &wrong, &list, &carrier, &error));
  EXPECT_NE(error.find("does not verify with the given key"), std::string::npos) << error;
  ReleasePayloadList(&list);
}

TEST(VerifyManifest, NamesWhatTheLauncherRefusesAndAgreesWithItsFileSet) {
  // Payloads another writer made, every record there (unless `missing`): the
  // problems verify names, and its verdict is the launcher's own file set's
  // for every package.
  const std::string code2 = "{20000000-0000-4000-8000-000000000002}";
  struct Case {
    const char* name;
    std::vector<std::string> entries;  // entry i + 1
    uint32_t missing;                  // a record left out; 0: none
    std::vector<std::string> problems;
  } cases[] = {
      {"whole", {PackageEntryText("x64", "1033", code2, "Fine"), CabEntryText("1;1", "a.cab")}, 0, {}},
      {"a product code and two cabinet names are nothing the launcher makes a path of; names fold together",
       {PackageEntryText("x64", "1033", "{P}", "Odd"), PackageEntryText("x64", "1031", code2, "Fine"),
        CabEntryText("1;2", ".."), CabEntryText("2", "NUL.cab"),
        CabEntryText("2;2", "fine.cab"),  // named twice: one file
        CabEntryText("2", "FINE.cab"), CabEntryText("2", "Main.msi")},
       0,
       {"payload 0 entry 1: product code \"{P}\" is not a GUID in braces",
        "payload 0 package 2: \"main.msi\" (the database) and \"Main.msi\" (entry 7) are one file on Windows",
        "payload 0 package 2: \"fine.cab\" (entry 5) and \"FINE.cab\" (entry 6) are one file on Windows",
        "payload 0 entry 3: file name \"..\" is not a plain file name",
        "payload 0 entry 4: file name \"NUL.cab\" is not a plain file name"}},
      {"a cabinet's record is missing",
       {PackageEntryText("x64", "1033", code2, "Fine"), CabEntryText("1", "a.cab")},
       2,
       {"payload 0 entry 2: no file record holds its a.cab"}},
  };
  for (const Case& c : cases) {
    PayloadList list{};
    std::vector<InspectedEntry> entries;
    ASSERT_TRUE(ReadBackPayload(c.entries, c.missing, &list, &entries)) << c.name;
    EXPECT_EQ(CheckManifest(list, entries), c.problems) << c.name;
    bool built = true;
    for (const InspectedEntry& entry : entries) {
      if (entry.kind != InspectedEntry::Kind::Package) continue;
      PackageSelection selection{};
      selection.payloadIndex = entry.payloadIndex;
      selection.packageId = entry.id;
      std::snprintf(selection.productCode, sizeof selection.productCode, "%s", entry.fields[2].c_str());
      FileSet set{};
      set.cursor = -1;
      set.chunkSize = kWriterChunkSize;
      built = BuildFileSet(&list, selection, &set) && built;
      ReleaseFileSet(&set);
    }
    EXPECT_EQ(built, c.problems.empty()) << c.name;
    ReleasePayloadList(&list);
  }
}

TEST(SelectionWarnings, FollowTheLaunchersSelection) {
  // Hand-made payloads pack refuses but verify reads; each warning up to its
  // first ':'. A 0 beside other LCIDs hides nothing; a sort-order variant of
  // an earlier package's LCID, or an architecture the launcher never asks
  // for, is never chosen.
  const std::string code = "{20000000-0000-4000-8000-000000000002}";
  struct Case {
    std::vector<std::string> packages;  // architecture and LCIDs of entry i + 1
    std::vector<std::string> heads;
  } cases[] = {
      {{"Intel\\0;1033", "x64\\3081", "x64\\1033"}, {}},
      {{"Intel\\1033", "x64\\1031", "x64\\66567", "x64\\1033"},
       {"payload 0 package 3 \"P\" (x64, LCIDs 66567)"}},
      {{"Intel\\1033", "arm64\\1033", "x64\\3081"},
       {"payload 0 package 2 \"P\" (arm64, LCIDs 1033)", "no US English (1033) package for 64-bit Windows"}},
      {{"x64\\0"},
       {"no package for 32-bit Windows", "no package for 64-bit Windows", "payload 0 package 1 \"P\" (x64, LCIDs 0)"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> texts;
    for (const std::string& package : c.packages) texts.push_back(package + "\\" + code + "\\P");
    PayloadList list{};
    std::vector<InspectedEntry> entries;
    ASSERT_TRUE(ReadBackPayload(texts, 0, &list, &entries)) << c.packages[0];
    std::vector<std::string> heads;
    for (const std::string& warning : SelectionWarnings(list, entries))
      heads.push_back(warning.substr(0, warning.find(':')));
    EXPECT_EQ(heads, c.heads) << c.packages[0];
    ReleasePayloadList(&list);
  }
}

TEST(KeyLoading, TakesEitherHalfOfAnRsa2048Key) {
  uint8_t fromPublic[256], fromPrivate[256];
  std::string error;
  ASSERT_TRUE(LoadPublicModulus(KeyPath("test-key.pub.pem"), fromPublic, &error)) << error;
  ASSERT_TRUE(LoadPublicModulus(KeyPath("test-key.pem"), fromPrivate, &error)) << error;
  EXPECT_EQ(std::memcmp(fromPublic, fromPrivate, 256), 0);
  EXPECT_NE(fromPublic[255], 0);  // the top byte of a 2048-bit modulus is never 0
  EXPECT_FALSE(LoadPublicModulus(KeyPath("README.md"), fromPublic, &error));
  EXPECT_NE(error.find("no PEM public or private key"), std::string::npos);
  EXPECT_EQ(PublicKeyPathFor("dir/k.pem"), "dir/k.pub.pem");
  EXPECT_EQ(PublicKeyPathFor("signing-key"), "signing-key.pub.pem");
}

}  // namespace
