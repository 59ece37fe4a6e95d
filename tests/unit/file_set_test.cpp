#include "package/file_set.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/platform.h"
#include "package/file_writer.h"
#include "tests/support/fault_injection.h"
#include "tests/support/files.h"
#include "tests/support/payloads.h"

namespace {

// ---------------------------------------------------------------------------
// Building the set from real payloads (zlib records signed with the test key)

struct TextEntry {
  uint32_t id;
  std::string text;
};

struct FileRecord {
  uint32_t id;
  ByteVector content;
  bool wrongKey = false;  // signed with the other key: fails verification
};

struct PayloadSource {
  std::vector<TextEntry> entries;
  std::vector<FileRecord> files;
};

ByteVector Content(uint32_t payload, uint32_t id) {
  return MixedContent(200 + 37 * id, 2, 100 * payload + id);
}

ByteVector BuildStack(const PayloadSource& source) {
  ByteVector manifest, stack;
  for (const TextEntry& e : source.entries) AppendManifestEntry(&manifest, e.id, e.text);
  std::string error;
  EXPECT_TRUE(AppendRecord(&stack, ManifestRecordType, 0, manifest.data(), manifest.size(), TestKey(),
                           RecordEncoding{}, &error))
      << error;
  for (const FileRecord& f : source.files)
    EXPECT_TRUE(AppendRecord(&stack, FileRecordType, f.id, f.content.data(), f.content.size(),
                             f.wrongKey ? OtherKey() : TestKey(), RecordEncoding{}, &error))
        << error;
  return stack;
}

// A payload whose package 1 ("x64", 1033) is followed by `entries`, with a
// file record for every id in `ids` (content Content(payload, id)).
PayloadSource Source(uint32_t payload, std::vector<TextEntry> entries, std::vector<uint32_t> ids) {
  PayloadSource source;
  source.entries.push_back({1, "x64\\1033\\{P}\\Product"});
  source.entries.insert(source.entries.end(), entries.begin(), entries.end());
  for (uint32_t id : ids) source.files.push_back({id, Content(payload, id)});
  return source;
}

struct ExpectedItem {
  std::string name;
  uint32_t payload;
  uint32_t id;  // 0: the item holds no data
};

struct BuildCase {
  const char* name;
  std::vector<PayloadSource> payloads;
  uint32_t payloadIndex;
  uint32_t packageId;
  bool built;
  std::vector<ExpectedItem> items;
};

void ExpectItems(const FileSet& set, const std::vector<ExpectedItem>& expected, const char* name) {
  ASSERT_EQ(set.count, static_cast<int32_t>(expected.size())) << name;
  for (size_t i = 0; i < expected.size(); ++i) {
    const FileItem& item = set.items[i];
    EXPECT_EQ(item.name, expected[i].name) << name << " item " << i;
    EXPECT_EQ(item.handle, nullptr);
    EXPECT_EQ(item.written, 0u);
    EXPECT_STREQ(item.path, "");
    if (expected[i].id == 0) {
      EXPECT_EQ(item.data, nullptr) << name << " item " << i;
      EXPECT_EQ(item.size, 0u) << name << " item " << i;
      continue;
    }
    const ByteVector want = Content(expected[i].payload, expected[i].id);
    ASSERT_NE(item.data, nullptr) << name << " item " << i;
    EXPECT_EQ(ByteVector(item.data, item.data + item.size), want) << name << " item " << i;
  }
}

constexpr char kProductCode[] = "{6F330B47-2577-43AD-9095-1861BA25889B}";

// A selection as SelectPackage leaves it: the package and its product code.
PackageSelection Selected(uint32_t payloadIndex, uint32_t packageId, const char* productCode = kProductCode) {
  PackageSelection selection{};
  selection.payloadIndex = payloadIndex;
  selection.packageId = packageId;
  std::snprintf(selection.productCode, sizeof selection.productCode, "%s", productCode);
  return selection;
}

TEST(BuildFileSetTest, Cases) {
  const std::string name217(217, 'f'), name218(218, 'f'), name256(256, 'f');
  const BuildCase cases[] = {
      {"no cab entries", {Source(0, {}, {1})}, 0, 1, true, {{"main.msi", 0, 1}}},
      {"one cabinet", {Source(0, {{2, "cab\\1\\data1.cab"}}, {1, 2})}, 0, 1, true,
       {{"main.msi", 0, 1}, {"data1.cab", 0, 2}}},
      {"cabinets in manifest order", {Source(0, {{5, "cab\\1\\b.cab"}, {4, "cab\\1\\a.cab"}}, {1, 4, 5})}, 0, 1,
       true, {{"main.msi", 0, 1}, {"b.cab", 0, 5}, {"a.cab", 0, 4}}},
      {"named twice, added twice", {Source(0, {{2, "cab\\1;1\\twice.cab"}}, {1, 2})}, 0, 1, true,
       {{"main.msi", 0, 1}, {"twice.cab", 0, 2}, {"twice.cab", 0, 2}}},
      {"other package's cabinet", {Source(0, {{2, "cab\\7\\other.cab"}}, {1, 2})}, 0, 1, true,
       {{"main.msi", 0, 1}}},
      {"list with other ids, letters and gaps", {Source(0, {{2, "cab\\7;x;;1\\d.cab"}}, {1, 2})}, 0, 1, true,
       {{"main.msi", 0, 1}, {"d.cab", 0, 2}}},
      {"kind in capitals", {Source(0, {{2, "CAB\\1\\up.cab"}}, {1, 2})}, 0, 1, true,
       {{"main.msi", 0, 1}, {"up.cab", 0, 2}}},
      {"two fields are no cab entry", {Source(0, {{2, "cab\\1"}}, {1, 2})}, 0, 1, true, {{"main.msi", 0, 1}}},
      {"another kind", {Source(0, {{2, "cabinet\\1\\x.cab"}}, {1, 2})}, 0, 1, true, {{"main.msi", 0, 1}}},
      {"217-byte file name", {Source(0, {{2, "cab\\1\\" + name217}}, {1, 2})}, 0, 1, true,
       {{"main.msi", 0, 1}, {name217, 0, 2}}},
      {"218-byte file name fits no folder", {Source(0, {{2, "cab\\1\\" + name218}}, {1, 2})}, 0, 1, false,
       {{"main.msi", 0, 1}}},
      {"256-byte file name is ignored", {Source(0, {{2, "cab\\1\\" + name256}}, {1, 2})}, 0, 1, true,
       {{"main.msi", 0, 1}}},
      {"missing cabinet record: the walk goes on",
       {Source(0, {{2, "cab\\1\\x.cab"}, {3, "cab\\1\\y.cab"}}, {1, 3})}, 0, 1, false,
       {{"main.msi", 0, 1}, {"x.cab", 0, 0}, {"y.cab", 0, 3}}},
      {"missing database record", {Source(0, {{2, "cab\\1\\x.cab"}}, {2})}, 0, 1, false, {}},
      {"selected id without a record at all", {Source(0, {}, {1})}, 0, 9, false, {}},
      {"cabinet of another payload is not added",
       {Source(0, {{2, "cab\\1\\zero.cab"}}, {1, 2}), Source(1, {{3, "cab\\1\\one.cab"}}, {1, 3})}, 0, 1, true,
       {{"main.msi", 0, 1}, {"zero.cab", 0, 2}}},
      {"package of the second payload",
       {Source(0, {{2, "cab\\1\\zero.cab"}}, {1, 2}), Source(1, {{3, "cab\\1\\one.cab"}}, {1, 3})}, 1, 1, true,
       {{"main.msi", 1, 1}, {"one.cab", 1, 3}}},
  };
  for (const BuildCase& k : cases) {
    TestPayloadList payloads;
    for (const PayloadSource& source : k.payloads) payloads.Add(BuildStack(source));
    ScopedPlatformReset reset;
    const PackageSelection selection = Selected(k.payloadIndex, k.packageId);
    FileSet set{};
    set.cursor = -1;
    set.chunkSize = kWriterChunkSize;
    EXPECT_EQ(BuildFileSet(&payloads.list, selection, &set), k.built) << k.name;
    ExpectItems(set, k.items, k.name);
    ReleaseFileSet(&set);
    EXPECT_EQ(OutstandingBlocks(), 0) << k.name;
  }
}

TEST(BuildFileSetTest, CabinetSignedByAnotherKeyFails) {
  PayloadSource source = Source(0, {{2, "cab\\1\\bad.cab"}, {3, "cab\\1\\good.cab"}}, {1, 3});
  source.files.push_back({2, Content(0, 2), true});
  TestPayloadList payloads;
  payloads.Add(BuildStack(source));
  const PackageSelection selection = Selected(0, 1);
  FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
  EXPECT_FALSE(BuildFileSet(&payloads.list, selection, &set));
  ExpectItems(set, {{"main.msi", 0, 1}, {"bad.cab", 0, 0}, {"good.cab", 0, 3}}, "wrong key");
  ReleaseFileSet(&set);
}

TEST(BuildFileSetTest, CutManifestFailsRatherThanMissCabinets) {
  // The cut is made in the manifest as the carrier holds it, after the
  // record's signature was checked, since a signed cut manifest would need a
  // broken writer.
  TestPayloadList payloads;
  payloads.Add(BuildStack(Source(0, {{2, "cab\\1\\a.cab"}, {3, "cab\\1\\b.cab"}}, {1, 2, 3})));
  payloads.items[0].manifestSize -= 1;
  const PackageSelection selection = Selected(0, 1);
  FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
  EXPECT_FALSE(BuildFileSet(&payloads.list, selection, &set));
  ExpectItems(set, {{"main.msi", 0, 1}, {"a.cab", 0, 2}}, "cut");
  ReleaseFileSet(&set);
}

TEST(BuildFileSetTest, EveryAllocationFailureFailsCleanly) {
  // The second payload comes after the selected one: memory running out
  // while its entries are converted fails the set too.
  TestPayloadList payloads;
  payloads.Add(BuildStack(Source(0, {{2, "cab\\1\\a.cab"}, {3, "cab\\1;1\\b.cab"}}, {1, 2, 3})));
  payloads.Add(BuildStack(Source(1, {{2, "cab\\1\\c.cab"}}, {1, 2})));
  const PackageSelection selection = Selected(0, 1);
  for (const char* call : {"AllocBlock", "GrowBlock"}) {
    for (uint32_t nth = 1;; ++nth) {
      ScopedPlatformReset reset;
      ASSERT_TRUE(FailPlatformCall(call, nth, 8));
      FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
      const bool built = BuildFileSet(&payloads.list, selection, &set);
      const bool fired = PlatformFaultFired();
      EXPECT_EQ(built, !fired) << call << " " << nth;
      if (built) {
        EXPECT_EQ(set.count, 4) << call << " " << nth;
      }
      ReleaseFileSet(&set);
      EXPECT_EQ(OutstandingBlocks(), 0) << call << " " << nth;
      if (!fired) break;
      ASSERT_LT(nth, 500u) << call;
    }
  }
}

TEST(BuildFileSetTest, ACutManifestFailsOnlyWhereItCanHideCabinets) {
  // The cut is made in the manifest as the carrier holds it: its last byte
  // goes, so its last entry is cut.
  const struct {
    const char* name;
    uint32_t cutPayload;
    uint32_t selectedPayload;
    bool built;
    std::vector<ExpectedItem> items;
  } cases[] = {
      {"cut in the selected payload", 0, 0, false, {{"main.msi", 0, 1}, {"a.cab", 0, 2}}},
      {"cut in a later payload", 1, 0, true, {{"main.msi", 0, 1}, {"a.cab", 0, 2}, {"b.cab", 0, 3}}},
      {"cut in an earlier payload: the walk never reaches the package's", 0, 1, false, {{"main.msi", 1, 1}}},
  };
  for (const auto& c : cases) {
    TestPayloadList payloads;
    payloads.Add(BuildStack(Source(0, {{2, "cab\\1\\a.cab"}, {3, "cab\\1\\b.cab"}}, {1, 2, 3})));
    payloads.Add(BuildStack(Source(1, {{2, "cab\\1\\c.cab"}, {3, "cab\\1\\d.cab"}}, {1, 2, 3})));
    payloads.items[c.cutPayload].manifestSize -= 1;
    ScopedPlatformReset reset;
    FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
    EXPECT_EQ(BuildFileSet(&payloads.list, Selected(c.selectedPayload, 1), &set), c.built) << c.name;
    ExpectItems(set, c.items, c.name);
    ReleaseFileSet(&set);
    EXPECT_EQ(OutstandingBlocks(), 0) << c.name;
  }
}

TEST(BuildFileSetTest, NamesThatAreNotPlainAreRefusedBeforeAnythingIsRead) {
  const std::vector<TextEntry> goodCab = {{2, "cab\\1\\good.cab"}};
  const struct {
    const char* name;
    const char* productCode;
    std::vector<TextEntry> cabs;
    bool built;
    std::vector<ExpectedItem> items;
  } cases[] = {
      {"GUID product code", kProductCode, goodCab, true, {{"main.msi", 0, 1}, {"good.cab", 0, 2}}},
      {"empty product code", "", goodCab, false, {}},
      {"braces without a GUID", "{P}", goodCab, false, {}},
      {"GUID with more after it", "{6F330B47-2577-43AD-9095-1861BA25889B}\\x", goodCab, false, {}},
      {"cabinet named ..", kProductCode, {{3, "cab\\1\\.."}, {2, "cab\\1\\good.cab"}}, false,
       {{"main.msi", 0, 1}, {"good.cab", 0, 2}}},
      {"cabinet named after a device", kProductCode, {{3, "cab\\1\\NUL.cab"}}, false, {{"main.msi", 0, 1}}},
      {"cabinet with a trailing dot", kProductCode, {{3, "cab\\1\\evil.cab."}}, false, {{"main.msi", 0, 1}}},
      {"another package's odd name is none of its business", kProductCode,
       {{3, "cab\\7\\.."}, {2, "cab\\1\\good.cab"}}, true, {{"main.msi", 0, 1}, {"good.cab", 0, 2}}},
      // One file on Windows, two contents: whichever came second would
      // overwrite the database or the other cabinet.
      {"cabinet named like the database", kProductCode, {{3, "cab\\1\\MAIN.msi"}}, false,
       {{"main.msi", 0, 1}, {"MAIN.msi", 0, 3}}},
      {"two cabinets one file apart in case", kProductCode,
       {{2, "cab\\1\\data.cab"}, {3, "cab\\1\\Data.CAB"}}, false,
       {{"main.msi", 0, 1}, {"data.cab", 0, 2}, {"Data.CAB", 0, 3}}},
      {"the same cabinet named twice", kProductCode, {{2, "cab\\1;1\\good.cab"}}, true,
       {{"main.msi", 0, 1}, {"good.cab", 0, 2}, {"good.cab", 0, 2}}},
      // One file, whatever the bytes: the same record under two names, one
      // name from two records, letters outside ASCII (UTF-8 natively).
      {"one record, names one case apart", kProductCode, {{2, "cab\\1\\Disk1.cab"}, {2, "cab\\1\\disk1.cab"}},
       false, {{"main.msi", 0, 1}, {"Disk1.cab", 0, 2}, {"disk1.cab", 0, 2}}},
      {"the database's record as MAIN.MSI", kProductCode, {{1, "cab\\1\\MAIN.MSI"}}, false,
       {{"main.msi", 0, 1}, {"MAIN.MSI", 0, 1}}},
      {"one name, two records", kProductCode, {{2, "cab\\1\\a.cab"}, {3, "cab\\1\\a.cab"}}, false,
       {{"main.msi", 0, 1}, {"a.cab", 0, 2}, {"a.cab", 0, 3}}},
      {"A and a with umlauts", kProductCode, {{2, "cab\\1\\\xC3\x84.cab"}, {3, "cab\\1\\\xC3\xA4.cab"}}, false,
       {{"main.msi", 0, 1}, {"\xC3\x84.cab", 0, 2}, {"\xC3\xA4.cab", 0, 3}}},
  };
  for (const auto& c : cases) {
    TestPayloadList payloads;
    payloads.Add(BuildStack(Source(0, c.cabs, {1, 2, 3})));
    ScopedPlatformReset reset;
    FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
    EXPECT_EQ(BuildFileSet(&payloads.list, Selected(0, 1, c.productCode), &set), c.built) << c.name;
    if (c.items.empty()) {
      // Refused before the database was read or the array made.
      EXPECT_EQ(PlatformCallCount("AllocBlock"), 0u) << c.name;
      EXPECT_EQ(set.items, nullptr) << c.name;
    }
    ExpectItems(set, c.items, c.name);
    ReleaseFileSet(&set);
    EXPECT_EQ(OutstandingBlocks(), 0) << c.name;
  }
}

TEST(CollectCabEntryTest, WithoutContextGoesOn) {
  EXPECT_EQ(CollectCabEntry(0, 2, "cab\\1\\a.cab", nullptr), 1);
}

TEST(LoadFileItemTest, PayloadIndexOutsideTheListLoadsNothing) {
  TestPayloadList payloads;
  payloads.Add(BuildStack(Source(0, {}, {1})));
  FileItem item;
  std::memset(&item, 0xAB, sizeof item);
  EXPECT_FALSE(LoadFileItem(&payloads.list, 1, 1, &item, "main.msi"));
  EXPECT_STREQ(item.name, "main.msi");
  EXPECT_EQ(item.data, nullptr);
  EXPECT_EQ(item.handle, nullptr);
  EXPECT_STREQ(item.path, "");
}

// ---------------------------------------------------------------------------
// The writer's state machine

struct Step {
  uint32_t code;
  int32_t percentage;
  bool operator==(const Step& o) const { return code == o.code && percentage == o.percentage; }
};
std::ostream& operator<<(std::ostream& os, const Step& s) { return os << "(" << s.code << ", " << s.percentage << "%)"; }

struct ItemSpec {
  uint32_t size;
  bool handle;
};

std::string TempPath(const std::string& name) {
  // Unique per process: build trees and parallel runs share the temporary folder.
  return testing::TempDir() + "file_set_" + std::to_string(getpid()) + "_" + name;
}

// Items with real files (FILE* handles natively) and platform-owned data.
struct WriterFixture {
  FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
  std::vector<ByteVector> contents;
  std::vector<std::string> paths;
  explicit WriterFixture(const std::vector<ItemSpec>& items) {
    set.items = static_cast<FileItem*>(platform::AllocBlock(
        static_cast<uint32_t>((items.size() + 1) * sizeof(FileItem)), kBlockZeroed));
    for (const ItemSpec& plan : items) {
      FileItem& item = set.items[set.count];
      const uint32_t index = static_cast<uint32_t>(set.count++);
      contents.push_back(MixedContent(plan.size, 2, index + 1));
      item.data = static_cast<uint8_t*>(platform::AllocBlock(plan.size ? plan.size : 1, 0));
      if (plan.size) std::memcpy(item.data, contents.back().data(), plan.size);
      item.size = plan.size;
      paths.push_back(TempPath(std::to_string(index)));
      std::remove(paths.back().c_str());
      std::snprintf(item.path, sizeof item.path, "%s", paths.back().c_str());
      if (plan.handle) item.handle = std::fopen(paths.back().c_str(), "wb");
    }
  }
  ~WriterFixture() {
    ReleaseFileSet(&set);
    for (const std::string& path : paths) std::remove(path.c_str());
  }
  std::vector<Step> RunToEnd(size_t limit = 100) {
    std::vector<Step> steps;
    uint32_t code;
    do {
      int32_t percentage = -1;
      code = WriteNextChunk(&set, &percentage);
      steps.push_back({code, percentage});
    } while (code == 234 && steps.size() < limit);
    return steps;
  }
};

struct WriterCase {
  const char* name;
  std::vector<ItemSpec> items;
  std::vector<Step> steps;
};

TEST(WriteNextChunkTest, Sequences) {
  const WriterCase cases[] = {
      {"worked example", {{1000000, true}, {500, false}},
       {{234, 0}, {234, 52}, {234, 100}, {234, 0}, {0, 100}}},
      {"empty set", {}, {{0, 100}}},  // a built set always holds main.msi; the writer copes anyway
      {"size 0 with a handle", {{0, true}}, {{234, 0}, {0, 100}}},
      {"exact multiple of the chunk", {{2 * kWriterChunkSize, true}, {1, true}},
       {{234, 0}, {234, 50}, {234, 100}, {234, 0}, {234, 100}, {0, 100}}},
      {"one byte over a chunk", {{kWriterChunkSize + 1, true}}, {{234, 0}, {234, 99}, {234, 100}, {0, 100}}},
      {"items without handles only", {{10, false}, {20, false}}, {{234, 0}, {234, 0}, {0, 100}}},
  };
  for (const WriterCase& k : cases) {
    WriterFixture f(k.items);
    EXPECT_EQ(f.RunToEnd(), k.steps) << k.name;
    EXPECT_EQ(f.set.cursor, f.set.count) << k.name;
    for (int32_t i = 0; i < f.set.count; ++i) {
      const FileItem& item = f.set.items[i];
      EXPECT_EQ(item.handle, nullptr) << k.name << " item " << i;
      EXPECT_EQ(item.written, item.size) << k.name << " item " << i;
      if (!k.items[i].handle) continue;
      const std::string onDisk = FileText(f.paths[i]);
      EXPECT_EQ(onDisk, std::string(f.contents[i].begin(), f.contents[i].end())) << k.name << " item " << i;
    }
    // A caller that goes on after the end gets the same answer, never an
    // item past the array.
    int32_t percentage = -1;
    EXPECT_EQ(WriteNextChunk(&f.set, &percentage), 0u) << k.name;
    EXPECT_EQ(percentage, 100) << k.name;
    EXPECT_EQ(f.set.cursor, f.set.count) << k.name;
  }
}

// A scripted file: each write stores at most the next budget's bytes and
// reports the next verdict; the bytes land in `sink`.
struct Script {
  struct Write {
    uint32_t store;
    int ok;
  };
  std::vector<Write> writes;
  size_t next = 0;
  std::string sink;
  std::vector<uint32_t> asked;
  int closed = 0;
  size_t heldAt = 0;
};
Script* gScript = nullptr;

int ScriptedWrite(void*, const uint8_t* data, uint32_t size, uint32_t* written) {
  Script& s = *gScript;
  s.asked.push_back(size);
  const Script::Write w = s.next < s.writes.size() ? s.writes[s.next++] : Script::Write{size, 1};
  const uint32_t stored = w.store < size ? w.store : size;
  s.sink.append(reinterpret_cast<const char*>(data), stored);
  *written = w.store;  // may claim more than asked: the writer must not believe it
  return w.ok;
}

int ScriptedClose(void*) {
  ++gScript->closed;
  return 1;
}

// The held file reads back what reached the sink.
void* HoldSink(void*, const char*, const char*) { return gScript; }
int ReadSink(void*, uint8_t* buffer, uint32_t size, uint32_t* read) {
  *read = static_cast<uint32_t>(gScript->sink.copy(reinterpret_cast<char*>(buffer), size, gScript->heldAt));
  gScript->heldAt += *read;
  return 1;
}

struct ShortWriteCase {
  const char* name;
  uint32_t size;
  std::vector<Script::Write> writes;
  std::vector<Step> steps;  // after the first (moving) step
  std::vector<uint32_t> written;
};

TEST(WriteNextChunkTest, FailedAndShortWritesAreRetriedFromWhereTheyStopped) {
  const ShortWriteCase cases[] = {
      {"29 of 100 bytes, failed", 100, {{29, 0}}, {{29, 28}, {234, 100}, {0, 100}}, {29, 100, 100}},
      {"short but reported as success", 100, {{50, 1}}, {{29, 50}, {234, 100}, {0, 100}}, {50, 100, 100}},
      {"nothing stored, twice", 100, {{0, 0}, {0, 0}}, {{29, 0}, {29, 0}, {234, 100}, {0, 100}}, {0, 0, 100, 100}},
      {"whole but reported as failed", 100, {{100, 0}}, {{29, 100}, {0, 100}}, {100, 100}},
      {"claims more than asked", 100, {{1000, 1}}, {{234, 100}, {0, 100}}, {100, 100}},
      {"short inside a chunked item", 2 * kWriterChunkSize, {{1000, 0}},
       {{29, 0}, {234, 50}, {234, 100}, {0, 100}},
       {1000, kWriterChunkSize + 1000, 2 * kWriterChunkSize, 2 * kWriterChunkSize}},
  };
  for (const ShortWriteCase& k : cases) {
    ScopedPlatformReset reset;
    Script script;
    script.writes = k.writes;
    gScript = &script;
    gPlatform.WriteFileBytes = ScriptedWrite;
    gPlatform.CloseFileHandle = ScriptedClose;
    gPlatform.OpenHeldFile = HoldSink;
    gPlatform.ReadFileBytes = ReadSink;

    FileSet set{nullptr, 1, -1, kWriterChunkSize, 0, nullptr};
    FileItem item{};
    const ByteVector content = MixedContent(k.size, 2, 7);
    item.data = const_cast<uint8_t*>(content.data());
    item.size = k.size;
    item.handle = &script;
    set.items = &item;

    int32_t percentage = -1;
    ASSERT_EQ(WriteNextChunk(&set, &percentage), 234u) << k.name;
    std::vector<Step> steps;
    std::vector<uint32_t> written;
    for (size_t i = 0; i < k.steps.size(); ++i) {
      const uint32_t code = WriteNextChunk(&set, &percentage);
      steps.push_back({code, percentage});
      written.push_back(item.written);
      EXPECT_EQ(set.cursor, code == 0 ? 1 : 0) << k.name << " step " << i;
    }
    EXPECT_EQ(steps, k.steps) << k.name;
    EXPECT_EQ(written, k.written) << k.name;
    EXPECT_EQ(script.sink, std::string(content.begin(), content.end())) << k.name;
    EXPECT_EQ(script.closed, 1) << k.name;
    for (uint32_t asked : script.asked) EXPECT_LE(asked, kWriterChunkSize) << k.name;
    gScript = nullptr;
  }
}

// The one confirmation of a file on disk: what the held handle reads back,
// against the verified bytes, across piece boundaries.
TEST(HeldFileHoldsContentTest, OnlyTheSameBytesConfirm) {
  const ByteVector content = MixedContent(200000, 2, 7);  // three 64 KiB pieces and a part
  const std::string same(content.begin(), content.end());
  std::string lastDiffers = same, firstOfSecondPieceDiffers = same;
  lastDiffers.back() ^= 1;
  firstOfSecondPieceDiffers[65536] ^= 1;
  const struct Case {
    const char* name;
    std::string onDisk;
    bool readFails;
    bool holds;
  } cases[] = {
      {"the same bytes", same, false, true},
      {"one byte more", same + 'x', false, false},
      {"one byte less", same.substr(0, same.size() - 1), false, false},
      {"the last byte differs", lastDiffers, false, false},
      {"a piece's first byte differs", firstOfSecondPieceDiffers, false, false},
      {"empty", "", false, false},
      {"the read fails", same, true, false},
  };
  for (const Case& c : cases) {
    ScopedPlatformReset reset;
    Script script;
    script.sink = c.onDisk;
    gScript = &script;
    gPlatform.ReadFileBytes = c.readFails ? [](void*, uint8_t*, uint32_t, uint32_t*) { return 0; } : ReadSink;
    EXPECT_EQ(HeldFileHoldsContent(&script, content.data(), static_cast<uint32_t>(content.size())), c.holds)
        << c.name;
    gScript = nullptr;
  }
}

TEST(WriteNextChunkTest, PercentageIsOptional) {
  WriterFixture f({{700000, true}});
  EXPECT_EQ(WriteNextChunk(&f.set, nullptr), 234u);
  EXPECT_EQ(WriteNextChunk(&f.set, nullptr), 234u);
  EXPECT_EQ(WriteNextChunk(&f.set, nullptr), 234u);
  EXPECT_EQ(WriteNextChunk(&f.set, nullptr), 0u);
  EXPECT_EQ(FileText(f.paths[0]).size(), 700000u);
}

TEST(ReleaseFileSetTest, FreesDataAndClosesOpenHandles) {
  ScopedPlatformReset reset;
  {
    WriterFixture f({{100, true}, {5, false}, {0, true}});
    EXPECT_EQ(WriteNextChunk(&f.set, nullptr), 234u);
    EXPECT_EQ(WriteNextChunk(&f.set, nullptr), 234u);  // item 0 written, still open
  }
  EXPECT_EQ(OutstandingBlocks(), 0);
  EXPECT_EQ(PlatformCallCount("CloseFileHandle"), 2u);
}

}  // namespace
