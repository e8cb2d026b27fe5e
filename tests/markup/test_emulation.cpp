// The board emulation, checked on the frames an operator would see.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/textutil.h"
#include "markup/compiler.h"
#include "markup/emulation.h"
#include "markup/fontarchive_writer.h"
#include "markup/fonts.h"

namespace lentar {
namespace {

// A one-byte font without blank columns after its characters. Every glyph is
// one column, so a column of the board tells which character it shows:
// 'W' solid, 'A' top and bottom rows, 'B' lower half, 'C' upper half, the digits 1..10,
// and a few signs the live values use.
const std::map<char, uint8_t> kGlyphs = {
    {'W', 0xFF}, {'A', 0x81}, {'B', 0xF0}, {'C', 0x0F}, {' ', 0x00}, {':', 0x80},
    {'.', 0x40}, {'-', 0x20}, {'+', 0x10}, {'0', 1},    {'1', 2},    {'2', 3},
    {'3', 4},    {'4', 5},    {'5', 6},    {'6', 7},    {'7', 8},    {'8', 9},
    {'9', 10}};

TTabFont MakeFont(int heightBytes) {
  GlyphColumnsTable glyphs;
  for (const auto& [c, bits] : kGlyphs)
    glyphs[static_cast<uint8_t>(c)].assign(static_cast<size_t>(heightBytes), bits);
  TTabFont font;
  std::string error;
  EXPECT_TRUE(BuildTabFont("test", heightBytes, 0, glyphs, font, error)) << error;
  return font;
}

// Bank with one font of height 1 (and optionally one of height 4).
struct Bank {
  TTabFontList fonts;
  explicit Bank(bool withTall = false) {
    fonts.Add(MakeFont(1));
    if (withTall) fonts.Add(MakeFont(4));
    fonts.SetHeight(1);
    fonts.SelectFont(0);
  }
};

using Frame = std::vector<uint8_t>;

struct Playback {
  std::vector<Frame> frames;
  std::vector<int64_t> scrolled;  // columns scrolled after each frame
  int64_t result = 0;
  int rows = 8;
};

EmulationSetup SmallBoard(int columns = 8) {
  EmulationSetup s;
  s.boardColumns = columns;
  s.fontHeightBytes = 1;
  s.channelCount = 1;
  s.settingSpeed = 3;  // 30 px/s: 3 frames per column
  return s;
}

std::vector<uint8_t> Compile(const std::string& markup, const EmulationSetup& setup) {
  return CompileBoardData(markup, setup.fontHeightBytes, setup.channelCount, SIZE_MAX).image;
}

Playback Emulate(const std::string& markup, const EmulationSetup& setup = SmallBoard(),
            EmulationClock clock = {}, size_t maxFrames = 200000) {
  Bank bank;
  BoardEmulation emu(Compile(markup, setup), bank.fonts, setup, std::move(clock));
  Playback run;
  run.rows = emu.RowsPerColumn();
  while (run.frames.size() < maxFrames && emu.Step()) {
    run.frames.emplace_back(emu.Frame(), emu.Frame() + emu.FrameSize());
    run.scrolled.push_back(emu.ScrolledColumns());
    // With no black channel every LED that is not 0 counts as lit.
    const auto lit = std::count_if(run.frames.back().begin(), run.frames.back().end(),
                                   [](uint8_t v) { return v != 0; });
    if (lit != emu.LitCount()) {
      ADD_FAILURE() << "frame " << run.frames.size() << ": lit count " << emu.LitCount()
                    << ", frame has " << lit;
      break;
    }
  }
  run.result = emu.Result();
  return run;
}

// Lit rows of one column of an 8-row frame as a bit mask (bit 0 = top row).
uint8_t Column(const Frame& frame, int column) {
  uint8_t bits = 0;
  for (int r = 0; r < 8; ++r)
    if (frame[static_cast<size_t>(column) * 8 + static_cast<size_t>(r)] != 0)
      bits = static_cast<uint8_t>(bits | (1u << r));
  return bits;
}

// The picture of a frame as characters of the test font ('?' for others).
std::string Text(const Frame& frame, int columns) {
  std::string text;
  for (int c = 0; c < columns; ++c) {
    char shown = '?';
    for (const auto& [ch, bits] : kGlyphs)
      if (bits == Column(frame, c)) shown = ch;
    text += shown;
  }
  return text;
}

// Consecutive identical frames merged: the pictures as the operator sees them.
std::vector<Frame> Pictures(const std::vector<Frame>& frames) {
  std::vector<Frame> out;
  for (const Frame& f : frames)
    if (out.empty() || out.back() != f) out.push_back(f);
  return out;
}

// Lengths of the runs of consecutive frames for which pred holds.
template <typename Pred>
std::vector<int> RunLengths(const std::vector<Frame>& frames, Pred pred) {
  std::vector<int> runs;
  int current = 0;
  for (const Frame& f : frames) {
    if (pred(f)) {
      ++current;
    } else if (current > 0) {
      runs.push_back(current);
      current = 0;
    }
  }
  if (current > 0) runs.push_back(current);
  return runs;
}

bool Dark(const Frame& f) {
  return std::all_of(f.begin(), f.end(), [](uint8_t v) { return v == 0; });
}

// ---- Scrolling --------------------------------------------------------------

TEST(Emulation, TextEntersBeyondTheRightEdgeAndRunsUntilItHasLeft) {
  const Playback run = Emulate("WA");  // two columns
  // 8 columns + 1 beyond the edge + 2 of text, 3 frames each.
  ASSERT_EQ(run.frames.size(), (8u + 1u + 2u) * 3u);
  EXPECT_EQ(run.result, static_cast<int64_t>(run.frames.size()) * kFrameMilliseconds);
  // The first column step still shows nothing; the second brings the 'W' in
  // at the right edge, the third shows it one column further left.
  EXPECT_TRUE(Dark(run.frames[0]));
  EXPECT_EQ(Text(run.frames[3], 8), "       W");
  EXPECT_EQ(Text(run.frames[6], 8), "      WA");
  EXPECT_EQ(Text(run.frames[27], 8), "A       ");
  // The last column step is dark again: the text has left.
  EXPECT_TRUE(Dark(run.frames[30]));
  EXPECT_TRUE(Dark(run.frames.back()));
}

TEST(Emulation, EmptyImageEndsAtOnce) {
  Bank bank;
  BoardEmulation emu({}, bank.fonts, SmallBoard());
  EXPECT_FALSE(emu.Step());
  EXPECT_TRUE(emu.Finished());
  EXPECT_EQ(emu.Result(), 0);
}

TEST(Emulation, FullBoardWidthOfBackgroundForSpZero) {
  EmulationSetup setup = SmallBoard();
  setup.channelCount = 2;
  // Text colour 1 on background 2, so the blank columns are visible.
  const Playback run = Emulate("{[BCol:2]}{[FCol:1]}W{[Sp:0]}W", setup);
  // Find the frame where the first 'W' stands at column 0.
  size_t at = 0;
  while (at < run.frames.size() && run.frames[at][0] != 1) ++at;
  ASSERT_LT(at, run.frames.size());
  const Frame& first = run.frames[at];
  for (int c = 1; c < 8; ++c)
    EXPECT_EQ(first[static_cast<size_t>(c) * 8], 2) << "column " << c;
  // One column later all 8 columns are background; one more and the second
  // 'W' enters at the right edge.
  const Frame& gap = run.frames[at + 3];
  EXPECT_TRUE(std::all_of(gap.begin(), gap.end(), [](uint8_t v) { return v == 2; }));
  const Frame& second = run.frames[at + 6];
  EXPECT_EQ(second[7 * 8], 1);
  EXPECT_EQ(second[6 * 8], 2);
}

TEST(Emulation, ColoursInversionAndPictures) {
  EmulationSetup setup = SmallBoard();
  setup.channelCount = 2;
  // 'A': rows 0 and 7 lit. Inverted 'A' in colours 1 on 2. A two-channel picture
  // column: channel 0 lights row 0, channel 1 lights row 1.
  const Playback run = Emulate("{[FCol:3]}A{[FCol:1]}{[BCol:2]}{[Inv:1]}A{[Inv:0]}{[Img:1,2]}", setup);
  size_t at = 0;
  while (at < run.frames.size() && run.frames[at][0] == 0) ++at;
  ASSERT_LT(at, run.frames.size());
  const Frame& f = run.frames[at];
  // Column 0: 'A' in colour 3 on black.
  EXPECT_EQ(f[0], 3);
  EXPECT_EQ(f[1], 0);
  // Column 1: inverted 'A': top row background colour 2, others text colour 1.
  EXPECT_EQ(f[8], 2);
  EXPECT_EQ(f[9], 1);
  EXPECT_EQ(f[15], 2);
  // Column 2: the picture column.
  EXPECT_EQ(f[16], 1);
  EXPECT_EQ(f[17], 2);
  EXPECT_EQ(f[18], 0);
}

TEST(Emulation, FontChanges) {
  // A second one-byte font whose 'W' lights only the upper half.
  Bank bank;
  GlyphColumnsTable glyphs;
  glyphs['W'] = {0x0F};
  TTabFont second;
  std::string error;
  ASSERT_TRUE(BuildTabFont("second", 1, 0, glyphs, second, error)) << error;
  bank.fonts.Add(second);
  const EmulationSetup setup = SmallBoard();
  // Font 1, an unknown font 7 (keeps font 1), then 255: the default font.
  BoardEmulation emu(Compile("{[Font:1]}W{[Font:7]}W{[Font:255]}W", setup), bank.fonts, setup);
  // The first frame with the text at the left edge; 0x0F shows as 'C'.
  std::string shown;
  while (emu.Step() && shown.empty()) {
    const Frame f(emu.Frame(), emu.Frame() + emu.FrameSize());
    if (Column(f, 0) != 0) shown = Text(f, 8).substr(0, 3);
  }
  EXPECT_EQ(shown, "CCW");  // 0x0F twice, then the solid default 'W'
}

TEST(Emulation, IndexesStayWithinTheBoardsChannels) {
  // A text colour of 255 on a one-channel board shows as channel 1.
  const Playback run = Emulate("{[FCol:255]}W");
  for (const Frame& f : run.frames)
    for (uint8_t v : f) ASSERT_LE(v, 1);
  EXPECT_FALSE(Dark(run.frames[3]));
}

// ---- Timed commands ---------------------------------------------------------

TEST(Emulation, PauseHoldsTheScrollFor100TimeUnits) {
  const Playback plain = Emulate("WB");
  const Playback paused = Emulate("W{[Pause:100]}B");
  // Every picture stays 3 frames, except the one with the pause at the left
  // edge ('B' at column 0), which stays 300 frames (100 units of 30 ms).
  const auto held = RunLengths(paused.frames, [](const Frame& f) { return Text(f, 8) == "B       "; });
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0], 300);
  EXPECT_EQ(paused.frames.size(), plain.frames.size() + 300 - 3);
  EXPECT_EQ(Pictures(paused.frames), Pictures(plain.frames));
}

