// The settings record and its file, lentar.ini.
//
// All lasting configuration sits in one record, Settings(), mirrored by the
// single section "Settings" of lentar.ini. The main window reads the file once
// when it is first shown; it writes it when the settings dialog is accepted,
// when a window's place changes and at exit, so that the command line run
// beside it sees the same settings. In between every window reads and changes
// the record directly. Values are clamped silently to their
// legal ranges after reading and after every edit (ClampSettings).
//
// Each member is named after its key. Texts are Windows-1251. A
// default-constructed record is the cleared record that reading starts from
// (zeros, empty texts, the default channel colours); DefaultSettings gives the
// values of a fresh installation.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/textutil.h"

namespace lentar {

// Display colours of the eight colour channels before anything else is known:
// red, green, blue, red, green, blue, white, white (red in the low byte).
inline constexpr std::array<int32_t, 8> kDefaultChannelColors = {
    0x0000FF, 0x00FF00, 0xFF0000, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0xFFFFFF};

// Name of the one section of lentar.ini.
inline constexpr const char* kSettingsSection = "Settings";

// Largest PrinterData block kept.
inline constexpr size_t kPrinterDataCapacity = 65536;

struct TSettings {
  // Window placement (Left, Top, Right, Bottom in screen pixels).
  IntRect MainCoor;     // main window
  IntRect TextCoor;     // free-text window
  IntRect SymbCoor;     // symbol table dialog
  IntRect SetCoor;      // settings dialog
  IntRect DisplayCoor;  // emulation window
  IntRect ImCoor;       // image editor
  IntRect PropCoor;     // kept and written back
  IntRect ClientCoor;   // kept and written back
  IntRect TabloCoor;    // board window
  IntRect FleetCoor;    // fleet window

  // Communication. Ports are 0-based indexes: 0 is "COM1".
  int32_t TabPort = 0;    // board port
  int32_t I2CPort = 0;    // loader (cartridge) port
  int32_t ModemPort = 0;  // modem port
  int32_t DLSpeed = 0;    // board loading bit rate, index into 9600..57600
  int32_t BaseSpeed = 0;  // board link bit rate, same list
  int32_t LdSpeed = 0;    // loader bit rate, same list (3 is 38400)
  int32_t DevAddr = 0;    // board address 0..127, -1 for none
  bool UseModem = false;  // reach the board through the modem
  std::string ModemConfig;  // modem port configuration block as hex text
  std::string ModemInit;    // modem initialisation lines
  std::string DialNo;       // telephone number to dial
  int32_t ToneDial = 0;     // non-zero tone dialling, 0 pulse
  std::string DefModemPass;              // password for a board reached by modem
  std::array<std::string, 8> Password;   // Password1 .. Password8
  // Explicit serial device paths (/dev/ttyUSB0, a simulator's pseudo-terminal);
  // when set they win over the "COMn" port indexes.
  std::string TabPortDevice;
  std::string I2CPortDevice;
  std::string ModemPortDevice;
  // The register of boards: empty for the operator's own file, else an
  // address such as postgresql://user@host/dbname of a register shared by
  // several operators (its password is never kept here).
  std::string FleetDatabase;

  // Board and compiling.
  int32_t DispLen = 0;      // board length in pixel columns, 8..2016
  int32_t OutDataSize = 0;  // largest data image to send, 4096..64000
  int32_t Speed = 0;        // starting emulation speed 1..5
  std::array<int32_t, 5> SpeedDefs{};  // emulation pixels per second for speeds 1..5
  int32_t DefFont = 0;                 // default board font number
  int32_t DefFontHeight = 0;           // font height in bytes of 8 rows, 1..4
  std::string DefFontArc;              // font archive path
  std::string DefFontArcRel;           // the same, as stored program-relative
  std::string LastFontDir;             // folder last used to choose an archive
  int32_t ColorChannelCount = 0;       // colour channels per pixel, 1..8
  std::array<int32_t, 8> ChannelColors = kDefaultChannelColors;
  std::string TestText;                // font bank dialog sample text

  // Editor and files.
  std::string FontName;      // editor font face
  int32_t FontSize = 0;      // editor font size in points
  int32_t FontStyle = 0;     // 1 bold, 2 italic, 4 underline, 8 strike-out
  int32_t FontCharSet = 0;   // 204 is Cyrillic
  std::string LastProject;   // set file open at the last exit
  std::array<std::string, 10> ProjHistory;  // recent set files, [0] most recent
  std::string FreeText;      // the free-text window's text
  uint32_t GprsFileVersion = 0;  // counter stamped into every GPRS export
  std::string LastGprsFile;
  std::string ImageDir;      // image editor's folder, with a final separator

