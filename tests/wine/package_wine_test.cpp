// The manifest walk through the system's own ANSI conversion, and the
// chunked writer on real files: what the portable tests can only emulate.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/platform.h"
#include "package/file_set.h"
#include "package/file_writer.h"
#include "package/manifest.h"
#include "tests/support/bytes.h"
#include "tests/support/files.h"
#include "tests/wine/code_page.h"

namespace {

using Bytes = std::vector<uint8_t>;

void AppendEntry(Bytes& out, uint32_t id, const std::u16string& text, uint32_t extraBytes = 0) {
  const uint32_t length = static_cast<uint32_t>(text.size()) * 2 + extraBytes;
  AppendU32(out, id);
  AppendU32(out, length);
  const Bytes units = Utf16(text);
  out.insert(out.end(), units.begin(), units.end());
  out.insert(out.end(), extraBytes, 0);
}

int32_t Collect(uint32_t, uint32_t, const char* text, void* context) {
  static_cast<std::vector<std::string>*>(context)->push_back(text);
  return 1;
}

TEST(ManifestWalkWine, TextsArriveInTheAnsiCodePage) {
  if (!HasCodePage(1252)) GTEST_SKIP() << "expectations are written for code page 1252, not " << GetACP();
  Bytes manifest;
  AppendEntry(manifest, 1, std::u16string(u"Gr\u00f6\u00dfe \u20ac") + u'\0');
  AppendEntry(manifest, 2, u"");                                 // the conversion refuses: empty text
  AppendEntry(manifest, 3, std::u16string(u"\u4e2d") + u'\0');  // not in 1252: the default character
  AppendEntry(manifest, 4, u"x", 1);                            // odd length: the next text is misaligned
  AppendEntry(manifest, 5, std::u16string(u"caf\u00e9") + u'\0');
  PayloadItem item{nullptr, 0, manifest.data(), static_cast<uint32_t>(manifest.size()), 3};
  PayloadList list{&item, 1, 0, {}};
  std::vector<std::string> texts;
  EXPECT_TRUE(ForEachManifestEntry(&list, Collect, &texts));
  EXPECT_EQ(texts, (std::vector<std::string>{"Gr\xf6\xdf" "e \x80", "", "?", "x", "caf\xe9"}));
}

std::string TempFile(const char* name) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  return std::string(folder) + "msilaunch_package_" + name;
}

HANDLE Create(const std::string& path, DWORD access) {
  return CreateFileA(path.c_str(), access, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A set of items whose data lives in platform blocks, as BuildFileSet leaves it.
struct RealSet {
  FileSet set{nullptr, 0, -1, kWriterChunkSize, 0, nullptr};
  std::vector<std::string> contents;
  RealSet(const std::vector<uint32_t>& sizes) {
    set.items = static_cast<FileItem*>(
        platform::AllocBlock(static_cast<uint32_t>(sizes.size() * sizeof(FileItem)), kBlockZeroed));
    for (uint32_t size : sizes) {
      FileItem& item = set.items[set.count++];
      std::string content(size, '\0');
      for (uint32_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + i / 1000);
      item.data = static_cast<uint8_t*>(platform::AllocBlock(size ? size : 1, 0));
      memcpy(item.data, content.data(), size);
      item.size = size;
      contents.push_back(content);
    }
  }
  ~RealSet() { ReleaseFileSet(&set); }
};

struct Step {
  uint32_t code;
  int32_t percentage;
  bool operator==(const Step& o) const { return code == o.code && percentage == o.percentage; }
};

TEST(WriteNextChunkWine, WorkedExampleOnRealFiles) {
  const std::string pathA = TempFile("a.bin"), pathB = TempFile("b.bin");
  RealSet s({1000000, 500});
  HANDLE a = Create(pathA, GENERIC_WRITE);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  s.set.items[0].handle = a;  // item B has no handle: its file "already existed"
  std::snprintf(s.set.items[0].path, sizeof s.set.items[0].path, "%s", pathA.c_str());
  std::vector<Step> steps;
  for (uint32_t code = 234; code == 234 && steps.size() < 10;) {
    int32_t percentage = -1;
    code = WriteNextChunk(&s.set, &percentage);
    steps.push_back({code, percentage});
  }
  EXPECT_EQ(steps, (std::vector<Step>{{234, 0}, {234, 52}, {234, 100}, {234, 0}, {0, 100}}));
  EXPECT_EQ(s.set.items[0].handle, nullptr);
  EXPECT_EQ(s.set.items[1].written, 500u);
  // Closed by the writer and held at once: it reads, but cannot go until released.
  EXPECT_EQ(FileText(pathA), s.contents[0]);
  EXPECT_FALSE(DeleteFileA(pathA.c_str()));
  ReleaseFileSet(&s.set);
  EXPECT_TRUE(DeleteFileA(pathA.c_str())) << GetLastError();
  EXPECT_EQ(GetFileAttributesA(pathB.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(WriteNextChunkWine, RefusedWriteIsAWriteFaultAndKeepsTheHandle) {
  const std::string path = TempFile("readonly.bin");
  RealSet s({100});
  HANDLE file = Create(path, GENERIC_READ);  // WriteFile on it fails with ERROR_ACCESS_DENIED
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  s.set.items[0].handle = file;
  int32_t percentage = -1;
  EXPECT_EQ(WriteNextChunk(&s.set, &percentage), 234u);
  EXPECT_EQ(WriteNextChunk(&s.set, &percentage), 29u);
  EXPECT_EQ(percentage, 0);
  EXPECT_EQ(s.set.items[0].written, 0u);
  EXPECT_EQ(WriteNextChunk(&s.set, &percentage), 29u);  // a retry tries the same bytes again
  EXPECT_EQ(s.set.cursor, 0);
  EXPECT_EQ(s.set.items[0].handle, file);
  EXPECT_FALSE(DeleteFileA(path.c_str()));  // still open, without sharing
  ReleaseFileSet(&s.set);                   // closes it
  EXPECT_TRUE(DeleteFileA(path.c_str())) << GetLastError();
}

}  // namespace
