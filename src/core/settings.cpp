#include "core/settings.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/atomicfile.h"
#include "core/dates.h"
#include "core/filelock.h"
#include "core/ini.h"
#include "core/paths.h"

namespace lentar {

namespace {

// "Проба " in Windows-1251: the font bank dialog's sample text.
constexpr Cp1251Literal kDefaultTestText(u8"Проба ");
constexpr const char* kDefaultSpeedDefs = "10,20,30,40,50";

// ---- Password scrambling ---------------------------------------------------
//
// A stored password is 9 bytes (length, then up to 8 characters padded with
// zeros), each combined by XOR with the next byte of a 32-bit linear
// congruential stream, and written as a quoted text. The modem password starts
// its own stream; the eight board passwords share a second one that runs on
// from Password1 to Password8. Reading replays the same streams. The streams
// are local to this file: nothing else in the program draws from them.

constexpr uint32_t kModemPasswordSeed = 0x4C4E544Du;
constexpr uint32_t kBoardPasswordSeed = 0x54414221u;
constexpr size_t kPasswordLength = 8;
constexpr size_t kStoredPasswordLength = kPasswordLength + 1;

class PasswordStream {
 public:
  explicit PasswordStream(uint32_t seed) : seed_(seed) {}
  uint8_t Next() {
    seed_ = seed_ * 134775813u + 1u;
    return static_cast<uint8_t>(seed_ >> 24);
  }

 private:
  uint32_t seed_;
};

std::string ScramblePassword(std::string_view password, PasswordStream& stream) {
  const size_t length = std::min(password.size(), kPasswordLength);
  std::string block(kStoredPasswordLength, '\0');
  block[0] = static_cast<char>(length);
  std::copy_n(password.begin(), length, block.begin() + 1);
  for (char& c : block) c = static_cast<char>(static_cast<uint8_t>(c) ^ stream.Next());
  return QuoteText(block);
}

std::string UnscramblePassword(std::string_view stored, PasswordStream& stream) {
  // The stream always advances by a whole block, so one damaged password does
  // not garble the ones stored after it.
  uint8_t key[kStoredPasswordLength];
  for (uint8_t& k : key) k = stream.Next();
  bool failed = false;
  std::string block = UnquoteText(stored, failed);
  if (failed || block.size() != kStoredPasswordLength) return {};
  for (size_t i = 0; i < kStoredPasswordLength; ++i) {
    block[i] = static_cast<char>(static_cast<uint8_t>(block[i]) ^ key[i]);
  }
  const size_t length = std::min<size_t>(static_cast<uint8_t>(block[0]), kPasswordLength);
  return block.substr(1, length);
}

// ---- Key visitors ----------------------------------------------------------
//
// VisitSettings names every key once, in file order, with its value form;
// SettingsReader and SettingsWriter give each form its reading and writing.

enum class PasswordRun { Continue, StartModem, StartBoard };

class SettingsReader {
 public:
  explicit SettingsReader(const IniFile& ini) : ini_(ini) {}

  bool Ok() const { return ok_; }

