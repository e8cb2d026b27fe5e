#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/paths.h"
#include "core/setfile.h"
#include "core/textutil.h"
#include "support/settings_files.h"

namespace lentar {
namespace {

using testing::FileBytes;
using testing::FileCount;
using testing::FileSizeLimit;
using testing::TempDir;

std::string Cp1251(const char8_t* utf8) {
  return Utf8ToCp1251(reinterpret_cast<const char*>(utf8));
}

TEST(SetFileTest, TextComesBackByteForByte) {
  TempDir dir;
  const std::string path = dir / "set.txt";
  const std::string text = Cp1251(u8"{[Font:1]}Привет, мир! Ёлка\r\n\tвторая строка") +
                           std::string("\0\xFF\x98 end", 7);
  ASSERT_TRUE(SaveSetFile(path, text));
  EXPECT_EQ(FileBytes(path), text);
  std::string back = "old";
  ASSERT_TRUE(LoadSetFile(path, back));
  EXPECT_EQ(back, text);

  ASSERT_TRUE(SaveSetFile(path, ""));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  ASSERT_TRUE(LoadSetFile(path, back));
  EXPECT_EQ(back, "");
  EXPECT_EQ(FileCount(dir.Path()), 1);
}

// Paths are Windows-1251 inside the program; on disk the name is the file
// system's own (UTF-8), so other programs see the same Cyrillic name.
TEST(SetFileTest, CyrillicFileNamesReachTheFileSystemAsUtf8) {
  TempDir dir;
  const std::string path = dir.Path() + Cp1251(u8"Набор ёлка.txt");
  ASSERT_TRUE(SaveSetFile(path, "AB"));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() + reinterpret_cast<const char*>(u8"Набор ёлка.txt")));
  std::string back;
  ASSERT_TRUE(LoadSetFile(path, back));
  EXPECT_EQ(back, "AB");
  StringList names;
  ListFiles(dir.Path(), "*.txt", names, false, true);
  EXPECT_EQ(names, StringList{Cp1251(u8"Набор ёлка.txt")});
}

TEST(SetFileTest, FailuresChangeNothing) {
  TempDir dir;
  const std::string path = dir / "set.txt";
  std::string text = "kept";
  EXPECT_FALSE(LoadSetFile(dir / "missing.txt", text));
  EXPECT_FALSE(LoadSetFile(dir.Path(), text));  // a folder
  EXPECT_FALSE(LoadSetFile("/dev/zero", text));  // endless
  {
    std::ofstream big(dir / "big.txt", std::ios::binary);  // sparse, above any set
    big.seekp(static_cast<std::streamoff>(kMaxSetFileSize));
    big.put('x');
  }
  EXPECT_FALSE(LoadSetFile(dir / "big.txt", text));
  std::filesystem::remove(dir / "big.txt");
  EXPECT_EQ(text, "kept");

  ASSERT_TRUE(SaveSetFile(path, "old contents"));
  {
    FileSizeLimit full(20);  // the disk fills up halfway
    EXPECT_FALSE(SaveSetFile(path, std::string(1000, 'n')));
  }
  EXPECT_EQ(FileBytes(path), "old contents");
  EXPECT_EQ(FileCount(dir.Path()), 1);  // no temporary file left behind
  EXPECT_FALSE(SaveSetFile(dir / "missing/set.txt", "x"));
  EXPECT_FALSE(SaveSetFile(dir.Path(), "x"));
}

TEST(SetFileTest, SavingKeepsPermissionsAndLinks) {
  TempDir dir;
  const std::string path = dir / "set.txt";
  ASSERT_TRUE(SaveSetFile(path, "a"));
  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink(path, dir / "link.txt");
  ASSERT_TRUE(SaveSetFile(dir / "link.txt", "b"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_EQ(FileBytes(path), "b");
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(SetFileTest, FailureMessages) {
  const std::string path = Cp1251(u8"/home/оператор/set.txt");
  EXPECT_EQ(OpenFailedMessage(path), Cp1251(u8"Не могу открыть файл ") + path);
  EXPECT_EQ(SaveFailedMessage(path), Cp1251(u8"Не могу сохранить файл ") + path);
}

TEST(RecentFilesTest, MovesKnownNamesUpAndDropsTheOldest) {
  using History = std::array<std::string, 10>;
  History full;
  for (size_t i = 0; i < full.size(); ++i) full[i] = "/sets/" + std::to_string(i + 1) + ".txt";
  const std::string fourth = Cp1251(u8"/sets/Ёлка.txt");
  full[3] = fourth;

  History h = full;
  AddRecent(h, Cp1251(u8"  /SETS/ёЛКА.TXT\t"));
  EXPECT_EQ(h[0], Cp1251(u8"/SETS/ёЛКА.TXT"));  // spelled as newly given
  EXPECT_EQ(h[1], full[0]);
  EXPECT_EQ(h[2], full[1]);
  EXPECT_EQ(h[3], full[2]);
  for (size_t i = 4; i < 10; ++i) EXPECT_EQ(h[i], full[i]) << i;

  h = full;
  AddRecent(h, "/sets/new.txt");
  EXPECT_EQ(h[0], "/sets/new.txt");
  for (size_t i = 1; i < 10; ++i) EXPECT_EQ(h[i], full[i - 1]) << i;  // old tenth dropped

  h = full;
  AddRecent(h, " \t ");
  EXPECT_EQ(h, full);

  TSettings s;
  AddRecent(s, "a.txt");
  AddRecent(s, "b.txt");
  AddRecent(s, "A.TXT");
  EXPECT_EQ(s.ProjHistory[0], "A.TXT");
  EXPECT_EQ(s.ProjHistory[1], "b.txt");
  EXPECT_EQ(s.ProjHistory[2], "");
}

}  // namespace
}  // namespace lentar