TEST(Emulation, BlinkBlanksInRunsOf16TimeUnits) {
  // The blink starts when it reaches the left edge with a solid board after it.
  const Playback run = Emulate("{[Blink:100,16]}" + std::string(150, 'W'));
  size_t first = 0;
  while (first < run.frames.size() && Dark(run.frames[first])) ++first;
  const std::vector<Frame> rest(run.frames.begin() + static_cast<long>(first), run.frames.end());
  const auto blank = RunLengths(rest, Dark);
  // 100 units = 300 frames of blinking: whole runs of 16 units (48 frames)
  // between a first and a last that may be cut.
  ASSERT_GE(blank.size(), 3u);
  for (size_t i = 0; i + 1 < blank.size(); ++i)
    if (i > 0) {
      EXPECT_EQ(blank[i], 48) << "blank run " << i;
    }
  const auto lit = RunLengths(rest, [](const Frame& f) { return !Dark(f); });
  for (size_t i = 1; i + 2 < lit.size(); ++i) EXPECT_EQ(lit[i], 48) << "lit run " << i;
  int blanked = 0;
  for (int n : blank) blanked += n;
  // The last dark run includes the end of the text scrolling out.
  EXPECT_GE(blanked, 100);
}

// Frames per column after the speed change, measured at the end of a run.
int FramesPerColumnAtEnd(const Playback& run) {
  const size_t n = run.scrolled.size();
  size_t i = n - 1;
  while (i > 0 && run.scrolled[i - 1] == run.scrolled[n - 1]) --i;
  size_t j = i - 1;
  while (j > 0 && run.scrolled[j - 1] == run.scrolled[i - 1]) --j;
  return static_cast<int>(i - j);
}

