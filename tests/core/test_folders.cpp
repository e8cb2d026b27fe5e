#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/folders.h"
#include "core/paths.h"
#include "support/settings_files.h"

namespace lentar {
namespace {

using testing::TempDir;

TEST(FoldersTest, LayoutRule) {
  struct Case {
    bool writable;
    bool settingsBeside;
    bool installed;
    bool home;
    FileLayout layout;
  };
  const Case cases[] = {
      // Nothing installed beside the program: the build folder, a USB stick.
      {true, false, false, true, FileLayout::Portable},
      {true, true, false, true, FileLayout::Portable},
      // An installation whose folder the operator may write to (/opt in a
      // home folder): portable only once it has a settings file of its own.
      {true, true, true, true, FileLayout::Portable},
      {true, false, true, true, FileLayout::Installed},
      // A system folder: always per-user, even with a stray lentar.ini.
      {false, false, true, true, FileLayout::Installed},
      {false, true, true, true, FileLayout::Installed},
      {false, false, false, true, FileLayout::Installed},
      // No home folder to write to: the program folder is all there is.
      {false, false, true, false, FileLayout::Portable},
  };
  for (const Case& c : cases) {
    FolderFacts facts;
    facts.programFolderWritable = c.writable;
    facts.settingsBesideProgram = c.settingsBeside;
    if (c.installed) facts.installedDataFolder = "/usr/share/lentar/";
    if (c.home) {
      facts.userConfigFolder = "/home/op/.config/lentar/";
      facts.userDataFolder = "/home/op/.local/share/lentar/";
    }
    EXPECT_EQ(ChooseFileLayout(facts), c.layout)
        << c.writable << c.settingsBeside << c.installed << c.home;
  }
}

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

class ProgramFolderGuard {
 public:
  ProgramFolderGuard() : saved_(ProgramFolder()) {}
  ~ProgramFolderGuard() { SetProgramFolder(saved_); }

 private:
  std::string saved_;
};

void Touch(const std::filesystem::path& path) { std::ofstream(path) << "x"; }

TEST(FoldersTest, InstalledProgramUsesPerUserAndSharedFolders) {
  ProgramFolderGuard guard;
  TempDir dir;
  const ScopedEnv config("XDG_CONFIG_HOME", dir / "config");
  const ScopedEnv data("XDG_DATA_HOME", dir / "data");
  const std::string prefix = dir / "usr";
  std::filesystem::create_directories(NativePath(prefix + "/bin"));
  std::filesystem::create_directories(NativePath(prefix + "/share/lentar/Fonts"));
  Touch(NativePath(prefix + "/share/lentar/Fonts/default.tfa"));
  SetProgramFolder(prefix + "/bin");

  // The prefix is writable here (a test runs as its owner), and nothing says
  // the program is used portably, so the installed layout holds.
  EXPECT_EQ(CurrentFileLayout(), FileLayout::Installed);
  EXPECT_EQ(SettingsFilePath(), dir / "config/lentar/lentar.ini");
  EXPECT_TRUE(FolderExists(dir / "config/lentar"));
  EXPECT_EQ(LangsFolder(), dir / "data/lentar/Langs/");
  EXPECT_EQ(FontsFolder(), dir / "data/lentar/Fonts/");
  EXPECT_EQ(SharedDataFolder(), prefix + "/share/lentar/");
  EXPECT_EQ(DefaultFontArchivePath(), prefix + "/share/lentar/Fonts/default.tfa");
  EXPECT_EQ(VendorFilePath(), prefix + "/share/lentar/vendor.ini");

  // The operator's own default archive wins over the shipped one.
  std::filesystem::create_directories(NativePath(dir / "data/lentar/Fonts"));
  Touch(NativePath(dir / "data/lentar/Fonts/default.tfa"));
  EXPECT_EQ(DefaultFontArchivePath(), dir / "data/lentar/Fonts/default.tfa");

  // A lentar.ini beside the program makes it portable again.
  Touch(NativePath(prefix + "/bin/lentar.ini"));
  EXPECT_EQ(CurrentFileLayout(), FileLayout::Portable);
  EXPECT_EQ(SettingsFilePath(), prefix + "/bin/lentar.ini");
  EXPECT_EQ(LangsFolder(), prefix + "/bin/Langs/");
  EXPECT_EQ(DefaultFontArchivePath(), prefix + "/bin/Fonts/default.tfa");
  EXPECT_EQ(VendorFilePath(), prefix + "/bin/vendor.ini");
}

TEST(FoldersTest, HomeFolderStandsInForMissingXdgVariables) {
  ProgramFolderGuard guard;
  TempDir dir;
  const ScopedEnv home("HOME", dir.Path());
  const ScopedEnv config("XDG_CONFIG_HOME", "relative/ignored");
  const ScopedEnv data("XDG_DATA_HOME", "");  // empty: not a folder
  SetProgramFolder(dir / "missing/bin");  // cannot be written to
  EXPECT_EQ(SettingsFilePath(), dir / ".config/lentar/lentar.ini");
  EXPECT_EQ(LangsFolder(), dir / ".local/share/lentar/Langs/");
  // Nothing installed: the shipped files are looked for beside the program.
  EXPECT_EQ(SharedDataFolder(), dir / "missing/bin/");
}

}  // namespace
}  // namespace lentar