  void Rect(const char* key, IntRect& r) { r = TextToRect(Str(key, "")); }
  template <size_t N>
  void Ints(const char* key, std::array<int32_t, N>& values, const char* def) {
    // A missing key leaves the slots as they are (zeros, or the default
    // channel colours) unless the key has a default list of its own.
    if (!ini_.HasKey(kSettingsSection, key) && *def == '\0') return;
    TextToIntArray(Str(key, def), values.data(), static_cast<int>(N) - 1);
  }
  void Int(const char* key, int32_t& value, int32_t def) {
    value = ini_.ReadInteger(kSettingsSection, key, def);
  }
  void IntInRange(const char* key, int32_t& value, int32_t def, int32_t low, int32_t high) {
    Int(key, value, def);
    value = std::clamp(value, low, high);
  }
  void Unsigned(const char* key, uint32_t& value) {
    const int32_t n = ini_.ReadInteger(kSettingsSection, key, 0);
    if (n < 0) {
      // A negative counter is damage: report it, but keep reading the keys
      // after it rather than lose them.
      ok_ = false;
      value = 0;
    } else {
      value = static_cast<uint32_t>(n);
    }
  }
  void Bool(const char* key, bool& value) { value = ini_.ReadBool(kSettingsSection, key, false); }
  void Text(const char* key, std::string& value, std::string_view def) { value = Str(key, def); }
  void Quoted(const char* key, std::string& value, bool rawOnFailure) {
    const std::string raw = Str(key, "");
    bool failed = false;
    value = UnquoteText(raw, failed);
    if (failed) value = rawOnFailure ? raw : std::string();
  }
  void RelativePath(const char* key, std::string& value, bool withSlash, std::string_view def) {
    value = FromProgramRelative(Str(key, def), withSlash);
  }
  void Real(const char* key, double& value) { value = TextToFloat(Str(key, "")); }
  void Date(const char* key, int32_t& serial) {
    serial = DateToDays(ParseDotDate(NormalizeDateText(Str(key, ""))));
  }
  void Hex(const char* key, std::vector<uint8_t>& bytes) {
    const std::string text = Str(key, "");
    std::vector<uint8_t> buffer(std::min(text.size() / 2, kPrinterDataCapacity));
    buffer.resize(HexToBytes(text, buffer.data(), buffer.size()));
    bytes = std::move(buffer);
  }
  void FontArchive(std::string& relative, std::string& archive) {
    relative = FromProgramRelative(Str("DefFontArcRel", ""), false);
    archive = Str("DefFontArc", "");
    // The program-relative form wins when it names a file: it survives the
    // program folder moving, the absolute one does not.
    std::error_code ec;
    const std::filesystem::path candidate = NativePath(relative);
    if (!relative.empty() && std::filesystem::exists(candidate, ec) &&
        !std::filesystem::is_directory(candidate, ec)) {
      archive = relative;
    }
  }
  void Password(const char* key, std::string& value, PasswordRun run) {
    Restart(run);
    value = UnscramblePassword(Str(key, ""), stream_);
  }

 private:
  std::string Str(const char* key, std::string_view def) const {
    return ini_.ReadString(kSettingsSection, key, def);
  }
  void Restart(PasswordRun run) {
    if (run == PasswordRun::StartModem) stream_ = PasswordStream(kModemPasswordSeed);
    if (run == PasswordRun::StartBoard) stream_ = PasswordStream(kBoardPasswordSeed);
  }

  const IniFile& ini_;
  PasswordStream stream_{kModemPasswordSeed};
  bool ok_ = true;
};

class SettingsWriter {
 public:
  explicit SettingsWriter(IniFile& ini) : ini_(ini) {}

  void Rect(const char* key, const IntRect& r) { Put(key, RectToText(r)); }
  template <size_t N>
  void Ints(const char* key, const std::array<int32_t, N>& values, const char*) {
    Put(key, IntArrayToText(values.data(), static_cast<int>(N) - 1));
  }
  void Int(const char* key, int32_t value, int32_t) { ini_.WriteInteger(kSettingsSection, key, value); }
  void IntInRange(const char* key, int32_t value, int32_t, int32_t, int32_t) {
    ini_.WriteInteger(kSettingsSection, key, value);
  }
  void Unsigned(const char* key, uint32_t value) { ini_.WriteInteger(kSettingsSection, key, value); }
  void Bool(const char* key, bool value) { ini_.WriteBool(kSettingsSection, key, value); }
  void Text(const char* key, const std::string& value, std::string_view) { Put(key, value); }
  void Quoted(const char* key, const std::string& value, bool) { Put(key, QuoteText(value)); }
  void RelativePath(const char* key, const std::string& value, bool withSlash, std::string_view) {
    Put(key, ToProgramRelative(value, withSlash));
  }
  void Real(const char* key, double value) { Put(key, FloatToText(2, value)); }
  void Date(const char* key, int32_t serial) { Put(key, FormatDotDate(DaysToDate(serial), false)); }
  void Hex(const char* key, const std::vector<uint8_t>& bytes) {
    Put(key, BytesToHex(bytes.data(), std::min(bytes.size(), kPrinterDataCapacity)));
  }
  void FontArchive(const std::string&, const std::string& archive) {
    Put("DefFontArcRel", ToProgramRelative(archive, false));
    Put("DefFontArc", archive);
  }
  void Password(const char* key, const std::string& value, PasswordRun run) {
    if (run == PasswordRun::StartModem) stream_ = PasswordStream(kModemPasswordSeed);
    if (run == PasswordRun::StartBoard) stream_ = PasswordStream(kBoardPasswordSeed);
    Put(key, ScramblePassword(value, stream_));
  }