TEST(Emulation, SpeedChanges) {
  struct Case {
    const char* tag;
    int settingSpeed;
    int framesPerColumn;
  };
  const Case cases[] = {
      {"{[Spd:9]}", 3, 2},     // level 5: 50 px/s
      {"{[Spd:255]}", 1, 10},  // the "Speed" setting: level 1, 10 px/s
      {"{[Spd:255]}", 7, 3},   // a bad setting counts as level 3
      {"{[Spd:0]}", 3, 10},    // 0 is written as 1
      {"{[Spd:2]}", 3, 5},
      {"", 4, 3},              // level 4 = 40 px/s: round(2.5) = 3
  };
  for (const Case& c : cases) {
    EmulationSetup setup = SmallBoard();
    setup.settingSpeed = c.settingSpeed;
    setup.speedLevel = 3;  // the run starts at level 3 and the tag changes it
    if (std::string(c.tag).empty()) setup.speedLevel = 4;
    const Playback run = Emulate(std::string("W") + c.tag + std::string(30, 'W'), setup);
    EXPECT_EQ(FramesPerColumnAtEnd(run), c.framesPerColumn) << c.tag << " setting " << c.settingSpeed;
  }
}

TEST(Emulation, JumpOrEffectWithoutFrameMarkerChangesNothingVisible) {
  const std::string plain = "WABC" + std::string(10, 'A');
  const auto expected = Pictures(Emulate(plain).frames);
  for (const char* tag : {"{[Jmp:5]}", "{[Jmp:5,1]}", "{[Eff:0,5]}", "{[Eff:2,40,5,0,3]}"}) {
    const std::string text = "WA" + std::string(tag) + "BC" + std::string(10, 'A');
    EXPECT_EQ(Pictures(Emulate(text).frames), expected) << tag;
  }
}

