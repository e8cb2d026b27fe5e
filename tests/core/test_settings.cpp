#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "core/ini.h"
#include "core/paths.h"
#include "core/settings.h"
#include "support/settings_files.h"

namespace lentar {
namespace {

using testing::FileBytes;
using testing::FileCount;
using testing::FileSizeLimit;
using testing::TempDir;

const std::string kProba = "\xCF\xF0\xEE\xE1\xE0 ";  // "Проба " in Windows-1251

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ProgramFolder();
    SetProgramFolder(dir_.Path());
  }
  void TearDown() override { SetProgramFolder(saved_); }

  // Writes a lentar.ini holding the given lines under [Settings] and reads it.
  TSettings ReadLines(const std::string& lines, bool* ok = nullptr) {
    std::ofstream(ini_, std::ios::binary) << "[Settings]\r\n" << lines;
    TSettings s;
    const bool result = ReadSettings(s, ini_);
    if (ok) *ok = result;
    return s;
  }

  TempDir dir_;
  std::string ini_ = dir_ / "lentar.ini";
  std::string saved_;
};

TEST_F(SettingsTest, MissingFileGivesTheDefaults) {
  TSettings s;
  s.FontName = "garbage";
  EXPECT_TRUE(ReadSettings(s, ini_));
  EXPECT_EQ(s.DispLen, 8);
  EXPECT_EQ(s.OutDataSize, 4096);
  EXPECT_EQ(s.Speed, 1);
  EXPECT_EQ(s.DefFontHeight, 1);
  EXPECT_EQ(s.ColorChannelCount, 1);
  EXPECT_EQ(s.FontName, "Arial");
  EXPECT_EQ(s.FontSize, 8);
  EXPECT_EQ(s.FontCharSet, 204);
  EXPECT_EQ(s.TestText, kProba);
  EXPECT_EQ(s.SpeedDefs, (std::array<int32_t, 5>{10, 20, 30, 40, 50}));
  EXPECT_EQ(s.DevAddr, -1);
  EXPECT_EQ(s.LdSpeed, 3);
  EXPECT_EQ(s.ToneDial, 1);
  EXPECT_EQ(s.PrintCopies, 1);
  EXPECT_EQ(s.DefFreq, 10);
  EXPECT_EQ(s.DeffPassTime, 10);
  for (const IntRect* r : {&s.MainCoor, &s.TextCoor, &s.SymbCoor, &s.SetCoor, &s.DisplayCoor,
                           &s.ImCoor, &s.PropCoor, &s.ClientCoor, &s.TabloCoor, &s.FleetCoor}) {
    EXPECT_EQ(*r, IntRect{});
  }
  // A fresh installation must show lit LEDs: channel 1 stays red.
  EXPECT_EQ(s.ChannelColors, kDefaultChannelColors);
  EXPECT_EQ(s.ImageDir, dir_.Path());
  EXPECT_EQ(s.LastFontDir, dir_.Path());
  EXPECT_EQ(s.LastGprsFile, dir_.Path());
  EXPECT_EQ(s.Password[0], "");

  TSettings d;
  DefaultSettings(d);
  EXPECT_EQ(d, s);
}

