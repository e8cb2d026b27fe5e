// Where the program's own files live.
//
// Two layouts exist. Portable: everything sits beside the program, as on a
// USB stick or in the build folder — lentar.ini, "Langs", "Fonts" and
// vendor.ini in ProgramFolder(). Installed: the program folder (/usr/bin,
// /opt/lentar/bin) belongs to the system and may be shared by several
// operators, so the settings file goes to the per-user configuration folder
// ($XDG_CONFIG_HOME/lentar, else ~/.config/lentar), the writable folders
// ("Langs", the operator's own "Fonts") to the per-user data folder
// ($XDG_DATA_HOME/lentar, else ~/.local/share/lentar), and the files that ship
// with the program (the default font archive, a dealer's vendor.ini) are read
// from the installed data folder, <prefix>/share/lentar.
//
// This module alone makes that choice; every other part of the program asks
// it for a folder or a file. All paths are Windows-1251 texts with a trailing
// separator, like ProgramFolder().
#pragma once

#include <string>

namespace lentar {

enum class FileLayout { Portable, Installed };

// What the choice of layout depends on, gathered from the file system and the
// environment (a separate record so that the rule can be checked on its own).
struct FolderFacts {
  bool programFolderWritable = false;
  bool settingsBesideProgram = false;  // ProgramFolder() holds lentar.ini
  std::string installedDataFolder;     // <prefix>/share/lentar/ when it exists, else empty
  std::string userConfigFolder;        // $XDG_CONFIG_HOME/lentar/ or ~/.config/lentar/ (may be empty)
  std::string userDataFolder;          // $XDG_DATA_HOME/lentar/ or ~/.local/share/lentar/ (may be empty)
};

// Portable when the program folder is writable and either already holds
// lentar.ini or nothing is installed beside it; installed otherwise. An
// installed layout without a home folder to write to falls back to portable.
FileLayout ChooseFileLayout(const FolderFacts& facts);

// The facts of the running program: ProgramFolder(), the file system and the
// environment as they are now.
FolderFacts CurrentFolderFacts();
FileLayout CurrentFileLayout();

// Folder of lentar.ini (created when missing in the installed layout).
std::string SettingsFolder();
// SettingsFolder() + "lentar.ini".
std::string SettingsFilePath();
// Keyboard layout correction files: writable, "Langs" in the program folder or
// the per-user data folder.
std::string LangsFolder();
// The operator's font archives: "Fonts" in the program folder or the per-user
// data folder.
std::string FontsFolder();
// The copy of a set that was changed and not saved when the editor was ended
// from outside (logout, kill, the display gone): "Recovery" in the program
// folder or the per-user data folder.
std::string RecoveryFolder();
// The register of boards and the delivery log (a database of the operator's
// own): "fleet.sqlite" in the per-user data folder, whatever the layout, so
// that every copy of the program the operator starts sees the same boards; the
// program folder only when there is no home folder to write to. The folder is
// not created here.
std::string FleetDatabasePath();
// Files that ship with the program and are only read: the program folder, or
// the installed data folder.
std::string SharedDataFolder();
// The default font archive: the operator's own Fonts/default.tfa when there is
// one, else the one that ships with the program.
std::string DefaultFontArchivePath();
// The dealer's optional text lines for the about box.
std::string VendorFilePath();

}  // namespace lentar