TEST(Emulation, MoreThan32WaitingCommandsDelayRendering) {
  // Frame markers add no columns; all wait for the left edge at the same
  // place and stay 100 units once started.
  auto firstLit = [](const Playback& run) {
    size_t i = 0;
    while (i < run.frames.size() && Dark(run.frames[i])) ++i;
    return i;
  };
  std::string markers;
  for (int i = 0; i < 32; ++i) markers += "{[Frame:100]}";
  const Playback fits = Emulate(markers + "WWWWWWWW");
  const Playback waits = Emulate(markers + "{[Frame:100]}WWWWWWWW");
  EXPECT_EQ(firstLit(fits), 3u);  // enters with the second column step as usual
  // The 33rd marker (and the text after it) is read only once a slot frees:
  // the markers start with the 9th column step (frame 24) and end 100 units
  // (300 frames) later. By then nothing is rendered ahead, so the text starts
  // at the left edge.
  EXPECT_EQ(firstLit(waits), 24u + 300u);
  EXPECT_LT(firstLit(waits), waits.frames.size());
}

TEST(Emulation, EffectsReachTheirTargetPicture) {
  struct Case {
    const char* tag;
    int steps;         // changes until the target picture stands
    int unitsPerStep;  // 1 + the speed reduction
  };
  const Case cases[] = {
      {"{[Eff:0,200]}", 16, 1},        // light the board, then dissolve: 8 + 8
      {"{[Eff:1,200]}", 8, 1},         // dissolve
      {"{[Eff:2,200]}", 9, 1},         // slide up: rows + 1 steps
      {"{[Eff:3,200]}", 9, 1},         // slide down
      {"{[Eff:2,200,0,0,3]}", 27, 1},  // three fragments of 3, 3 and 2 columns
      {"{[Eff:1,200,0,1]}", 8, 2},     // each step first waits one unit
      {"{[Eff:1,200,4]}", 8, 1},       // a preliminary pause only delays the start
  };
  const std::string from(8, 'B'), target(8, 'C');
  for (const Case& c : cases) {
    const Playback run = Emulate("W" + std::string(c.tag) + from + "{[Frame]}" + target + "W");
    const auto& frames = run.frames;
    // The board holds the 'B' picture, changes it once per step, holds the
    // 'C' picture until the effect ends, then scrolls on from the marker.
    auto is = [&](const std::string& text) {
      return [&frames, text](size_t i) { return Text(frames[i], 8) == text; };
    };
    size_t held = 0;
    while (held < frames.size() && !is(from)(held)) ++held;
    size_t firstChange = held;
    while (firstChange < frames.size() && is(from)(firstChange)) ++firstChange;
    size_t reached = firstChange;
    while (reached < frames.size() && !is(target)(reached)) ++reached;
    ASSERT_LT(reached, frames.size()) << c.tag;
    EXPECT_EQ(reached - firstChange, static_cast<size_t>((c.steps - 1) * c.unitsPerStep * 3)) << c.tag;
    const auto pictures = Pictures({frames.begin() + static_cast<long>(firstChange),
                                    frames.begin() + static_cast<long>(reached)});
    EXPECT_LE(pictures.size(), static_cast<size_t>(c.steps)) << c.tag;
    if (c.tag[6] == '0') {
      EXPECT_TRUE(std::any_of(pictures.begin(), pictures.end(),
                              [](const Frame& f) { return Text(f, 8) == "WWWWWWWW"; }))
          << "all lit between the passes";
    }
    size_t after = reached;
    while (after < frames.size() && is(target)(after)) ++after;
    ASSERT_LT(after, frames.size());
    EXPECT_EQ(Text(frames[after], 8), "CCCCCCCW") << c.tag;
    // The target stands until the effect's 200 units have run out.
    EXPECT_GT(after - reached, static_cast<size_t>(3 * (200 - c.steps * c.unitsPerStep - 8))) << c.tag;
  }
}

