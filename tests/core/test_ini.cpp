#include <gtest/gtest.h>

#include <string>

#include "core/ini.h"

namespace lentar {
namespace {

TEST(IniTest, ReadsKeysWithoutCaseAndSkipsWhatItCannotRead) {
  IniFile ini;
  ini.Parse(
      "\xEF\xBB\xBF"  // a byte-order mark left by a text editor
      "orphan=before any section\r\n"
      "[Settings]\r\n"
      "; a comment=not a key\r\n"
      "DispLen=100\n"
      "no equals sign here\r\n"
      "=no key\r\n"
      "  FontName =  Courier New \r\n"
      "dispLEN=200\r\n"  // the first occurrence wins
      "Empty=\r\n"
      "[Broken\r\n"
      "Lost=1\r\n"
      "[ other ]\n"
      "Key=a=b\n"
      "Last=no line end");

  EXPECT_EQ(ini.ReadInteger("settings", "DISPLEN", 0), 100);
  EXPECT_EQ(ini.ReadString("Settings", "fontname", "-"), "  Courier New ");
  EXPECT_TRUE(ini.HasKey("Settings", "Empty"));
  EXPECT_EQ(ini.ReadString("Settings", "Empty", "-"), "");
  EXPECT_EQ(ini.ReadString("Settings", "Missing", "dflt"), "dflt");
  EXPECT_FALSE(ini.HasKey("Settings", "orphan"));
  EXPECT_FALSE(ini.HasKey("Settings", "; a comment"));
  EXPECT_FALSE(ini.HasKey("Settings", "Lost"));
  EXPECT_EQ(ini.ReadString("Other", "Key", ""), "a=b");
  EXPECT_EQ(ini.ReadString("Other", "Last", ""), "no line end");
  EXPECT_EQ(ini.Sections().size(), 2u);
}

TEST(IniTest, IntegersFallBackToTheDefault) {
  IniFile ini;
  ini.Parse("[S]\nA=abc\nB= -12 \nC=$1F\nD=0x10\nE=99999999999\nF=12abc\nG=\n");
  struct Case {
    const char* key;
    int32_t value;
  };
  const Case cases[] = {{"A", 7}, {"B", -12}, {"C", 31}, {"D", 16}, {"E", 7}, {"F", 7},
                        {"G", 7}, {"H", 7}};
  for (const Case& c : cases) EXPECT_EQ(ini.ReadInteger("S", c.key, 7), c.value) << c.key;
  EXPECT_TRUE(ini.ReadBool("S", "B", false));
  EXPECT_FALSE(ini.ReadBool("S", "A", false));
}

TEST(IniTest, WritesCrLfLinesAndReadsThemBack) {
  IniFile ini;
  ini.WriteString("Settings", "A", "1");
  ini.WriteString("Settings", "Text", " spaced '\xCF\xF0\xEE\xE1\xE0' ; not a comment ");
  ini.WriteString("Other", "B", "2");
  ini.WriteString("settings", "a", "3");  // same key, other case: replaced in place
  ini.WriteString("Settings", "Broken", "line\r\n[Injected]\r\nX=1");
  EXPECT_EQ(ini.Serialize(),
            "[Settings]\r\nA=3\r\nText= spaced '\xCF\xF0\xEE\xE1\xE0' ; not a comment \r\n"
            "Broken=line[Injected]X=1\r\n\r\n[Other]\r\nB=2\r\n");

  IniFile back;
  back.Parse(ini.Serialize());
  EXPECT_EQ(back.ReadString("Settings", "Text", ""),
            " spaced '\xCF\xF0\xEE\xE1\xE0' ; not a comment ");
  EXPECT_FALSE(back.HasSection("Injected"));

  back.EraseSection("OTHER");
  EXPECT_EQ(back.Sections().size(), 1u);
}

// A file edited on another system may end lines with a lone CR or carry a
// stray one; no value keeps it, so the file writes back the way it reads.
TEST(IniTest, EveryLineBreakStyleEndsALine) {
  IniFile ini;
  ini.Parse("[Settings]\rA=1\r\r\nB=2\nC=x\r");
  EXPECT_EQ(ini.ReadString("Settings", "A", ""), "1");
  EXPECT_EQ(ini.ReadString("Settings", "B", ""), "2");
  EXPECT_EQ(ini.ReadString("Settings", "C", ""), "x");
  EXPECT_EQ(ini.Serialize(), "[Settings]\r\nA=1\r\nB=2\r\nC=x\r\n");
}

}  // namespace
}  // namespace lentar
