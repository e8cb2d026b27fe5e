// Layout correction rules, layout files and the folder of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/atomicfile.h"
#include "core/keycorr.h"
#include "core/textutil.h"
#include "core/virtualkeys.h"
#include "support/settings_files.h"

namespace lentar {
namespace {

using testing::FileBytes;
using testing::TempDir;

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TReplaceChar Rule(int32_t key, int32_t byte, int32_t shift, uint16_t unicode) {
  return TReplaceChar{key, shift, byte, unicode};
}

std::vector<TReplaceChar> Rules(const TReplaceCharList& list) {
  std::vector<TReplaceChar> out;
  for (const auto& r : list) out.push_back(*r);
  return out;
}

TEST(LayoutFile, ReadsRulesAndSkipsEmptyEntries) {
  // Key and byte both 0: skipped; a byte of 0 with a key, or a missing shift
  // value, still make a rule. Names are read without letter case, sections in
  // any order, LF lines as well as CR LF.
  TReplaceCharList list;
  ASSERT_TRUE(list.LoadFromText(
      "[keys]\nkeyparams1=90,0,1,0\nKEYPARAMS2=0,0,2,1040\nKeyParams3=65,192\n"
      "KeyParams4=x,193,2,1041\r\n[Settings]\r\nLangID=1049\r\nKeyCount=4\r\n"));
  EXPECT_EQ(list.LangID, 1049);
  EXPECT_EQ(Rules(list), (std::vector<TReplaceChar>{Rule(90, 0, 1, 0), Rule(65, 192, 0, 0),
                                                    Rule(0, 193, 2, 1041)}));
}

TEST(LayoutFile, KeyCountBeyondTheEntriesReadsWhatExists) {
  TReplaceCharList list;
  ASSERT_TRUE(list.LoadFromText(
      "[Settings]\r\nLangID=1058\r\nKeyCount=2147483647\r\n[Keys]\r\nKeyParams1=65,192,2,0\r\n"
      "KeyParams3=66,193,2,0\r\nKeyParams0=67,194,2,0\r\n"));
  EXPECT_EQ(Rules(list), (std::vector<TReplaceChar>{Rule(65, 192, 2, 0), Rule(66, 193, 2, 0)}));

  // An entry numbered near KeyCount's top is read as well, without reading
  // every missing one before it.
  ASSERT_TRUE(list.LoadFromText(
      "[Settings]\r\nLangID=1058\r\nKeyCount=2147483647\r\n[Keys]\r\n"
      "KeyParams2147483000=68,195,2,0\r\nKeyParams2=67,194,2,0\r\n"));
  EXPECT_EQ(Rules(list), (std::vector<TReplaceChar>{Rule(67, 194, 2, 0), Rule(68, 195, 2, 0)}));

  // Entries beyond KeyCount are not read.
  ASSERT_TRUE(list.LoadFromText("[Settings]\r\nLangID=1058\r\nKeyCount=1\r\n[Keys]\r\n"
                                "KeyParams1=65,192,2,0\r\nKeyParams2=66,193,2,0\r\n"));
  EXPECT_EQ(list.Count(), 1);
}

TEST(LayoutFile, WithoutALanguageItIsNoLayoutFile) {
  const char* cases[] = {
      "[Settings]\r\nLangID=0\r\nKeyCount=1\r\n[Keys]\r\nKeyParams1=65,192,2,0\r\n",
      "[Settings]\r\nKeyCount=1\r\n[Keys]\r\nKeyParams1=65,192,2,0\r\n",
      "[Settings]\r\nLangID=Russian\r\nKeyCount=1\r\n[Keys]\r\nKeyParams1=65,192,2,0\r\n",
      "",
  };
  for (const char* text : cases) {
    TReplaceCharList list;
    list.FileName = "kept";
    EXPECT_FALSE(list.LoadFromText(text)) << text;
    EXPECT_TRUE(list.Empty()) << text;
  }
  TempDir dir;
  TReplaceCharList list;
  EXPECT_FALSE(list.LoadFromFile(dir / "missing.lng"));
  EXPECT_TRUE(list.FileName.empty());
}

TEST(LayoutFile, WrittenByteForByte) {
  TempDir dir;
  TReplaceCharList list;
  list.LangID = 1049;
  TReplaceChar* rule = list.AddRule();
  EXPECT_EQ(*rule, Rule(0, 0, kShiftAny, 0));
  *rule = Rule(65, 192, 2, 1040);
  ASSERT_TRUE(list.SaveToFile(dir / "ru.lng"));
  EXPECT_EQ(FileBytes(dir / "ru.lng"),
            "[Settings]\r\nLangID=1049\r\nKeyCount=1\r\n\r\n[Keys]\r\nKeyParams1=65,192,2,1040\r\n\r\n");
  EXPECT_EQ(list.FileName, dir / "ru.lng");

  // What is written reads back the same.
  list.AddRule()->KeyCode = 90;
  ASSERT_TRUE(list.SaveToFile(dir / "ru.lng"));
  TReplaceCharList again;
  ASSERT_TRUE(again.LoadFromFile(dir / "ru.lng"));
  EXPECT_EQ(Rules(again), Rules(list));
  EXPECT_EQ(again.FileName, dir / "ru.lng");

  // A failed save leaves the file name and the old file alone.
  EXPECT_FALSE(list.SaveToFile(dir / "no-such-folder/x.lng"));
  EXPECT_EQ(list.FileName, dir / "ru.lng");
}

TEST(LayoutFile, LookupsTakeTheFirstFittingRule) {
  TReplaceCharList list;
  *list.AddRule() = Rule(65, 200, kShiftReleased, 0x0410);
  *list.AddRule() = Rule(65, 201, kShiftPressed, 0x0410);
  *list.AddRule() = Rule(65, 202, kShiftAny, 0);
  *list.AddRule() = Rule(66, 203, 7, 0x0411);  // a shift state nobody edits: only "any" matches
  EXPECT_EQ(list.FindByKey(65, 0), 200);
  EXPECT_EQ(list.FindByKey(65, 1), 201);
  EXPECT_EQ(list.FindByKey(66, 0), 0);
  EXPECT_EQ(list.FindByKey(67, 0), 0);
  EXPECT_EQ(list.FindByUnicode(0x0410), 200);
  EXPECT_EQ(list.FindByUnicode(0x0411), 203);
  EXPECT_EQ(list.FindByUnicode(0), 0);  // rules without a Unicode unit never match

  TReplaceCharList copy;
  copy.FileName = "mine.lng";
  *copy.AddRule() = Rule(1, 1, 1, 1);
  list.LangID = 1058;
  list.FileName = "theirs.lng";
  copy.Assign(list);
  EXPECT_EQ(copy.LangID, 1058);
  EXPECT_EQ(copy.FileName, "mine.lng");
  EXPECT_EQ(Rules(copy), Rules(list));
  copy.ItemAt(0)->CharCode = 1;  // a copy, not the same rules
  EXPECT_EQ(list.ItemAt(0)->CharCode, 200);
}

TEST(LayoutFolder, LoadsLayoutFilesOnly) {
  TempDir dir;
  Write(dir / "b.lng", "[Settings]\r\nLangID=1058\r\nKeyCount=1\r\n[Keys]\r\nKeyParams1=65,178,2,0\r\n");
  Write(dir / "a.LNG", "[Settings]\r\nLangID=1049\r\nKeyCount=1\r\n[Keys]\r\nKeyParams1=65,192,2,0\r\n");
  Write(dir / "c.lng", "[Settings]\r\nLangID=0\r\n");
  Write(dir / "d.lng", "[Settings]\r\nKeyCount=3\r\n");
  Write(dir / "e.txt", "[Settings]\r\nLangID=1059\r\n");
  std::filesystem::create_directory(dir / "f.lng");

  TReplaceDefines defines;
  defines.AddList()->LangID = 7;  // emptied first
  ASSERT_TRUE(defines.LoadFolder(dir.Path()));
  ASSERT_EQ(defines.Count(), 2);
  EXPECT_EQ(defines.ItemAt(0)->LangID, 1049);
  EXPECT_EQ(defines.ItemAt(0)->FileName, dir / "a.LNG");
  EXPECT_EQ(defines.ItemAt(1)->LangID, 1058);
  EXPECT_EQ(defines.FindChar(1058, 65, 1), 178);
  EXPECT_EQ(defines.FindChar(1049, 65, 0), 192);
  EXPECT_EQ(defines.FindChar(1033, 65, 0), 0);

  EXPECT_FALSE(defines.LoadFolder(dir / "missing"));
  EXPECT_TRUE(defines.Empty());
}

TEST(LayoutFolder, TheFirstListOfALanguageAnswers) {
  TReplaceDefines defines;
  TReplaceCharList* first = defines.AddList();
  first->LangID = 1049;
  *first->AddRule() = Rule(65, 200, kShiftAny, 0);
  TReplaceCharList* second = defines.AddList();
  second->LangID = 1049;
  *second->AddRule() = Rule(65, 201, kShiftAny, 0);
  *second->AddRule() = Rule(66, 202, kShiftAny, 0);
  EXPECT_EQ(defines.FindChar(1049, 65, 0), 200);
  EXPECT_EQ(defines.FindChar(1049, 66, 0), 0);  // the first list has no rule: no answer
}

TEST(RecodeText, ChoosesTheListAndConvertsTheRest) {
  // U+0406 (І) is in the code page at 0xB2; U+04D8 (Ә, Kazakh) is not.
  const std::u16string text = u"I\u0406\u04D8\u0410\U0001F600";
  TReplaceDefines none;
  EXPECT_EQ(none.RecodeText(1049, text), "I\xB2?\xC0?");

  TReplaceDefines one;
  TReplaceCharList* kazakh = one.AddList();
  kazakh->LangID = 1087;
  *kazakh->AddRule() = Rule(0, 0xA3, kShiftAny, 0x04D8);
  // The only list applies whatever the active language.
  EXPECT_EQ(one.RecodeText(1049, text), "I\xB2\xA3\xC0?");

  TReplaceDefines several;
  TReplaceCharList* ukrainian = several.AddList();
  ukrainian->LangID = 1058;
  *ukrainian->AddRule() = Rule(0, 0x49, kShiftAny, 0x0406);  // Ukrainian І typed as Latin I
  several.AddList()->Assign(*kazakh);
  EXPECT_EQ(several.RecodeText(1087, text), "I\xB2\xA3\xC0?");
  EXPECT_EQ(several.RecodeText(1058, text), "II?\xC0?");
  // No list of the language: the first loaded one.
  EXPECT_EQ(several.RecodeText(1033, text), "II?\xC0?");
  EXPECT_EQ(several.RecodeText(1058, u""), "");
}

TEST(VirtualKeys, PhysicalKeysGiveTheirUsLayoutCodes) {
  struct Case {
    int evdev;
    bool numLock;
    int vk;
  };
  const Case cases[] = {
      {30, true, 'A'},  {16, true, 'Q'},  {50, true, 'M'},  {2, true, '1'},  {11, true, '0'},
      {39, true, 0xBA}, {26, true, 0xDB}, {41, true, 0xC0}, {52, true, 0xBE}, {86, true, 0xE2},
      {57, true, 32},   {1, true, 27},    {28, true, 13},   {42, true, 16},  {71, true, 0x67},
      {71, false, 0x24}, {30, false, 'A'}, {88, true, 0x7B}, {0, true, 0},  {-1, true, 0},
      {500, true, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VirtualKeyOfEvdevCode(c.evdev, c.numLock), c.vk) << c.evdev;
  }
}

}  // namespace
}  // namespace lentar