TEST_F(SettingsTest, ClampingPutsValuesBackIntoRange) {
  struct Case {
    int32_t TSettings::*field;
    int32_t value;
    int32_t expected;
  };
  const Case cases[] = {
      {&TSettings::DispLen, 7, 8},          {&TSettings::DispLen, 3000, 2016},
      {&TSettings::DispLen, 100, 100},      {&TSettings::OutDataSize, 0, 4096},
      {&TSettings::OutDataSize, 64001, 64000}, {&TSettings::AutoCnt, 0, 1},
      {&TSettings::AutoCnt, 1001, 1000},    {&TSettings::Prostoy, -1, 0},
      {&TSettings::Prostoy, 100, 99},       {&TSettings::Pass, 0, 1},
      {&TSettings::Pass, 5001, 5000},       {&TSettings::Smena, -3, 1},
      {&TSettings::Smena, 25, 24},          {&TSettings::Speed, 0, 1},
      {&TSettings::Speed, 6, 5},            {&TSettings::DefFreq, 0, 1},
      {&TSettings::DefFreq, 1441, 1440},    {&TSettings::DeffPassTime, -1, 1},
      {&TSettings::DeffPassTime, 1441, 1440}, {&TSettings::PrintCopies, 11, 10},
      {&TSettings::PrintCopies, 0, 1},      {&TSettings::PrintCopies, 7, 7},
      {&TSettings::FontSize, 0, 1},         {&TSettings::DefFont, -1, 0},
      {&TSettings::DefFontHeight, 0, 1},    {&TSettings::DefFontHeight, 9, 4},
      {&TSettings::FontCharSet, 300, 300},  // one byte, but not clamped here
  };
  for (const Case& c : cases) {
    TSettings s;
    DefaultSettings(s);
    s.*c.field = c.value;
    ClampSettings(s);
    EXPECT_EQ(s.*c.field, c.expected) << "value " << c.value;
  }

  struct Geometry {
    int32_t height, length, expected;
  };
  for (const Geometry g : {Geometry{2, 2016, 1008}, Geometry{3, 2016, 672},
                           Geometry{4, 600, 504}, Geometry{4, 504, 504}, Geometry{1, 2016, 2016}}) {
    TSettings s;
    DefaultSettings(s);
    s.DefFontHeight = g.height;
    s.DispLen = g.length;
    ClampSettings(s);
    EXPECT_EQ(s.DispLen, g.expected) << "height " << g.height;
  }

  struct Money {
    double value, expected;
  };
  for (const Money m : {Money{-1, 0}, Money{std::numeric_limits<double>::quiet_NaN(), 0},
                        Money{100001, 100000}, Money{12.5, 12.5}}) {
    TSettings s;
    DefaultSettings(s);
    s.Tarif = m.value;
    ClampSettings(s);
    EXPECT_EQ(s.Tarif, m.expected);
  }
}

