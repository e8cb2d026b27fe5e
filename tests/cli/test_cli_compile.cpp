// lentar-cli compile, gprs and dump, run as a script would run them.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "markup/gprs.h"
#include "support/cli_test_support.h"

namespace {

namespace fs = std::filesystem;

class CliCompileTest : public lentar::cli::testing::CliFolderTest {
 protected:
  CliCompileTest() : CliFolderTest("lentar_cli_compile") {}
};

TEST_F(CliCompileTest, TwoLinesCompileToFiveBytes) {
  Write("set.txt", "AB\r\nCD");
  ASSERT_EQ(Run("compile set.txt --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Read("set.bin"), "AB CD");
}

// Names typed in the terminal are UTF-8 and must reach the same files.
TEST_F(CliCompileTest, CyrillicFileNamesWork) {
  Write("Набор ёлка.txt", "AB");
  Write("настройки.ini", "[Settings]\r\nGprsFileVersion=7\r\n");
  ASSERT_EQ(Run("compile 'Набор ёлка.txt' --ini настройки.ini"), 0) << err_;
  EXPECT_EQ(Read("Набор ёлка.bin"), "AB");
  ASSERT_EQ(Run("gprs 'Набор ёлка.txt' -o пакет.txt --ini настройки.ini"), 0) << err_;
  EXPECT_FALSE(Read("пакет.txt").empty());
  EXPECT_NE(Read("настройки.ini").find("GprsFileVersion=8"), std::string::npos);
}

TEST_F(CliCompileTest, OversizedImageIsRefusedAndNothingWritten) {
  Write("set.txt", std::string(4097, 'z'));
  EXPECT_EQ(Run("compile set.txt -o out.bin --max-size 4096 --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("Размер данных (4097) превышает максимальный размер!\nНаибольший размер: 4096 "
                      "байт (OutDataSize в файле настроек или --max-size)."),
            std::string::npos)
      << err_;
  EXPECT_FALSE(fs::exists(Path("out.bin")));

  // The limit from the settings file; an image of exactly the limit passes.
  Write("lentar.ini", "[Settings]\r\nOutDataSize=4096\r\n");
  EXPECT_EQ(Run("compile set.txt -o out.bin --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("4097"), std::string::npos) << err_;
  Write("set.txt", std::string(4096, 'z'));
  EXPECT_EQ(Run("compile set.txt -o out.bin --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Read("out.bin").size(), 4096u);
}

TEST_F(CliCompileTest, SettingsGiveDefaultsAndOptionsOverrideThem) {
  Write("set.txt", "{[Sp:300]}");
  Write("lentar.ini", "[Settings]\r\nDefFontHeight=2\r\nColorChannelCount=1\r\n");
  ASSERT_EQ(Run("compile set.txt --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Read("set.bin").size(), 15u);  // 127 + 127 + 46 columns
  ASSERT_EQ(Run("compile set.txt --ini lentar.ini --font-height=1 -o one.bin"), 0) << err_;
  EXPECT_EQ(Read("one.bin").size(), 10u);  // 255 + 45 columns
}

TEST_F(CliCompileTest, UsageErrors) {
  Write("set.txt", "x");
  const char* bad[] = {
      "compile",
      "compile set.txt --font-height 5",
      "compile set.txt --channels 0",
      "compile set.txt --max-size -1",
      "compile set.txt --bogus",
      "compile set.txt other.txt",
      "compile set.txt -o",
      "compile set.txt -o set.txt",  // would replace the set itself
      "gprs set.txt --version 2147483647",
      "dump",
  };
  for (const char* args : bad) EXPECT_EQ(Run(args), 2) << args;
  EXPECT_EQ(Read("set.txt"), "x");
  for (const char* command : {"compile", "gprs", "dump"}) {
    EXPECT_EQ(Run(std::string(command) + " --help"), 0) << command;
    EXPECT_NE(out_.find("Использование: lentar-cli"), std::string::npos) << command;
  }
  EXPECT_EQ(Run("compile missing.txt --ini lentar.ini"), 1);
}

TEST_F(CliCompileTest, GprsAdvancesTheStoredVersion) {
  Write("set.txt", "abc");
  Write("lentar.ini", "[Settings]\r\nGprsFileVersion=41\r\n");
  ASSERT_EQ(Run("gprs set.txt -o package.txt --ini lentar.ini"), 0) << err_;
  EXPECT_NE(Read("lentar.ini").find("GprsFileVersion=42"), std::string::npos);

  const std::string file = Read("package.txt");
  const auto package = lentar::UnescapeGprs(reinterpret_cast<const uint8_t*>(file.data()),
                                            file.size());
  ASSERT_TRUE(package);
  const auto parsed = lentar::ParseGprsPackage(package->data(), package->size());
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->version, 42);
  EXPECT_EQ(std::string(parsed->image.begin(), parsed->image.end()), "abc");

  // Without -o the package sits beside the set, which stays as it was.
  ASSERT_EQ(Run("gprs set.txt --ini lentar.ini"), 0) << err_;
  EXPECT_NE(Read("lentar.ini").find("GprsFileVersion=43"), std::string::npos);
  EXPECT_EQ(Read("set.txt"), "abc");
  const std::string beside = Read("set.gprs.txt");
  const auto second = lentar::UnescapeGprs(reinterpret_cast<const uint8_t*>(beside.data()),
                                           beside.size());
  ASSERT_TRUE(second);
  EXPECT_EQ(lentar::ParseGprsPackage(second->data(), second->size())->version, 43);
}

TEST_F(CliCompileTest, GprsFixedVersionAndEmptyImage) {
  Write("set.txt", "abc");
  Write("lentar.ini", "[Settings]\r\nGprsFileVersion=2147483646\r\n");
  const std::string ini = Read("lentar.ini");
  ASSERT_EQ(Run("gprs set.txt -o fixed.txt --version 7 --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Read("lentar.ini"), ini);  // untouched
  EXPECT_EQ(Read("fixed.txt").size(), 38u);

  ASSERT_EQ(Run("gprs set.txt -o wrapped.txt --ini lentar.ini"), 0) << err_;
  EXPECT_NE(Read("lentar.ini").find("GprsFileVersion=0\r\n"), std::string::npos);

  Write("empty.txt", "{[Bogus]}");
  EXPECT_EQ(Run("gprs empty.txt -o empty.pkg --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("пуст"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("empty.pkg")));
  EXPECT_NE(Read("lentar.ini").find("GprsFileVersion=0\r\n"), std::string::npos);
}

TEST_F(CliCompileTest, DumpListsRecordsAndFlagsDamage) {
  std::string picture = "{[Img:1";
  for (int i = 1; i < 120; ++i) picture += ",2";
  Write("set.txt", "Hi{[Pause:300]}{[Sp:255]}" + picture + "]}");
  ASSERT_EQ(Run("compile set.txt --ini lentar.ini"), 0) << err_;
  ASSERT_EQ(Run("dump set.bin"), 0) << err_;
  for (const char* line : {"ТЕКСТ 2 байта: \"Hi\"", "PAUSE 300", "SP 255", "IMG 120 байт"})
    EXPECT_NE(out_.find(line), std::string::npos) << line << "\n" << out_;

  Write("bad.bin", std::string("A\0\x09\x01", 4));
  EXPECT_EQ(Run("dump bad.bin"), 1);
  EXPECT_NE(out_.find("НЕ РАЗОБРАНО 3 байта: 00 09 01"), std::string::npos) << out_;
  EXPECT_EQ(Run("dump nothing.bin"), 1);
}

}  // namespace
