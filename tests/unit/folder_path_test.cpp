#include "ui/folder_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The boundaries of the two path buffers: the longest text that fits, one
// more character that does not, and what the buffer holds afterwards.
TEST(FolderPath, AppendFitsUpTo1023CharactersAndOtherwiseLeavesThePath) {
  const struct {
    size_t baseLength;
    size_t partLength;
    bool fits;
  } cases[] = {{0, 1022, true}, {0, 1023, false}, {900, 122, true}, {900, 123, false}, {1023, 0, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.baseLength) + " + \\ + " + std::to_string(c.partLength));
    std::vector<char> path(kFolderPathSize, '\0');
    const std::string base(c.baseLength, 'b'), part(c.partLength, 'p');
    std::copy(base.begin(), base.end(), path.begin());
    EXPECT_EQ(AppendPathPart(path.data(), path.size(), part.c_str()), c.fits);
    EXPECT_EQ(std::string(path.data()), c.fits ? base + "\\" + part : base);
    EXPECT_EQ(path.back(), '\0');
  }
}

TEST(FolderPath, JoinFitsUpTo260CharactersAndOtherwiseLeavesNothing) {
  const std::string folder = "C:\\Windows\\Installer\\{00000000-0000-0000-0000-000000000000}";  // 59
  for (size_t nameLength : {200u, 201u, 255u}) {
    char item[261];
    const std::string name(nameLength, 'n');
    const bool fits = folder.size() + 1 + nameLength <= 260;
    EXPECT_EQ(JoinPath(item, sizeof item, folder.c_str(), name.c_str()), fits) << nameLength;
    EXPECT_EQ(std::string(item), fits ? folder + "\\" + name : "") << nameLength;
  }
}

TEST(FolderPath, OnlyRootedTextsAreFolders) {
  const struct {
    const char* text;
    bool absolute;
  } cases[] = {
      {"C:", true},          {"c:\\", true},          {"D:\\Setup", true},         {"\\\\server\\share", true},
      {"", false},           {"Setup", false},        {"C:Setup", false},          {"\\Setup", false},
      {"\\", false},         {"\\\\", false},         {"\\\\\\server", false},     {"1:\\", false},
      {"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", false},
      {"\x95\x5C\\x", false},  // a double-byte character, not a drive or a UNC prefix
  };
  for (const auto& c : cases) EXPECT_EQ(IsAbsoluteFolderPath(c.text), c.absolute) << c.text;
}

}  // namespace