TEST_F(SettingsTest, UnreadableValuesFallBackAndClamp) {
  bool ok = false;
  TSettings s = ReadLines(
      "DefFreq=abc\r\nDispLen=abc\r\nSpeed=3x\r\nColorChannelCount=12\r\nTarif=100001\r\n"
      "DefFontHeight=2\r\nLastFromDate=garbage\r\nMainCoor=1,2,x\r\n"
      "FreeText=plain text\r\nDivider=plain text\r\nModemInit='AT'#13'ATZ'\r\n"
      "SpeedDefs=5,6\r\nChannelColors=0\r\n",
      &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(s.DefFreq, 10);
  EXPECT_EQ(s.DispLen, 8);
  EXPECT_EQ(s.Speed, 1);
  EXPECT_EQ(s.ColorChannelCount, 8);
  EXPECT_EQ(s.Tarif, 100000);
  EXPECT_EQ(s.LastFromDate, 0);
  EXPECT_EQ(s.MainCoor, (IntRect{1, 2, 0, 0}));
  EXPECT_EQ(s.FreeText, "");            // not in quoted form
  EXPECT_EQ(s.Divider, "plain text");  // the one text taken raw
  EXPECT_EQ(s.ModemInit, "AT\rATZ");
  EXPECT_EQ(s.SpeedDefs, (std::array<int32_t, 5>{5, 6, 0, 0, 0}));
  std::array<int32_t, 8> colors = kDefaultChannelColors;
  colors[0] = 0;  // an explicit "0" does blacken channel 1
  EXPECT_EQ(s.ChannelColors, colors);

  ASSERT_TRUE(WriteSettings(s, ini_));
  EXPECT_NE(FileBytes(ini_).find("\r\nTarif=100000.00\r\n"), std::string::npos);

  s = ReadLines("DefFontHeight=2\r\nDispLen=2016\r\n");
  EXPECT_EQ(s.DispLen, 1008);
}

// The keys of lentar.ini in the order the file holds them.
std::vector<std::string> ExpectedKeys() {
  std::vector<std::string> keys = {
      "MainCoor", "Scales", "PropCoor", "SetCoor", "TabPort", "I2CPort", "ModemPort",
      "ModemConfig", "ModemInit", "DialNo", "ToneDial", "UseModem", "DefModemPass", "DispLen",
      "OutDataSize", "AutoCnt", "Prostoy", "Pass", "UseSpeed", "Smena", "Speed", "Tarif",
      "DefFreq", "LastProject"};
  for (int i = 1; i <= 10; ++i) keys.push_back("ProjHistory" + std::to_string(i));
  for (const char* k :
       {"LastFromDate", "LifeTime", "ClientScales", "ClientCoor", "DisplayCoor", "ImCoor",
        "LdSpeed", "DeffPassTime", "Divider", "SpeedDefs", "TextCoor", "FreeText", "ProbeText",
        "ProbeLife", "PrinterName", "PrinterData", "PrintHeader", "PrintCopies", "FontName",
        "FontCharSet", "FontSize", "FontStyle", "SymbCoor", "TestText", "DefFont", "DLSpeed",
        "BaseSpeed", "DevAddr", "GprsFileVersion", "LastGprsFile", "ApplyBright", "ImageDir",
        "DefFontHeight", "DefFontArcRel", "DefFontArc", "LastFontDir", "ColorChannelCount",
        "ChannelColors"}) {
    keys.push_back(k);
  }
  for (int i = 1; i <= 8; ++i) keys.push_back("Password" + std::to_string(i));
  for (const char* k : {"TabPortDevice", "I2CPortDevice", "ModemPortDevice", "FleetDatabase",
                        "TabloCoor", "FleetCoor"})
    keys.push_back(k);
  return keys;
}

TSettings RichSettings(const std::string& folder) {
  TSettings s;
  DefaultSettings(s);
  s.MainCoor = {10, 20, 810, 620};
  s.TextCoor = {-5, 0, 100, 200};
  s.TabloCoor = {100, 120, 700, 560};
  s.FleetCoor = {5, 6, 1005, 706};
  s.Scales[0] = 3;
  s.Scales[31] = -7;
  s.ClientScales[5] = 42;
  s.TabPort = 2;
  s.I2CPort = 1;
  s.ModemPort = 4;
  s.ModemConfig = "1C00000060090000";
  s.ModemInit = "ATZ\r\nAT&F'E0";
  s.DialNo = "8-800-555";
  s.ToneDial = 0;
  s.UseModem = true;
  s.DefModemPass = "modem";
  s.DispLen = 192;
  s.OutDataSize = 32000;
  s.AutoCnt = 5;
  s.Prostoy = 3;
  s.Pass = 100;
  s.UseSpeed = true;
  s.Smena = 12;
  s.Speed = 4;
  s.Tarif = 12.25;
  s.DefFreq = 60;
  s.LastProject = folder + "sets/\xEB\xE5\xF2\xEE.txt";
  s.ProjHistory[0] = s.LastProject;
  s.ProjHistory[9] = "/elsewhere/last.txt";
  s.LastFromDate = 39087;  // 5.01.2007
  s.LifeTime = 9;
  s.LdSpeed = 4;
  s.DeffPassTime = 30;
  s.Divider = " | ";
  s.SpeedDefs = {1, 2, 3, 4, 5};
  s.FreeText = "\xCF\xF0\xE8\xE2\xE5\xF2\r\n'quoted'";
  s.ProbeText = "probe";
  s.ProbeLife = 2;
  s.PrinterName = "HP";
  s.PrinterData = {0x00, 0xFF, 0x10, 0xAB};
  s.PrintHeader = "header";
  s.PrintCopies = 3;
  s.FontName = "Courier New";
  s.FontCharSet = 0;
  s.FontSize = 12;
  s.FontStyle = 3;
  s.TestText = "\xE0\xE1\xE2";
  s.DefFont = 2;
  s.DLSpeed = 4;
  s.BaseSpeed = 1;
  s.DevAddr = 127;
  s.GprsFileVersion = 0x7FFFFFFE;
  s.LastGprsFile = "/tmp/out.txt";
  s.ApplyBright = true;
  s.ImageDir = folder + "img/";
  s.DefFontHeight = 2;
  s.DefFontArc = "/usr/share/fonts/big.tfa";
  s.DefFontArcRel = s.DefFontArc;
  s.LastFontDir = "/usr/share/fonts/";
  s.ColorChannelCount = 3;
  s.ChannelColors = {1, 2, 3, 4, 5, 6, 7, 0x7FFFFFFF};
  s.Password = {"12345678", "\xEF\xE0\xF0\xEE\xEB\xFC", "a'b#c", "", "x", "\x01\x02", "p7", "p8"};
  s.TabPortDevice = "/dev/ttyUSB0";
  s.ModemPortDevice = "/dev/pts/7";
  s.FleetDatabase = "postgresql://operator@fleet.example.org:5433/boards";
  s.FleetCoor = {30, 40, 1330, 640};
  return s;
}

TEST_F(SettingsTest, FileIsOneSettingsSectionInKeyOrderWithCrLf) {
  const TSettings s = RichSettings(dir_.Path());
  ASSERT_TRUE(WriteSettings(s, ini_));
  const std::string bytes = FileBytes(ini_);
  EXPECT_EQ(bytes, SettingsFileImage(s));

  ASSERT_EQ(bytes.rfind("[Settings]\r\n", 0), 0u);
  std::vector<std::string> keys;
  std::istringstream lines(bytes.substr(12));
  for (std::string line; std::getline(lines, line);) {
    ASSERT_FALSE(line.empty());
    ASSERT_EQ(line.back(), '\r') << line;
    keys.push_back(line.substr(0, line.find('=')));
  }
  EXPECT_EQ(keys, ExpectedKeys());
  EXPECT_NE(bytes.find("\r\nTestText=\xE0\xE1\xE2\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nLastFromDate=5.01.2007\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nPrinterData=00FF10AB\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nUseModem=1\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nMainCoor=10,20,810,620\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nFreeText='\xCF\xF0\xE8\xE2\xE5\xF2'#13#10#39'quoted'#39\r\n"),
            std::string::npos);
  EXPECT_EQ(bytes.find("12345678"), std::string::npos);  // passwords never in clear

  TSettings back;
  EXPECT_TRUE(ReadSettings(back, ini_));
  EXPECT_EQ(back, s);
}

TEST_F(SettingsTest, WritingDropsWhatElseTheFileHeld) {
  std::ofstream(ini_, std::ios::binary)
      << "[Other]\r\nX=1\r\n[Settings]\r\nDispLen=100\r\nUnknownKey=5\r\n";
  TSettings s;
  ReadSettings(s, ini_);
  EXPECT_EQ(s.DispLen, 100);
  ASSERT_TRUE(WriteSettings(s, ini_));
  IniFile ini;
  ASSERT_TRUE(ini.Load(ini_));
  ASSERT_EQ(ini.Sections().size(), 1u);
  EXPECT_EQ(ini.Sections()[0].name, "Settings");
  EXPECT_FALSE(ini.HasKey("Settings", "UnknownKey"));
  EXPECT_EQ(ini.ReadInteger("Settings", "DispLen", 0), 100);
}

TEST_F(SettingsTest, PasswordsSurviveScramblingAndDamageStaysLocal) {
  TSettings s;
  DefaultSettings(s);
  s.DefModemPass = "87654321";
  s.Password[0] = "12345678";
  s.Password[1] = "\xEF\xE0\xF0\xEE\xEB\xFC\xFF\x00";
  s.Password[2] = "tooLongPassword";  // only 8 characters are kept
  s.Password[3] = "next";
  s.Password[7] = "last";
  ASSERT_TRUE(WriteSettings(s, ini_));

  TSettings back;
  ReadSettings(back, ini_);
  EXPECT_EQ(back.DefModemPass, "87654321");
  EXPECT_EQ(back.Password[0], "12345678");
  EXPECT_EQ(back.Password[1], s.Password[1]);
  EXPECT_EQ(back.Password[2], "tooLongP");
  EXPECT_EQ(back.Password[7], "last");

  // Damage Password3 in three ways: the damaged one reads empty, the later
  // ones are untouched.
  const std::string good = FileBytes(ini_);
  const size_t start = good.find("Password3=") + 10;
  const size_t end = good.find("\r\n", start);
  for (const std::string damaged : {"garbage", "'short'", "'a'#999", ""}) {
    std::string bytes = good;
    bytes.replace(start, end - start, damaged);
    std::ofstream(ini_, std::ios::binary | std::ios::trunc) << bytes;
    ReadSettings(back, ini_);
    EXPECT_EQ(back.Password[2], "") << damaged;
    EXPECT_EQ(back.Password[3], "next") << damaged;
    EXPECT_EQ(back.Password[7], "last") << damaged;
  }
}

TEST_F(SettingsTest, ProgramRelativePathsFollowTheProgramFolder) {
  TempDir moved;
  TSettings s;
  DefaultSettings(s);
  s.LastProject = dir_ / "sets/a.txt";
  s.ProjHistory[1] = dir_ / "sets/b.txt";
  s.ImageDir = dir_ / "img/";
  s.DefFontArc = dir_ / "Fonts/f.tfa";
  s.LastFontDir = dir_ / "Fonts";
  ASSERT_TRUE(WriteSettings(s, ini_));
  const std::string bytes = FileBytes(ini_);
  EXPECT_NE(bytes.find("\r\nLastProject=%PROGPATH%/sets/a.txt\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nImageDir=%PROGPATH%/img/\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nLastFontDir=%PROGPATH%/Fonts/\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nDefFontArcRel=%PROGPATH%/Fonts/f.tfa\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("\r\nDefFontArc=" + (dir_ / "Fonts/f.tfa") + "\r\n"), std::string::npos);

  // The program moves; its archive came along.
  SetProgramFolder(moved.Path());
  TSettings back;
  ReadSettings(back, ini_);
  EXPECT_EQ(back.LastProject, moved / "sets/a.txt");
  EXPECT_EQ(back.ProjHistory[1], moved / "sets/b.txt");
  EXPECT_EQ(back.ImageDir, moved / "img/");
  EXPECT_EQ(back.LastFontDir, moved / "Fonts/");
  EXPECT_EQ(back.DefFontArc, dir_ / "Fonts/f.tfa");  // no archive at the new place
  EnsureFolder(moved / "Fonts");
  std::ofstream(moved / "Fonts/f.tfa") << "x";
  ReadSettings(back, ini_);
  EXPECT_EQ(back.DefFontArc, moved / "Fonts/f.tfa");
}

TEST_F(SettingsTest, NegativeCounterIsReportedWithoutLosingLaterKeys) {
  bool ok = true;
  const TSettings s = ReadLines(
      "DispLen=100\r\nGprsFileVersion=-5\r\nImageDir=/img/\r\nColorChannelCount=2\r\n", &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(s.GprsFileVersion, 0u);
  EXPECT_EQ(s.DispLen, 100);
  EXPECT_EQ(s.ImageDir, "/img/");
  EXPECT_EQ(s.ColorChannelCount, 2);
}

TEST_F(SettingsTest, FailedWriteLeavesTheOldFileWhole) {
  TSettings s;
  DefaultSettings(s);
  ASSERT_TRUE(WriteSettings(s, ini_));
  const std::string old = FileBytes(ini_);
  s.FreeText.assign(5000, 'x');
  {
    FileSizeLimit full(old.size() + 100);  // the disk fills up halfway
    EXPECT_FALSE(WriteSettings(s, ini_));
  }
  EXPECT_EQ(FileBytes(ini_), old);
  EXPECT_EQ(FileCount(dir_.Path()), 1);  // no temporary file left behind

  EnsureFolder(dir_ / "folder.ini");
  EXPECT_FALSE(WriteSettings(s, dir_ / "folder.ini"));
  EXPECT_TRUE(FolderExists(dir_ / "folder.ini"));
  EXPECT_FALSE(WriteSettings(s, dir_ / "missing/lentar.ini"));
}

TEST(SettingsPortsTest, PortNamesAndDevices) {
  TSettings s;
  s.TabPort = 0;
  s.I2CPort = 3;
  s.ModemPort = 1;
  EXPECT_EQ(BoardPortName(s), "COM1");
  EXPECT_EQ(LoaderPortName(s), "COM4");
  EXPECT_EQ(ModemPortName(s), "COM2");
  EXPECT_EQ(BoardPortDevice(s), "/dev/ttyS0");
  EXPECT_EQ(LoaderPortDevice(s), "/dev/ttyS3");
  s.I2CPortDevice = "/dev/ttyUSB0";
  EXPECT_EQ(LoaderPortDevice(s), "/dev/ttyUSB0");
  EXPECT_EQ(LoaderPortName(s), "COM4");
  s.ModemPort = -1;
  EXPECT_EQ(ModemPortDevice(s), "");
}

}  // namespace
}  // namespace lentar
