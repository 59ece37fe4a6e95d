#include "package/selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/entry_fields.h"
#include "package/manifest.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct TextEntry {
  uint32_t id;
  std::string text;  // ASCII, written as UTF-16 with its NUL
};

Bytes ManifestOf(const std::vector<TextEntry>& entries) {
  Bytes out;
  auto u32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  for (const TextEntry& e : entries) {
    u32(e.id);
    u32(static_cast<uint32_t>(e.text.size() + 1) * 2);
    for (char c : e.text) out.insert(out.end(), {static_cast<uint8_t>(c), 0});
    out.insert(out.end(), {0, 0});
  }
  return out;
}

// A run whose payloads hold only manifests (the walk reads nothing else).
struct TestRun {
  std::vector<Bytes> manifests;
  std::vector<PayloadItem> items;
  RunContext run{};
  TestRun(std::vector<std::vector<TextEntry>> payloads, uint32_t lcid, uint32_t wow64) {
    for (const auto& entries : payloads) manifests.push_back(ManifestOf(entries));
    for (Bytes& m : manifests) items.push_back(PayloadItem{nullptr, 0, m.data(), static_cast<uint32_t>(m.size()), 3});
    run.userLcid = lcid;
    run.isWow64 = wow64;
    run.payloads.items = items.data();
    run.payloads.count = static_cast<uint32_t>(items.size());
  }
};

const std::vector<TextEntry> kGermanEnglish64 = {
    {1, "x64\\1031\\{DE}\\Produkt"},
    {2, "x64\\1033\\{EN}\\Product"},
};

struct SelectCase {
  const char* name;
  std::vector<std::vector<TextEntry>> payloads;
  uint32_t userLcid;
  uint32_t isWow64;
  uint32_t packageId;     // 0: selection fails
  uint32_t payloadIndex;
  uint32_t languageOnly;  // the pass that selected: 0 exact / fallback, 1 language
  uint32_t finalLcid;
  const char* productName;
};

