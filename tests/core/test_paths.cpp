#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/paths.h"
#include "support/settings_files.h"

namespace lentar {
namespace {

using testing::TempDir;

void Touch(const std::string& path) { std::ofstream(path) << "x"; }

// Restores the program folder a test changed.
class ProgramFolderGuard {
 public:
  ProgramFolderGuard() : saved_(ProgramFolder()) {}
  ~ProgramFolderGuard() { SetProgramFolder(saved_); }

 private:
  std::string saved_;
};

TEST(PathsTest, WellFormedPaths) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"/home/op/sets/a.txt", true},
      {"a.txt", true},
      {"sets/a.b/c.txt", true},
      {"a\\b.txt", true},  // a backslash is an ordinary character here
      {"C:/Sets/a.txt", true},
      {"\xCF\xF0\xEE\xE1\xE0.txt", true},  // Cyrillic name
      {"", false},
      {"//server/a.txt", false},
      {"sets//a.txt", false},
      {"/home/op/sets/", false},
      {".txt", false},
      {" a.txt", false},
      {"a*.txt", false},
      {"a?.txt", false},
      {"a<b", false},
      {"a>b", false},
      {"a\"b", false},
      {"a\x01" "b", false},
      {"a\x85" "b", false},
      {"sets/.hidden", false},
      {"sets./a", false},
      {"C:", false},
      {"ab:c", false},
      {"C:a:b", false},
      {"C:.x", false},
      {"C:a.x", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWellFormedPath(c.text), c.ok) << '"' << c.text << '"';
}

TEST(PathsTest, PathTexts) {
  EXPECT_EQ(FilePathOf("/a/b/c.txt"), "/a/b/");
  EXPECT_EQ(FilePathOf("c.txt"), "");
  EXPECT_EQ(FileNameOf("/a/b/c.txt"), "c.txt");
  EXPECT_EQ(FileNameOf("c.txt"), "c.txt");
  EXPECT_EQ(FileNameOf("/a/b/"), "");

  EXPECT_EQ(ChangeExtension("/a.b/set", ".bin"), "/a.b/set.bin");
  EXPECT_EQ(ChangeExtension("set.txt", ".bin"), "set.bin");
  EXPECT_EQ(ChangeExtension("/x/set.old.txt", ".bin"), "/x/set.old.bin");
  EXPECT_EQ(ChangeExtension("set", ".bin"), "set.bin");

  EXPECT_EQ(IncludeSlash("/a"), "/a/");
  EXPECT_EQ(IncludeSlash("/a/"), "/a/");
  EXPECT_EQ(IncludeSlash(""), "");
  EXPECT_EQ(ExcludeSlash("/a/"), "/a");
  EXPECT_EQ(ExcludeSlash("/"), "/");
  EXPECT_EQ(ExcludeSlash(""), "");
}

TEST(PathsTest, ProgramRelativePaths) {
  ProgramFolderGuard guard;
  SetProgramFolder("/opt/prog");
  EXPECT_EQ(ProgramFolder(), "/opt/prog/");

  struct Case {
    const char* value;
    bool withSlash;
    const char* stored;
  };
  const Case toRelative[] = {
      {"/opt/prog/Fonts/a.tfa", false, "%PROGPATH%/Fonts/a.tfa"},
      {"/opt/prog/Fonts/", true, "%PROGPATH%/Fonts/"},
      {"/opt/prog/Fonts/", false, "%PROGPATH%/Fonts"},
      {"/opt/program2/x", false, "/opt/program2/x"},
      {"/opt/prog", false, "%PROGPATH%"},
      {"/opt/prog", true, "%PROGPATH%/"},
      {"/OPT/Prog/x", false, "%PROGPATH%/x"},
      {"", false, ""},
  };
  for (const Case& c : toRelative) {
    EXPECT_EQ(ToProgramRelative(c.value, c.withSlash), c.stored) << c.value;
  }

  const Case fromRelative[] = {
      {"%PROGPATH%/Fonts/a.tfa", false, "/opt/prog/Fonts/a.tfa"},
      {"%progpath%/Fonts/a.tfa", false, "/opt/prog/Fonts/a.tfa"},
      {"%PROGPATH%\\Fonts\\a.tfa", false, "/opt/prog/Fonts/a.tfa"},  // stored by Windows
      {"%PROGPATH%", true, "/opt/prog/"},
      {"%PROGPATHX/a", false, "%PROGPATHX/a"},
      {"/elsewhere/a.tfa", false, "/elsewhere/a.tfa"},
  };
  for (const Case& c : fromRelative) {
    EXPECT_EQ(FromProgramRelative(c.value, c.withSlash), c.stored) << c.value;
  }

  EXPECT_EQ(ReplacePrefix("", "abc/", "x", false), "abc");
  EXPECT_EQ(ReplacePrefix("/a/", "/a/b/", "/c", true), "/c/b/");
}

TEST(PathsTest, ProgramFolderIsTheExecutablesFolder) {
  ProgramFolderGuard guard;
  InitProgramFolder("ignored-when-proc-self-exe-exists");
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kPathSeparator);
  EXPECT_TRUE(std::filesystem::equivalent(folder, LENTAR_BIN_DIR));
  EXPECT_EQ(FontsFolder(), folder + "Fonts/");
}

TEST(PathsTest, FoldersAndFiles) {
  TempDir dir;
  EXPECT_TRUE(FolderExists(dir.Path()));
  EXPECT_FALSE(FolderExists(dir / "a"));
  EXPECT_FALSE(FolderExists(""));
  EXPECT_TRUE(EnsureFolder(dir / "a/b/c/"));
  EXPECT_TRUE(FolderExists(dir / "a/b/c"));
  Touch(dir / "file");
  EXPECT_FALSE(EnsureFolder(dir / "file/sub"));  // a file stands in the way

  Touch(dir / "ro.txt");
  std::filesystem::permissions(dir / "ro.txt", std::filesystem::perms::owner_read);
  EXPECT_TRUE(RemoveFile(dir / "ro.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "ro.txt"));
  EXPECT_FALSE(RemoveFile(dir / "ro.txt"));
  EXPECT_FALSE(RemoveFile(dir / "a"));  // folders are not files
  EXPECT_TRUE(FolderExists(dir / "a"));
}

TEST(PathsTest, ListFilesMatchesMaskWithoutCase) {
  TempDir dir;
  for (const char* name : {"b.lng", "A.LNG", "c.txt", "lng"}) Touch(dir / name);
  EnsureFolder(dir / "d.lng");

  StringList list = {"old"};
  ListFiles(dir.Path(), "*.lng", list, false, false);
  EXPECT_EQ(list, (StringList{"old", "A.LNG", "b.lng"}));

  ListFiles(dir.Path(), "?.txt", list, true, true);
  EXPECT_EQ(list, (StringList{dir / "c.txt"}));

  ListFiles(dir.Path(), "*.*", list, false, true);
  EXPECT_EQ(list, (StringList{"A.LNG", "b.lng", "c.txt", "lng"}));

  ListFiles(dir / "missing", "*.*", list, false, true);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace lentar