TEST(Emulation, SlideUpMovesEveryColumnOnePixelPerStep) {
  const Playback run = Emulate("W{[Eff:2,50]}" + std::string(8, 'B') + "{[Frame]}" + std::string(8, 'C'));
  const auto pictures = Pictures(run.frames);
  const auto start = std::find_if(pictures.begin(), pictures.end(),
                                  [](const Frame& f) { return Text(f, 8) == "BBBBBBBB"; });
  ASSERT_NE(start, pictures.end());
  ASSERT_GT(pictures.end() - start, 3);
  // 'B' (rows 4..7) moves up one row with a blank row entering at the bottom,
  // then the target's top row follows.
  EXPECT_EQ(Column(*(start + 1), 0), 0x78);
  EXPECT_EQ(Column(*(start + 2), 0), 0x3C | 0x80);
}

// ---- Live values ------------------------------------------------------------

EmulationClock At(int year, int month, int day, int hour, int minute) {
  return FixedStartClock(
      DateTime{.year = year, .month = month, .day = day, .hour = hour, .minute = minute});
}

TEST(Emulation, TimeShowsTheClockWithTheColonBlinking) {
  // A pause holds the live value at the left edge for 100 units; its columns
  // read 09:41 or 09 41 (the colon keeps its column).
  const Playback run = Emulate("{[Pause:100]}{[Par:0,5]}WWW", SmallBoard(), At(2007, 1, 5, 9, 41));
  const auto on = RunLengths(run.frames, [](const Frame& f) { return Text(f, 8).substr(0, 5) == "09:41"; });
  const auto off = RunLengths(run.frames, [](const Frame& f) { return Text(f, 8).substr(0, 5) == "09 41"; });
  ASSERT_FALSE(on.empty());
  ASSERT_FALSE(off.empty());
  int total = 0;
  for (int n : on) total += n;
  for (int n : off) total += n;
  EXPECT_GE(total, 300);
  EXPECT_GE(on.size() + off.size(), 6u);
  // The colon changes every 50 frames (500 ms); the value is redrawn once per
  // time unit, so a run may be up to 2 frames longer or shorter.
  for (size_t i = 1; i + 1 < on.size(); ++i) EXPECT_NEAR(on[i], 50, 2);
  for (size_t i = 1; i + 1 < off.size(); ++i) EXPECT_NEAR(off[i], 50, 2);
}