TEST(SelectPackageTest, Passes) {
  const std::string name255(255, 'n'), name256(256, 'n');
  const SelectCase cases[] = {
      {"exact locale", {kGermanEnglish64}, 1031, 1, 1, 0, 0, 1031, "Produkt"},
      {"Swiss German takes German by language", {kGermanEnglish64}, 2055, 1, 1, 0, 1, 2055, "Produkt"},
      {"British English takes English by language", {kGermanEnglish64}, 2057, 1, 2, 0, 1, 2057, "Product"},
      {"Spanish falls back to US English", {kGermanEnglish64}, 1034, 1, 2, 0, 0, 1033, "Product"},
      {"US English has no further fallback", {{{1, "x64\\1031\\{DE}\\Produkt"}}}, 1033, 1, 0, 0, 1, 1033, ""},
      {"sort bits are ignored", {kGermanEnglish64}, 0x10407, 1, 1, 0, 0, 0x10407, "Produkt"},
      {"low 8 bits only, not the 10-bit primary language",  // 0x0507 and 0x0407 share only the low byte
       {{{1, "x64\\1287\\{AT}\\Produkt"}}}, 0x0407, 1, 1, 0, 1, 0x0407, "Produkt"},
      {"later element of a list", {{{1, "x64\\1031;1033\\{M}\\Multi"}}}, 1033, 1, 1, 0, 0, 1033, "Multi"},
      {"64-bit Windows never takes Intel", {{{1, "Intel\\1033\\{I}\\P"}}}, 1033, 1, 0, 0, 0, 1033, ""},
      {"32-bit Windows never takes x64", {{{1, "x64\\1033\\{X}\\P"}}}, 1033, 0, 0, 0, 0, 1033, ""},
      {"32-bit Windows takes Intel",
       {{{1, "x64\\1033\\{X}\\P64"}, {2, "Intel\\1033\\{I}\\P32"}}}, 1033, 0, 2, 0, 0, 1033, "P32"},
      {"architecture in capitals", {{{1, "X64\\1033\\{X}\\P"}}}, 1033, 1, 1, 0, 0, 1033, "P"},
      {"INTEL in capitals", {{{1, "INTEL\\1033\\{I}\\P"}}}, 1033, 0, 1, 0, 0, 1033, "P"},
      {"first of two matches", {{{7, "x64\\1033\\{A}\\A"}, {8, "x64\\1033\\{B}\\B"}}}, 1033, 1, 7, 0, 0, 1033, "A"},
      {"first payload wins", {{{7, "x64\\1033\\{A}\\A"}}, {{8, "x64\\1033\\{B}\\B"}}}, 1033, 1, 7, 0, 0, 1033, "A"},
      {"match in the second payload", {{{3, "cab\\1\\a.cab"}}, {{9, "x64\\1033\\{B}\\B"}}}, 1033, 1, 9, 1, 0, 1033, "B"},
      {"an earlier pass beats an earlier entry",
       {{{1, "x64\\1033\\{EN}\\E"}, {2, "x64\\1031\\{DE}\\D"}}}, 1031, 1, 2, 0, 0, 1031, "D"},
      {"three fields", {{{1, "x64\\1033\\{A}"}}}, 1033, 1, 0, 0, 0, 1033, ""},
      {"empty field", {{{1, "x64\\1033\\\\Name"}}}, 1033, 1, 0, 0, 0, 1033, ""},
      {"leading backslash", {{{1, "\\x64\\1033\\{A}\\N"}}}, 1033, 1, 0, 0, 0, 1033, ""},
      {"text after the fourth field", {{{1, "x64\\1033\\{A}\\Name\\more\\x"}}}, 1033, 1, 1, 0, 0, 1033, "Name"},
      {"id 0 ends the pass", {{{0, "x64\\1033\\{Z}\\Z"}, {5, "x64\\1033\\{A}\\A"}}}, 1033, 1, 0, 0, 1, 1033, ""},
      {"letters and empty elements are skipped", {{{4, "x64\\de;;1033\\{A}\\A"}}}, 1033, 1, 4, 0, 0, 1033, "A"},
      {"white space and sign before a number", {{{4, "x64\\ \t+1033\\{A}\\A"}}}, 1033, 1, 4, 0, 0, 1033, "A"},
      {"digits end at the first other byte", {{{4, "x64\\1033abc\\{A}\\A"}}}, 1033, 1, 4, 0, 0, 1033, "A"},
      {"minus wraps as strtoul does", {{{4, "x64\\-4294966263\\{A}\\A"}}}, 1033, 1, 4, 0, 0, 1033, "A"},
      {"too large a number saturates, it does not wrap", {{{4, "x64\\4294968329\\{A}\\A"}}}, 1033, 1, 0, 0, 0, 1033, ""},
      {"cab entries are not packages", {{{4, "cab\\1033\\x64"}}}, 1033, 1, 0, 0, 0, 1033, ""},
      {"255-byte field fits", {{{4, "x64\\1033\\{A}\\" + name255}}}, 1033, 1, 4, 0, 0, 1033, name255.c_str()},
      {"256-byte field never matches", {{{4, "x64\\1033\\{A}\\" + name256}, {5, "x64\\1033\\{B}\\B"}}},
       1033, 1, 5, 0, 0, 1033, "B"},
      {"256-byte LCID list never matches", {{{4, "x64\\1033" + std::string(252, ';') + "\\{A}\\A"}}},
       1033, 1, 0, 0, 0, 1033, ""},
  };
  for (const SelectCase& k : cases) {
    TestRun t(k.payloads, k.userLcid, k.isWow64);
    PackageSelection selection{};
    EXPECT_EQ(SelectPackage(&t.run, &selection), k.packageId != 0) << k.name;
    EXPECT_EQ(selection.packageId, k.packageId) << k.name;
    EXPECT_EQ(t.run.userLcid, k.finalLcid) << k.name;
    if (k.packageId != 0) {
      EXPECT_EQ(selection.payloadIndex, k.payloadIndex) << k.name;
      EXPECT_EQ(selection.languageOnly, k.languageOnly) << k.name;
      EXPECT_STREQ(selection.productName, k.productName) << k.name;
    }
  }
}