 private:
  void Put(const char* key, std::string_view value) { ini_.WriteString(kSettingsSection, key, value); }

  IniFile& ini_;
  PasswordStream stream_{kModemPasswordSeed};
};

// Every key of lentar.ini in file order; reading and writing share it.
template <class Visitor, class Record>
void VisitSettings(Visitor& v, Record& s) {
  static const char* const kHistoryKeys[10] = {
      "ProjHistory1", "ProjHistory2", "ProjHistory3", "ProjHistory4", "ProjHistory5",
      "ProjHistory6", "ProjHistory7", "ProjHistory8", "ProjHistory9", "ProjHistory10"};
  static const char* const kPasswordKeys[8] = {"Password1", "Password2", "Password3",
                                               "Password4", "Password5", "Password6",
                                               "Password7", "Password8"};
  const std::string& programFolder = ProgramFolder();

  v.Rect("MainCoor", s.MainCoor);
  v.Ints("Scales", s.Scales, "");
  v.Rect("PropCoor", s.PropCoor);
  v.Rect("SetCoor", s.SetCoor);
  v.Int("TabPort", s.TabPort, 0);
  v.Int("I2CPort", s.I2CPort, 0);
  v.Int("ModemPort", s.ModemPort, 0);
  v.Text("ModemConfig", s.ModemConfig, "");
  v.Quoted("ModemInit", s.ModemInit, false);
  v.Text("DialNo", s.DialNo, "");
  v.Int("ToneDial", s.ToneDial, 1);
  v.Bool("UseModem", s.UseModem);
  v.Password("DefModemPass", s.DefModemPass, PasswordRun::StartModem);
  v.Int("DispLen", s.DispLen, 0);
  v.Int("OutDataSize", s.OutDataSize, 0);
  v.Int("AutoCnt", s.AutoCnt, 0);
  v.Int("Prostoy", s.Prostoy, 0);
  v.Int("Pass", s.Pass, 0);
  v.Bool("UseSpeed", s.UseSpeed);
  v.Int("Smena", s.Smena, 0);
  v.Int("Speed", s.Speed, 0);
  v.Real("Tarif", s.Tarif);
  v.Int("DefFreq", s.DefFreq, 10);
  v.RelativePath("LastProject", s.LastProject, false, "");
  for (size_t i = 0; i < 10; ++i) v.RelativePath(kHistoryKeys[i], s.ProjHistory[i], false, "");
  v.Date("LastFromDate", s.LastFromDate);
  v.Int("LifeTime", s.LifeTime, 0);
  v.Ints("ClientScales", s.ClientScales, "");
  v.Rect("ClientCoor", s.ClientCoor);
  v.Rect("DisplayCoor", s.DisplayCoor);
  v.Rect("ImCoor", s.ImCoor);
  v.Int("LdSpeed", s.LdSpeed, 3);
  v.Int("DeffPassTime", s.DeffPassTime, 10);
  v.Quoted("Divider", s.Divider, true);
  v.Ints("SpeedDefs", s.SpeedDefs, kDefaultSpeedDefs);
  v.Rect("TextCoor", s.TextCoor);
  v.Quoted("FreeText", s.FreeText, false);
  v.Quoted("ProbeText", s.ProbeText, false);
  v.Int("ProbeLife", s.ProbeLife, 0);
  v.Text("PrinterName", s.PrinterName, "");
  v.Hex("PrinterData", s.PrinterData);
  v.Quoted("PrintHeader", s.PrintHeader, false);
  v.Int("PrintCopies", s.PrintCopies, 1);
  v.Text("FontName", s.FontName, "Arial");
  v.Int("FontCharSet", s.FontCharSet, 204);
  v.Int("FontSize", s.FontSize, 8);
  v.Int("FontStyle", s.FontStyle, 0);
  v.Rect("SymbCoor", s.SymbCoor);
  v.Text("TestText", s.TestText, kDefaultTestText.view());
  v.Int("DefFont", s.DefFont, 0);
  v.Int("DLSpeed", s.DLSpeed, 0);
  v.Int("BaseSpeed", s.BaseSpeed, 0);
  v.Int("DevAddr", s.DevAddr, -1);
  v.Unsigned("GprsFileVersion", s.GprsFileVersion);
  v.Text("LastGprsFile", s.LastGprsFile, programFolder);
  v.Bool("ApplyBright", s.ApplyBright);
  v.RelativePath("ImageDir", s.ImageDir, true, programFolder);
  v.Int("DefFontHeight", s.DefFontHeight, 1);
  v.FontArchive(s.DefFontArcRel, s.DefFontArc);
  v.RelativePath("LastFontDir", s.LastFontDir, true, programFolder);
  v.IntInRange("ColorChannelCount", s.ColorChannelCount, 1, 1, 8);
  v.Ints("ChannelColors", s.ChannelColors, "");
  for (size_t i = 0; i < 8; ++i) {
    v.Password(kPasswordKeys[i], s.Password[i],
               i == 0 ? PasswordRun::StartBoard : PasswordRun::Continue);
  }
  // Explicit serial devices, after everything the older files know.
  v.Text("TabPortDevice", s.TabPortDevice, "");
  v.Text("I2CPortDevice", s.I2CPortDevice, "");
  v.Text("ModemPortDevice", s.ModemPortDevice, "");
  // The register of boards, for the fleet.
  v.Text("FleetDatabase", s.FleetDatabase, "");
  v.Rect("FleetCoor", s.FleetCoor);
}

bool ReadSettingsFromIni(TSettings& settings, const IniFile& ini) {
  settings = TSettings{};  // zeros, empty texts, default channel colours
  SettingsReader reader(ini);
  VisitSettings(reader, settings);
  ClampSettings(settings);
  return reader.Ok();
}

std::string PortName(int32_t index) {
  return "COM" + std::to_string(static_cast<int64_t>(index) + 1);
}

std::string PortDevice(const std::string& device, int32_t index) {
  if (!device.empty()) return device;
  if (index < 0) return {};
#ifdef _WIN32
  return PortName(index);
#else
  return "/dev/ttyS" + std::to_string(index);
#endif
}

}  // namespace

TSettings& Settings() {
  static TSettings settings;
  return settings;
}

void DefaultSettings(TSettings& settings) { ReadSettingsFromIni(settings, IniFile{}); }

SettingsFileState ReadSettingsFile(TSettings& settings, const std::string& iniPath,
                                   bool* valuesOk) {
  IniFile ini;
  SettingsFileState state = SettingsFileState::Read;
  std::string bytes;
  const ReadOutcome read = ReadFileCapped(iniPath, kMaxSettingsFileSize, bytes);
  if (read == ReadOutcome::Ok) {
    ini.Parse(bytes);
    if (!ini.HasSection(kSettingsSection)) state = SettingsFileState::NoSection;
  } else {
    // A missing file simply gives the defaults; one that exists but cannot be
    // read is worth reporting.
    std::error_code ec;
    const bool exists = std::filesystem::exists(NativePath(iniPath), ec) || ec;
    state = exists ? SettingsFileState::Unreadable : SettingsFileState::Missing;
  }
  const bool ok = ReadSettingsFromIni(settings, ini);
  if (valuesOk) *valuesOk = ok;
  return state;
}

bool ReadSettings(TSettings& settings, const std::string& iniPath) {
  bool valuesOk = true;
  const SettingsFileState state = ReadSettingsFile(settings, iniPath, &valuesOk);
  return valuesOk && (state == SettingsFileState::Read || state == SettingsFileState::Missing);
}

bool TakeGprsVersion(const std::string& iniPath, uint32_t (*next)(uint32_t), uint32_t atLeast,
                     uint32_t& version, SettingsFileState& state) {
  FileLock lock(iniPath);
  if (!lock.Held()) {
    // No lock file beside it (a folder the caller may not write): the file
    // itself was not judged, and no version could be stored there either.
    state = SettingsFileState::Read;
    return false;
  }
  TSettings stored;
  state = ReadSettingsFile(stored, iniPath);
  if (state == SettingsFileState::Unreadable || state == SettingsFileState::NoSection)
    return false;
  const uint32_t v = next(std::max(stored.GprsFileVersion, atLeast));
  stored.GprsFileVersion = v;
  if (!WriteSettings(stored, iniPath)) return false;
  version = v;
  return true;
}

std::string KeepSettingsFileAside(const std::string& iniPath) {
  std::error_code ec;
  for (int n = 1; n < 1000; ++n) {
    const std::string aside = iniPath + ".damaged" + (n > 1 ? "-" + std::to_string(n) : "");
    if (std::filesystem::exists(NativePath(aside), ec) || ec) continue;
    std::filesystem::rename(NativePath(iniPath), NativePath(aside), ec);
    return ec ? std::string() : aside;
  }
  return {};
}

bool WriteSettingsKeepingVersion(TSettings& settings, const std::string& iniPath) {
  FileLock lock(iniPath);
  TSettings stored;
  if (ReadSettingsFile(stored, iniPath) == SettingsFileState::Read)
    settings.GprsFileVersion = std::max(settings.GprsFileVersion, stored.GprsFileVersion);
  return WriteSettings(settings, iniPath);
}

bool ReadSettings(TSettings& settings) { return ReadSettings(settings, SettingsFilePath()); }

bool ReadSettingsImage(TSettings& settings, std::string_view image) {
  IniFile ini;
  ini.Parse(image);
  return ReadSettingsFromIni(settings, ini);
}

std::string SettingsFileImage(const TSettings& settings) {
  IniFile ini;
  SettingsWriter writer(ini);
  VisitSettings(writer, settings);
  return ini.Serialize();
}

bool WriteSettings(const TSettings& settings, const std::string& iniPath) {
  return WriteFileAtomically(iniPath, SettingsFileImage(settings));
}

bool WriteSettings(const TSettings& settings) { return WriteSettings(settings, SettingsFilePath()); }

void ClampSettings(TSettings& s) {
  s.DispLen = std::clamp(s.DispLen, 8, 2016);
  s.OutDataSize = std::clamp(s.OutDataSize, 4096, 64000);
  s.AutoCnt = std::clamp(s.AutoCnt, 1, 1000);
  s.Prostoy = std::clamp(s.Prostoy, 0, 99);
  s.Pass = std::clamp(s.Pass, 1, 5000);
  s.Smena = std::clamp(s.Smena, 1, 24);
  s.Speed = std::clamp(s.Speed, 1, 5);
  if (!(s.Tarif >= 0)) {
    s.Tarif = 0;  // negative or not a number
  } else if (s.Tarif > 100000) {
    s.Tarif = 100000;
  }
  s.DefFreq = std::clamp(s.DefFreq, 1, 1440);
  s.DeffPassTime = std::clamp(s.DeffPassTime, 1, 1440);
  s.PrintCopies = std::clamp(s.PrintCopies, 1, 10);
  s.FontSize = std::max(s.FontSize, 1);
  s.DefFont = std::max(s.DefFont, 0);
  s.DefFontHeight = std::clamp(s.DefFontHeight, 1, 4);
  // The board keeps DispLen columns of DefFontHeight bytes each: 2016 bytes at most.
  if (s.DefFontHeight * s.DispLen > 2016) s.DispLen = 2016 / s.DefFontHeight;
}

std::string BoardPortName(const TSettings& settings) { return PortName(settings.TabPort); }
std::string LoaderPortName(const TSettings& settings) { return PortName(settings.I2CPort); }
std::string ModemPortName(const TSettings& settings) { return PortName(settings.ModemPort); }

std::string BoardPortDevice(const TSettings& settings) {
  return PortDevice(settings.TabPortDevice, settings.TabPort);
}
std::string LoaderPortDevice(const TSettings& settings) {
  return PortDevice(settings.I2CPortDevice, settings.I2CPort);
}
std::string ModemPortDevice(const TSettings& settings) {
  return PortDevice(settings.ModemPortDevice, settings.ModemPort);
}

}  // namespace lentar