TEST(Emulation, LiveValueDemonstrations) {
  struct Case {
    int kind;
    int width;
    const char* shown;
  };
  const Case cases[] = {
      {1, 10, "05.01.2007"}, {2, 3, "-15"}, {3, 3, "+23"}, {4, 2, "57"},
      {5, 3, "758"},         {6, 2, "14"},  {7, 3, "2.4"}, {9, 5, "09:41"},  // above 7: time
      {5, 2, "75"},                                                     // cut to the width
      {4, 4, "57  "},                                                   // padded
  };
  for (const Case& c : cases) {
    // A long board so the value is seen whole before it reaches the left edge.
    EmulationSetup setup = SmallBoard(16);
    const std::string text =
        "{[Par:" + std::to_string(c.kind) + "," + std::to_string(c.width) + "]}" + std::string(16, 'W');
    const Playback run = Emulate(text, setup, At(2007, 1, 5, 9, 41), 5000);
    const std::string expected = std::string(c.shown) + "W";
    const bool seen = std::any_of(run.frames.begin(), run.frames.end(), [&](const Frame& f) {
      return Text(f, 16).substr(0, expected.size()) == expected;
    });
    EXPECT_TRUE(seen) << "kind " << c.kind << " width " << c.width;
  }
}

TEST(Emulation, FixedStartClockCountsBoardTime) {
  const EmulationClock clock = FixedStartClock(
      DateTime{.year = 2024, .month = 2, .day = 28, .hour = 23, .minute = 59, .second = 58});
  // 28 February 2024 was a Wednesday; 2.5 s later it is Thursday the 29th.
  EXPECT_EQ(clock(2500), (DateTime{.year = 2024, .month = 2, .dayOfWeek = 4, .day = 29,
                                   .milliseconds = 500}));
}

// ---- Start, end and refusal -------------------------------------------------

TEST(Emulation, RefusesWithoutAFontOfTheHeight) {
  Bank bank;
  EmulationSetup setup = SmallBoard();
  setup.fontHeightBytes = 2;
  BoardEmulation emu(Compile("WW", setup), bank.fonts, setup);
  EXPECT_TRUE(emu.Refused());
  EXPECT_EQ(emu.RefusalMessage(), Utf8ToCp1251(u8"В банке нет ни одного шрифта заданной высоты!"));
  EXPECT_FALSE(emu.Step());
  EXPECT_EQ(emu.Result(), 0);
}

TEST(Emulation, StopEndsTheRunWithMinusOne) {
  Bank bank;
  BoardEmulation emu(Compile("WWWW", SmallBoard()), bank.fonts, SmallBoard());
  ASSERT_TRUE(emu.Step());
  emu.Stop();
  EXPECT_FALSE(emu.Step());
  EXPECT_TRUE(emu.Finished());
  EXPECT_EQ(emu.Result(), -1);
}