TEST(SelectPackageTest, SelectedFieldsAreTheEntrysOwn) {
  TestRun t({{{1, "x64\\1031;1033\\{11111111-2222-3333-4444-555555555555}\\Beispiel App"},
              {2, "Intel\\1033\\{OTHER}\\Other"}}},
            1033, 1);
  PackageSelection selection{};
  ASSERT_TRUE(SelectPackage(&t.run, &selection));
  EXPECT_STREQ(selection.architecture, "x64");
  EXPECT_STREQ(selection.lcidList, "1031;1033");
  EXPECT_STREQ(selection.productCode, "{11111111-2222-3333-4444-555555555555}");
  EXPECT_STREQ(selection.productName, "Beispiel App");
}

TEST(SelectPackageTest, CutManifestHidesLaterPackages) {
  TestRun t({{{1, "x64\\1031\\{DE}\\D"}, {2, "x64\\1033\\{EN}\\E"}}}, 1033, 1);
  t.items[0].manifestSize -= 1;  // the second entry's text now passes the end
  PackageSelection selection{};
  EXPECT_FALSE(SelectPackage(&t.run, &selection));
}

TEST(MatchPackageEntryTest, WithoutContextGoesOn) {
  EXPECT_EQ(MatchPackageEntry(0, 1, "x64\\1033\\{A}\\A", nullptr), 1);
}

TEST(SplitEntryFieldsTest, BehavesLikeTheScanset) {
  struct Case {
    const char* text;
    uint32_t count;
    bool found;
    std::vector<std::string> fields;
  } cases[] = {
      {"a\\b\\c", 3, true, {"a", "b", "c"}},
      {"a\\b\\c\\", 3, true, {"a", "b", "c"}},
      {"a\\b\\c\\\\d", 3, true, {"a", "b", "c"}},
      {"a\\b", 3, false, {}},
      {"a\\b\\", 3, false, {}},
      {"a\\\\b\\c", 3, false, {}},
      {"\\a\\b\\c", 3, false, {}},
      {"", 1, false, {}},
      {" a \\ b\\c d", 3, true, {" a ", " b", "c d"}},
  };
  for (const Case& k : cases) {
    char a[kManifestFieldSize], b[kManifestFieldSize], c[kManifestFieldSize];
    char* const fields[] = {a, b, c};
    EXPECT_EQ(SplitEntryFields(k.text, fields, k.count), k.found) << k.text;
    if (!k.found) continue;
    for (uint32_t i = 0; i < k.count; ++i) EXPECT_EQ(fields[i], k.fields[i]) << k.text;
  }
}

TEST(NextListNumberTest, ReadsEachPieceAsPercentU) {
  struct Case {
    const char* list;
    std::vector<uint32_t> numbers;
  } cases[] = {
      {"", {}},
      {"1033", {1033}},
      {"1031;1033", {1031, 1033}},
      {";;7;;", {7}},
      {"x1;2y;;3", {2, 3}},
      {"\v\f\r\n 5; +6; -1", {5, 6, 0xFFFFFFFFu}},
      {"+;-;  ;4294967295;4294967296;-4294967296", {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}},
      {"12 34;0x10", {12, 0}},
      {"0;00;007", {0, 0, 7}},
  };
  for (const Case& k : cases) {
    std::vector<uint32_t> seen;
    const char* cursor = k.list;
    uint32_t value;
    while (NextListNumber(&cursor, &value)) seen.push_back(value);
    EXPECT_EQ(seen, k.numbers) << k.list;
    EXPECT_EQ(*cursor, '\0') << k.list;
  }
}

}  // namespace
