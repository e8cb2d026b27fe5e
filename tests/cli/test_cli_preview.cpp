// lentar-cli preview, run as a script would run it: the frames it writes are
// the engine's frames, sampled and timed as asked.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "markup/compiler.h"
#include "markup/emulation.h"
#include "markup/fonts.h"
#include "support/cli_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace lentar;

class CliPreviewTest : public lentar::cli::testing::CliFolderTest {
 protected:
  CliPreviewTest() : CliFolderTest("lentar_cli_preview") {}

  void SetUp() override {
    CliFolderTest::SetUp();
    // A 16-column board of one-byte fonts, speed level 3 (3 frames a column).
    Write("lentar.ini", "[Settings]\r\nDispLen=16\r\nDefFontHeight=1\r\nColorChannelCount=2\r\n"
                        "Speed=3\r\n");
  }
};

// The frames the engine itself gives for a set on the test board, with the
// shipped fonts.
std::string EngineFrames(const std::string& set, const DateTime& at) {
  TTabFontList fonts;
  std::string error;
  EXPECT_TRUE(fonts.LoadArchive(LENTAR_BIN_DIR "/Fonts/default.tfa", error)) << error;
  fonts.SetHeight(1);
  fonts.SelectFont(0);
  EmulationSetup setup;
  setup.boardColumns = 16;
  setup.fontHeightBytes = 1;
  setup.channelCount = 2;
  setup.settingSpeed = 3;
  BoardEmulation board(CompileBoardData(set, 1, 2, SIZE_MAX).image, fonts, setup, FixedStartClock(at));
  std::string frames;
  while (board.Step()) frames.append(reinterpret_cast<const char*>(board.Frame()), board.FrameSize());
  return frames;
}

constexpr size_t kFrameBytes = 16 * 8;

TEST_F(CliPreviewTest, RawFramesAreTheEnginesFrames) {
  const std::string set = "{[FCol:1]}Hi {[FCol:2]}" + Utf8ToCp1251(u8"Привет") + "{[Pause:10]}!";
  Write("set.txt", set);
  ASSERT_EQ(Run("preview set.txt --raw frames.raw --ini lentar.ini"), 0) << err_;
  const std::string raw = Read("frames.raw");
  EXPECT_EQ(raw, EngineFrames(set, {}));
  ASSERT_EQ(raw.size() % kFrameBytes, 0u);
  // Colour indexes of a two-channel board, and both colours used.
  EXPECT_NE(raw.find('\x01'), std::string::npos);
  EXPECT_NE(raw.find('\x02'), std::string::npos);
  EXPECT_EQ(raw.find_first_not_of(std::string("\x00\x01\x02\x03", 4)), std::string::npos);

  // Every third frame: frames 0, 3, 6, ...
  ASSERT_EQ(Run("preview set.txt --raw every3.raw --every 3 --ini lentar.ini"), 0) << err_;
  const std::string every3 = Read("every3.raw");
  const size_t frames = raw.size() / kFrameBytes;
  ASSERT_EQ(every3.size(), (frames + 2) / 3 * kFrameBytes);
  for (size_t i = 0; i < every3.size() / kFrameBytes; ++i)
    EXPECT_EQ(every3.substr(i * kFrameBytes, kFrameBytes), raw.substr(3 * i * kFrameBytes, kFrameBytes));

  // One second of board time is 100 frames.
  ASSERT_EQ(Run("preview set.txt --raw short.raw --max-seconds 1 --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Read("short.raw"), raw.substr(0, 100 * kFrameBytes));
  EXPECT_NE(out_.find("остановлено по --max-seconds"), std::string::npos) << out_;
}

TEST_F(CliPreviewTest, ClockFromTheCommandLine) {
  Write("set.txt", "{[Pause:20]}{[Par:0,40]}");
  const DateTime at{.year = 2026, .month = 12, .day = 10, .hour = 4, .minute = 35};
  ASSERT_EQ(Run("preview set.txt --raw a.raw --at '2026-12-10 04:35:00' --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Read("a.raw"), EngineFrames("{[Pause:20]}{[Par:0,40]}", at));
  ASSERT_EQ(Run("preview set.txt --raw b.raw --at '2026-12-10 04:36' --ini lentar.ini"), 0) << err_;
  EXPECT_NE(Read("a.raw"), Read("b.raw"));
}

// Walks the blocks of a GIF file; false when they do not follow the format.
struct GifFacts {
  bool ok = false;
  bool loops = false;
  int width = 0, height = 0;
  int images = 0;
  int delaySum = 0;  // hundredths of a second
};

GifFacts ReadGif(const std::string& g) {
  GifFacts facts;
  if (g.size() < 13 || g.compare(0, 6, "GIF89a") != 0) return facts;
  auto byte = [&](size_t i) { return i < g.size() ? static_cast<uint8_t>(g[i]) : 0; };
  facts.width = byte(6) | byte(7) << 8;
  facts.height = byte(8) | byte(9) << 8;
  size_t at = 13;
  if (byte(10) & 0x80) at += 3u << ((byte(10) & 7) + 1);
  auto skipSubBlocks = [&](size_t& i) {
    while (i < g.size() && byte(i) != 0) i += 1 + byte(i);
    ++i;
  };
  while (at < g.size()) {
    const uint8_t kind = byte(at);
    if (kind == 0x3B) {
      facts.ok = at + 1 == g.size();
      return facts;
    }
    if (kind == 0x21) {
      const uint8_t label = byte(at + 1);
      if (label == 0xF9) facts.delaySum += byte(at + 4) | byte(at + 5) << 8;
      if (label == 0xFF && g.compare(at + 3, 11, "NETSCAPE2.0") == 0) facts.loops = true;
      at += 2;
      skipSubBlocks(at);
    } else if (kind == 0x2C) {
      ++facts.images;
      const uint8_t flags = byte(at + 9);
      at += 10;
      if (flags & 0x80) at += 3u << ((flags & 7) + 1);
      ++at;  // LZW minimum code size
      skipSubBlocks(at);
    } else {
      return facts;
    }
  }
  return facts;
}

TEST_F(CliPreviewTest, GifPlaysInBoardTime) {
  const std::string set = "{[FCol:1]}" + Utf8ToCp1251(u8"Скидки") + "{[FCol:3]}{[Pause:50]} 50%" +
                          "{[Eff:1,20]}{[FCol:2]}" + Utf8ToCp1251(u8"Ждём") + "{[Frame]}" +
                          Utf8ToCp1251(u8"вас!");
  Write("набор.txt", set);
  ASSERT_EQ(Run("preview набор.txt --gif 'превью.gif' --pitch 5 --ini lentar.ini"), 0) << err_;
  const size_t frames = EngineFrames(set, {}).size() / kFrameBytes;
  const GifFacts gif = ReadGif(Read("превью.gif"));
  EXPECT_TRUE(gif.ok);
  EXPECT_TRUE(gif.loops);
  EXPECT_EQ(gif.width, 16 * 5);
  EXPECT_EQ(gif.height, 8 * 5);
  // The delays add up to the run's board time; the pause is one long frame.
  EXPECT_EQ(static_cast<size_t>(gif.delaySum), frames);
  EXPECT_GT(gif.images, 10);
  EXPECT_LT(static_cast<size_t>(gif.images), frames / 4 + 1);
  // Nothing but the picture is left in the folder.
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find(".part"), std::string::npos);
}

TEST_F(CliPreviewTest, PngFramesAreNumberedByBoardFrame) {
  Write("set.txt", "Hello");
  ASSERT_EQ(Run("preview set.txt --png-dir pics --every 20 --led square --ini lentar.ini"), 0) << err_;
  const size_t frames = EngineFrames("Hello", {}).size() / kFrameBytes;
  size_t files = 0;
  for (size_t n = 0; n < frames; n += 20) {
    char name[64];
    std::snprintf(name, sizeof name, "pics/frame-%06zu.png", n);
    const std::string png = Read(name);
    ASSERT_GT(png.size(), 8u) << name;
    EXPECT_EQ(png.substr(1, 3), "PNG") << name;
    ++files;
  }
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(dir_ / "pics"), fs::directory_iterator())),
            files);
}