TEST(Emulation, FrameLimitEndsTheRun) {
  // A held frame marker of 4095 units, repeated, outlasts a million frames.
  std::string text;
  for (int i = 0; i < 90; ++i) text += "{[Frame:4095,1]}W";
  Bank bank;
  BoardEmulation emu(Compile(text, SmallBoard()), bank.fonts, SmallBoard());
  uint32_t frames = 0;
  while (emu.Step()) ++frames;
  EXPECT_EQ(frames, kMaxEmulationFrames);
  EXPECT_EQ(emu.Result(), -1);
}

TEST(Emulation, TallFontsOnALongBoardStayInsideTheFrame) {
  Bank bank(true);
  EmulationSetup setup = SmallBoard(2016);
  setup.fontHeightBytes = 4;
  BoardEmulation emu(Compile("{[Sp:0]}W{[Sp:0]}W", setup), bank.fonts, setup);
  ASSERT_FALSE(emu.Refused());
  EXPECT_EQ(emu.RowsPerColumn(), 32);
  EXPECT_EQ(emu.BoardColumns(), 504);  // length x font height stays within 2016
  EXPECT_EQ(emu.FrameSize(), 504u * 32u);
}

TEST(Emulation, DamagedImagesEndSafely) {
  const std::vector<std::vector<uint8_t>> images = {
      {0x00},                          // a marker at the end
      {'W', 0x00, 0x00, 'W'},          // length 0: read on after it
      {'W', 0x00, 0xC8, 'W', 'W'},     // length above 127
      {0x00, 0x05, 0x01, 0x03, 0x01},  // a pause cut short by the end
      {0x00, 0x7F, 0x02, 0x05},        // a live value cut short
      {0x00, 0x04, 0x00, 0x02, 0xFF, 0xFF},  // a picture record
      {0x00, 0x02, 0x31, 0x0D},        // an effect without parameters
      {0x00, 0x03, 0x00, 0x09},        // blank columns without a count
  };
  Bank bank;
  for (const auto& image : images) {
    BoardEmulation emu(image, bank.fonts, SmallBoard());
    uint32_t frames = 0;
    while (emu.Step() && frames < 100000) ++frames;
    EXPECT_TRUE(emu.Finished());
    EXPECT_GE(emu.Result(), 0);
  }
}

// ---- Colours ----------------------------------------------------------------

TEST(Emulation, MixChannelColours) {
  const std::array<uint32_t, 8> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0x000080,
                                           0x404040, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF};
  struct Case {
    int channels;
    unsigned index;
    uint32_t colour;
  };
  const Case cases[] = {
      {2, 0, 0x000000},  // black
      {2, 1, 0x0000FF},  // red
      {2, 3, 0x00FFFF},  // red + green = yellow
      {3, 7, 0xFFFFFF},
      {4, 9, 0x0000FF},  // red 255 + 128: scaled back to 255
      {5, 17, 0x3333FF},  // red 319, green and blue 64: 64 * 255 / 319 = 51.2 -> 0x33
      {1, 2, 0x000000},  // channel 2 is not on a one-channel board
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MixChannelColours(colours, c.channels, c.index), c.colour)
        << c.channels << " channels, index " << c.index;
  }
}

TEST(Emulation, LitCountAndPalette) {
  EmulationSetup setup = SmallBoard();
  setup.channelCount = 2;
  setup.channelColours[1] = 0;  // a black second channel never counts as lit
  Bank bank;
  BoardEmulation emu(Compile("{[FCol:2]}W{[FCol:1]}W", setup), bank.fonts, setup);
  EXPECT_EQ(emu.PaletteSize(), 4);
  EXPECT_EQ(emu.Colour(1), 0x0000FFu);
  EXPECT_EQ(emu.Colour(2), 0u);
  int maxLit = 0;
  while (emu.Step()) maxLit = std::max(maxLit, emu.LitCount());
  EXPECT_EQ(maxLit, 8);  // only the red column counts
}

}  // namespace
}  // namespace lentar