  // Kept and written back; nothing else reads them.
  std::array<int32_t, 32> Scales{};
  std::array<int32_t, 32> ClientScales{};
  int32_t AutoCnt = 0;
  int32_t Prostoy = 0;
  int32_t Pass = 0;
  int32_t Smena = 0;
  bool UseSpeed = false;
  double Tarif = 0;
  int32_t DefFreq = 0;
  int32_t LastFromDate = 0;  // day serial (days since 30.12.1899)
  int32_t LifeTime = 0;
  int32_t DeffPassTime = 0;
  std::string Divider;
  std::string ProbeText;
  int32_t ProbeLife = 0;
  std::string PrinterName;
  std::vector<uint8_t> PrinterData;  // at most kPrinterDataCapacity bytes
  std::string PrintHeader;
  int32_t PrintCopies = 0;
  bool ApplyBright = false;

  bool operator==(const TSettings&) const = default;
};

// The one settings record of the program.
TSettings& Settings();

// The record as ReadSettings leaves it for a missing file (defaults, clamped).
void DefaultSettings(TSettings& settings);

// How a settings file was found.
enum class SettingsFileState {
  Read,        // read; its "Settings" section gave the values
  Missing,     // no such file: the defaults
  Unreadable,  // exists but could not be read (or is too large to be one)
  NoSection,   // read, but it holds no "Settings" section: damaged (all zeros,
               // a torn write, another kind of file); the defaults
};

// Reads the record from the INI file at iniPath (a missing file gives the
// defaults). False when the file exists but cannot be read, holds no
// "Settings" section, or a value is damaged beyond repair; the record is
// usable in every case and clamped.
bool ReadSettings(TSettings& settings, const std::string& iniPath);
// Same, telling how the file was found; valuesOk is false when a value was
// damaged beyond repair.
SettingsFileState ReadSettingsFile(TSettings& settings, const std::string& iniPath,
                                   bool* valuesOk = nullptr);
// The largest settings file read: a sound one is a few kilobytes, but a long
// free text (FreeText) legitimately makes it a few megabytes.
inline constexpr size_t kMaxSettingsFileSize = size_t{16} << 20;
// Same, from SettingsFilePath().
bool ReadSettings(TSettings& settings);
// Same, from a file image already in memory.
bool ReadSettingsImage(TSettings& settings, std::string_view image);

// Replaces the INI file at iniPath with the record (section "Settings" only;
// whatever else the old file held is dropped). Atomic: on failure the old file
// stays whole and the result is false.
bool WriteSettings(const TSettings& settings, const std::string& iniPath);
// Same, to SettingsFilePath().
bool WriteSettings(const TSettings& settings);

// The next GPRS version, handed out so that no number is given twice, not
// even by programs running at once: under the advisory lock of the settings
// file (see filelock.h) the stored GprsFileVersion is read, the version is
// next(the larger of it and atLeast), and the file is written back with it
// before the lock is released. A missing file is created with the defaults.
// Refused (false, file untouched) when the file is unreadable or holds no
// "Settings" section (state says so), or when it cannot be locked or written
// (state Read or Missing, errno tells why).
bool TakeGprsVersion(const std::string& iniPath, uint32_t (*next)(uint32_t), uint32_t atLeast,
                     uint32_t& version, SettingsFileState& state);
// WriteSettings for the end of an editor run: under the same lock, a
// GprsFileVersion stored meanwhile by another program is kept when it is
// larger than the record's.
bool WriteSettingsKeepingVersion(TSettings& settings, const std::string& iniPath);

// Renames a damaged settings file out of the way, so that writing fresh
// settings does not destroy what is left of the old ones: to path +
// ".damaged", or ".damaged-2", "-3", ... when that name is taken. The new
// name, or empty when the rename failed.
std::string KeepSettingsFileAside(const std::string& iniPath);

// The file image WriteSettings writes (Windows-1251, CR LF lines).
std::string SettingsFileImage(const TSettings& settings);

// Puts every value with a legal range back into it.
void ClampSettings(TSettings& settings);

// "COM" + (port index + 1): the names the operator sees.
std::string BoardPortName(const TSettings& settings);
std::string LoaderPortName(const TSettings& settings);
std::string ModemPortName(const TSettings& settings);

// The device to open for each port: the explicit device key when set, else the
// system's device for "COMn" (/dev/ttyS(n-1) on Linux, "COMn" on Windows);
// empty for a negative port index.
std::string BoardPortDevice(const TSettings& settings);
std::string LoaderPortDevice(const TSettings& settings);
std::string ModemPortDevice(const TSettings& settings);

}  // namespace lentar