TEST_F(CliPreviewTest, NoFontOfTheHeightIsRefused) {
  // An archive with one font of height 1 only.
  std::string archive(164, '\0');
  archive[0] = '\x45';
  archive[1] = '\xFA';
  archive[2] = 1;
  std::string block(1024, '\0');
  block[0] = block[1] = '\xFF';
  block[2] = 1;  // one byte of glyph data, every code points at it
  block[128] = 1;
  block[129] = 1;
  archive += block + std::string(1, '\0');
  Write("one.tfa", archive);
  Write("set.txt", "Hello");
  EXPECT_EQ(Run("preview set.txt --raw r.raw --fonts one.tfa --font-height 2 --ini lentar.ini"), 1);
  EXPECT_NE(err_.find("В банке нет ни одного шрифта заданной высоты!"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(Path("r.raw")));
  EXPECT_EQ(Run("preview set.txt --raw r.raw --fonts one.tfa --ini lentar.ini"), 0) << err_;
  EXPECT_EQ(Run("preview set.txt --raw r.raw --fonts missing.tfa --ini lentar.ini"), 1);
}

TEST_F(CliPreviewTest, UsageErrors) {
  Write("set.txt", "x");
  const char* bad[] = {
      "preview",
      "preview set.txt",                                  // no output
      "preview set.txt --gif a.gif --raw a.raw",          // two outputs
      "preview set.txt --raw a.raw --every 0",
      "preview set.txt --raw a.raw --max-seconds -1",
      "preview set.txt --raw a.raw --columns 7",
      "preview set.txt --raw a.raw --speed 6",
      "preview set.txt --raw a.raw --channels 9",
      "preview set.txt --raw a.raw --at '2026-02-30 10:00:00'",
      "preview set.txt --raw a.raw --at 'tomorrow'",
      "preview set.txt --gif a.gif --led oval",
      "preview set.txt --raw set.txt",                    // would replace the set
  };
  for (const char* args : bad) EXPECT_EQ(Run(args), 2) << args;
  EXPECT_EQ(Read("set.txt"), "x");
  EXPECT_EQ(Run("preview --help"), 0);
  EXPECT_NE(out_.find("Использование: lentar-cli preview"), std::string::npos);
}

}  // namespace
