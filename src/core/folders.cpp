#include "core/folders.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "core/paths.h"
#include "core/textutil.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace lentar {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettingsFileName = "lentar.ini";
constexpr const char* kFontArchiveName = "default.tfa";

bool IsFolderWritable(const std::string& folder) {
  const std::string probe = folder.empty() ? std::string(".") : folder;
#ifdef _WIN32
  return _access(probe.c_str(), 2) == 0;
#else
  return access(NativePath(probe).c_str(), W_OK | X_OK) == 0;
#endif
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(NativePath(path), ec);
}

// An absolute folder named by an environment variable, else base under the
// home folder; with "lentar" and a separator appended. Empty when neither is
// usable (the XDG rules ignore relative values).
std::string UserFolder(const char* variable, const char* homeRelative) {
#ifdef _WIN32
  (void)variable;
  (void)homeRelative;
  const char* appData = std::getenv("APPDATA");
  if (appData && *appData) return IncludeSlash(appData) + "lentar\\";
  return {};
#else
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return IncludeSlash(FromNativeArgument(value)) + "lentar/";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') {
    return IncludeSlash(FromNativeArgument(home)) + homeRelative + "lentar/";
  }
  return {};
#endif
}

// <prefix>/share/lentar/ beside <prefix>/bin/, when it exists.
std::string InstalledDataFolder() {
#ifdef _WIN32
  return {};
#else
  const std::string& program = ProgramFolder();
  if (program.empty()) return {};
  std::error_code ec;
  const fs::path share = NativePath(program).parent_path().parent_path() / "share" / "lentar";
  if (!fs::is_directory(share, ec)) return {};
  return IncludeSlash(FromNativePath(fs::weakly_canonical(share, ec)));
#endif
}

std::string SubFolder(const std::string& folder, const char* name) {
  return folder + name + kPathSeparator;
}

}  // namespace

FileLayout ChooseFileLayout(const FolderFacts& facts) {
  if (facts.programFolderWritable &&
      (facts.settingsBesideProgram || facts.installedDataFolder.empty())) {
    return FileLayout::Portable;
  }
  // Nowhere of the operator's own to write to: the program folder is the only
  // choice left, writable or not.
  if (facts.userConfigFolder.empty() || facts.userDataFolder.empty()) return FileLayout::Portable;
  return FileLayout::Installed;
}

FolderFacts CurrentFolderFacts() {
  FolderFacts facts;
  const std::string& program = ProgramFolder();
  facts.programFolderWritable = IsFolderWritable(program);
  facts.settingsBesideProgram = FileExists(program + kSettingsFileName);
  facts.installedDataFolder = InstalledDataFolder();
  facts.userConfigFolder = UserFolder("XDG_CONFIG_HOME", ".config/");
  facts.userDataFolder = UserFolder("XDG_DATA_HOME", ".local/share/");
  return facts;
}

FileLayout CurrentFileLayout() { return ChooseFileLayout(CurrentFolderFacts()); }

std::string SettingsFolder() {
  const FolderFacts facts = CurrentFolderFacts();
  if (ChooseFileLayout(facts) == FileLayout::Portable) return ProgramFolder();
  EnsureFolder(facts.userConfigFolder);
  return facts.userConfigFolder;
}

std::string SettingsFilePath() { return SettingsFolder() + kSettingsFileName; }

std::string LangsFolder() {
  const FolderFacts facts = CurrentFolderFacts();
  return SubFolder(ChooseFileLayout(facts) == FileLayout::Portable ? ProgramFolder()
                                                                   : facts.userDataFolder,
                   "Langs");
}

std::string RecoveryFolder() {
  const FolderFacts facts = CurrentFolderFacts();
  return SubFolder(ChooseFileLayout(facts) == FileLayout::Portable ? ProgramFolder()
                                                                   : facts.userDataFolder,
                   "Recovery");
}

std::string FontsFolder() {
  const FolderFacts facts = CurrentFolderFacts();
  return SubFolder(ChooseFileLayout(facts) == FileLayout::Portable ? ProgramFolder()
                                                                   : facts.userDataFolder,
                   "Fonts");
}

std::string SharedDataFolder() {
  const FolderFacts facts = CurrentFolderFacts();
  if (ChooseFileLayout(facts) == FileLayout::Portable || facts.installedDataFolder.empty()) {
    return ProgramFolder();
  }
  return facts.installedDataFolder;
}

std::string FleetDatabasePath() {
  const FolderFacts facts = CurrentFolderFacts();
  return (facts.userDataFolder.empty() ? ProgramFolder() : facts.userDataFolder) + "fleet.sqlite";
}

std::string DefaultFontArchivePath() {
  const std::string own = FontsFolder() + kFontArchiveName;
  if (FileExists(own)) return own;
  return SubFolder(SharedDataFolder(), "Fonts") + kFontArchiveName;
}

std::string VendorFilePath() { return SharedDataFolder() + "vendor.ini"; }

}  // namespace lentar
