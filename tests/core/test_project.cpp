#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/classlist.h"
#include "core/paths.h"
#include "core/project.h"
#include "core/settings.h"
#include "core/textutil.h"

namespace lentar {
namespace {

std::string Cp1251(const char8_t* utf8) {
  return Utf8ToCp1251(reinterpret_cast<const char*>(utf8));
}

// A font bank that only records what the project asks of it.
class RecordingFontBank : public FontBankBase {
 public:
  struct Log {
    std::vector<int> heights;
    std::vector<int> selected;
    std::vector<std::string> loaded;
  };
  RecordingFontBank(Log& log, bool loadSucceeds) : log_(log), loadSucceeds_(loadSucceeds) {}

  bool LoadArchive(const std::string& path, std::string& error) override {
    log_.loaded.push_back(path);
    if (!loadSucceeds_) error = "cannot read " + path;
    return loadSucceeds_;
  }
  void SetHeight(int heightBytes) override { log_.heights.push_back(heightBytes); }
  void SelectFont(int number) override { log_.selected.push_back(number); }

 private:
  Log& log_;
  bool loadSucceeds_;
};

TEST(ProjectTest, FontHeightIsForcedIntoOneToFour) {
  RecordingFontBank::Log log;
  RecordingFontBank bank(log, true);
  ProjectBase project(&bank);
  EXPECT_EQ(project.FontHeight, 1);
  struct Case {
    int32_t given, stored;
  };
  for (const Case c : {Case{0, 1}, Case{-3, 1}, Case{9, 4}, Case{3, 3}}) {
    project.SetFontHeight(c.given);
    EXPECT_EQ(project.FontHeight, c.stored) << c.given;
  }
  EXPECT_EQ(log.heights, (std::vector<int>{1, 1, 4, 3}));

  project.SetDefaultFont(5);
  EXPECT_EQ(project.DefaultFont, 5);
  EXPECT_EQ(log.selected, (std::vector<int>{5}));
}

TEST(ProjectTest, LoadsItsParametersFromTheSettings) {
  const std::string savedFolder = ProgramFolder();
  SetProgramFolder("/opt/lentar");
  RecordingFontBank::Log log;
  RecordingFontBank bank(log, false);
  ProjectBase project(&bank);
  EXPECT_EQ(project.ChannelColors[0], 0x0000FFu);
  EXPECT_EQ(project.ChannelColors[6], 0xFFFFFFu);
  project.Records.Add(std::make_unique<std::any>(1));

  TSettings s;
  DefaultSettings(s);
  s.DefFont = 3;
  s.DispLen = 96;
  s.ColorChannelCount = 2;
  s.ChannelColors[1] = 0x123456;
  s.DialNo = "555";
  s.DefFontHeight = 9;  // not clamped yet: the project forces it itself
  project.LoadFromSettings(s);
  EXPECT_EQ(project.Records.Count(), 0);
  EXPECT_EQ(project.DefaultFont, 3);
  EXPECT_EQ(project.DisplayLength, 96);
  EXPECT_EQ(project.ColorChannelCount, 2);
  EXPECT_EQ(project.ChannelColors[1], 0x123456u);
  EXPECT_EQ(project.DialNumber, "555");
  EXPECT_EQ(project.FontHeight, 4);
  EXPECT_EQ(log.heights, (std::vector<int>{4}));
  // No archive chosen yet: the one that ships with the program.
  EXPECT_EQ(project.FontArchive, "/opt/lentar/Fonts/default.tfa");
  EXPECT_TRUE(log.loaded.empty());  // loading the settings does not load fonts

  EXPECT_FALSE(project.LoadFonts());
  EXPECT_EQ(project.FontError, "cannot read /opt/lentar/Fonts/default.tfa");

  s.DefFontArc = "/data/big.tfa";
  project.LoadFromSettings(s);
  EXPECT_EQ(project.FontArchive, "/data/big.tfa");
  SetProgramFolder(savedFolder);
}

TEST(ProjectTest, FontErrorClearsAfterAGoodLoad) {
  RecordingFontBank::Log log;
  RecordingFontBank bank(log, true);
  ProjectBase project(&bank);
  project.FontError = "old";
  project.FontArchive = "/a.tfa";
  EXPECT_TRUE(project.LoadFonts());
  EXPECT_EQ(project.FontError, "");
  EXPECT_EQ(log.loaded, (std::vector<std::string>{"/a.tfa"}));
}

TEST(ProjectTest, WorksWithoutAFontBank) {
  ProjectBase project(nullptr);
  project.SetFontHeight(2);
  project.SetDefaultFont(1);
  EXPECT_EQ(project.Fonts(), nullptr);
  EXPECT_EQ(project.FontHeight, 2);
  EXPECT_FALSE(project.LoadFonts());
  EXPECT_EQ(project.FontError, Cp1251(u8"Шрифты не загружены: нет банка шрифтов"));
}

// Counts live instances, to see the list free what it owns.
struct Counted {
  explicit Counted(int& live) : live_(live) { ++live_; }
  ~Counted() { --live_; }
  int& live_;
};

TEST(ClassListTest, OwnsItsItemsAndIgnoresBadIndexes) {
  int live = 0;
  {
    TClassList<Counted> list;
    for (int i = 0; i < 4; ++i) list.Add(std::make_unique<Counted>(live));
    Counted* second = list.ItemAt(1);
    EXPECT_EQ(live, 4);

    list.DeleteItem(-1);
    list.DeleteItem(list.Count());
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(live, 4);
    EXPECT_EQ(list.ItemAt(4), nullptr);
    EXPECT_EQ(list.ItemAt(-1), nullptr);

    list.DeleteItem(0);
    EXPECT_EQ(live, 3);
    EXPECT_EQ(list.ItemAt(0), second);

    Counted stranger(live);
    list.RemoveItem(&stranger);
    EXPECT_EQ(list.Count(), 3);
    list.RemoveItem(second);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.IndexOf(second), -1);
    EXPECT_EQ(live, 3);  // two in the list and the stranger

    list.ClearItems();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(live, 1);
    list.Add(std::make_unique<Counted>(live));
  }
  EXPECT_EQ(live, 0);  // the list freed the last one when it went
}

}  // namespace
}  // namespace lentar
