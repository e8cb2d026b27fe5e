// The board emulation: how the board presents a compiled board data image.
//
// The board keeps a ring of pixel bytes (one byte per LED, bit i = colour
// channel i lit), stored column after column, each column RowsPerColumn bytes
// from the top row down. It renders the text ahead of the visible window with
// its fonts and scrolls the window one column to the left at the pace of the
// current speed level. Timed command records (pause, blink, live values,
// jumps, frame markers, speed changes and effects) wait in 32 command slots
// until the scroll brings them to the left edge of the board, then act for
// their duration.
//
// Time: one frame is 10 ms of board time; one time unit (the unit of every
// record duration) is 3 frames, 30 ms.
//
// BoardEmulation advances one frame per Step(); pacing is the caller's: the
// emulation window drives it in real time, the command line and the tests as
// fast as they can. The engine never shows anything: a missing font is a
// refusal the caller reads from Refused()/RefusalMessage().
//
// Typical use:
//   CompileResult compiled = CompileBoardData(text, heightBytes, channels, SIZE_MAX);
//   BoardEmulation emu(compiled.image, fonts, setup, clock);
//   if (emu.Refused()) { show emu.RefusalMessage(); return; }
//   while (emu.Step()) paint(emu.Frame(), emu.LitCount());
//   int64_t ms = emu.Result();
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/dates.h"
#include "core/settings.h"

namespace lentar {

class TTabFontList;
class TTabFont;

// Bytes of the board's pixel ring; every ring position is taken modulo this.
inline constexpr size_t kPixelRingSize = 0x20000;
// The board renders ahead of the window start until this many bytes wait.
inline constexpr int64_t kRenderAheadLimit = 0x1C000;
// Command slots for timed records.
inline constexpr int kCommandSlotCount = 32;
// A run stops after this many frames.
inline constexpr uint32_t kMaxEmulationFrames = 1000000;
// Board time of one frame, and frames per time unit.
inline constexpr int kFrameMilliseconds = 10;
inline constexpr int kFramesPerTimeUnit = 3;

// Screen colour of pixel value index over channelCount channels (1..8,
// clamped): the sum of the red, green and blue components of every channel
// colour whose bit is set in index (bit 0 = channel 1), scaled down by
// 255 / largest sum (rounded) when a sum exceeds 255. Colours are 0x00BBGGRR
// (red in the low byte), as the settings keep them. Index 0 is black; bits at
// or above channelCount are ignored.
uint32_t MixChannelColours(const std::array<uint32_t, 8>& channelColours, int channelCount,
                           unsigned index);
uint32_t MixChannelColours(const std::array<int32_t, 8>& channelColours, int channelCount,
                           unsigned index);

// The clock of a run: given the board time elapsed since the start of the
// run in milliseconds, the date and time to show. The window passes one that
// reads the computer's clock; the command line and tests one that counts from
// a fixed moment.
using EmulationClock = std::function<DateTime(int64_t emulatedMs)>;

// The computer's local time (ignores emulatedMs).
DateTime LocalEmulationTime(int64_t emulatedMs);
// A clock that starts at the whole second of start and advances with board
// time (the day of the week follows the date).
EmulationClock FixedStartClock(const DateTime& start);

// Board geometry and the settings a run depends on.
struct EmulationSetup {
  int boardColumns = 8;     // BoardColumns, setting DispLen; clamped to 8..2016
  int fontHeightBytes = 1;  // RowsPerColumn / 8; clamped to 1..4
  int channelCount = 1;     // ChannelCount; clamped to 1..8
  std::array<uint32_t, 8> channelColours = {0x0000FF, 0x00FF00, 0xFF0000, 0x0000FF,
                                            0x00FF00, 0xFF0000, 0xFFFFFF, 0xFFFFFF};
  int speedLevel = 0;       // requested level 1..5; other values: settingSpeed
  int settingSpeed = 3;     // setting "Speed"; other than 1..5: level 3
  std::array<int32_t, 5> speedDefs = {10, 20, 30, 40, 50};  // setting "SpeedDefs", pixels/s

  // Geometry and colours from the settings record (DispLen, DefFontHeight,
  // ColorChannelCount, ChannelColors, Speed, SpeedDefs); speedLevel stays 0.
  static EmulationSetup FromSettings(const TSettings& settings);
};

// Frames of one column step at a scrolling speed of pixelsPerSecond:
// round(100 / pixelsPerSecond), at least 1 (a speed below 1 counts as 1).
int FramesPerColumn(int pixelsPerSecond);

class BoardEmulation {
 public:
  // Prepares a run of image (copied) with the bank's fonts of height
  // setup.fontHeightBytes; the bank's selected font number is the default
  // font. The bank is only read, during construction and every Step(), and
  // must outlive the emulation. When the bank has no font of that height the
  // run is refused (Refused(), Result() 0) and Step() does nothing. An empty
  // image finishes at once. Without a clock the live values read the
  // computer's clock (LocalEmulationTime).
  BoardEmulation(std::vector<uint8_t> image, const TTabFontList& fonts,
                 const EmulationSetup& setup, EmulationClock clock = {});
  ~BoardEmulation();
  BoardEmulation(const BoardEmulation&) = delete;
  BoardEmulation& operator=(const BoardEmulation&) = delete;

  // Advances one frame (10 ms of board time). Returns false, without making a
  // frame, when the run has finished: text exhausted and scrolled out, Stop(),
  // the frame limit, or a refusal.
  bool Step();
  // Sets the stop flag; the next Step() ends the run. May be called from
  // another thread than the one stepping.
  void Stop() { stop_ = true; }

  bool Refused() const { return refused_; }
  // "В банке нет ни одного шрифта заданной высоты!" (Windows-1251) when
  // refused, else empty.
  const std::string& RefusalMessage() const { return refusal_; }
  bool Finished() const { return finished_; }
  // The run's value: board time in milliseconds once finished by exhausting
  // the text; -1 when stopped or cut by the frame limit; 0 when refused.
  // While the run goes on: the time so far.
  int64_t Result() const;

  int BoardColumns() const { return columns_; }
  int RowsPerColumn() const { return rows_; }
  int ChannelCount() const { return channels_; }

  // The last frame: BoardColumns * RowsPerColumn colour indexes, column after
  // column, each column from the top row down; every index is below
  // PaletteSize(). All 0 before the first Step() and while the display is
  // blanked.
  const uint8_t* Frame() const { return display_.data(); }
  size_t FrameSize() const { return display_.size(); }
  uint8_t Pixel(int column, int row) const {
    return display_[static_cast<size_t>(column) * static_cast<size_t>(rows_) +
                    static_cast<size_t>(row)];
  }
  // LEDs of the last frame whose colour is not black.
  int LitCount() const { return lit_; }
  // Percentage shown by the window's label: lit * 100 / (columns * rows).
  int LitPercent() const;

  // 2^ChannelCount colours; Colour(i) = MixChannelColours(colours, count, i).
  int PaletteSize() const { return 1 << channels_; }
  uint32_t Colour(uint8_t index) const { return palette_[index]; }
  const std::array<uint32_t, 256>& Palette() const { return palette_; }

  uint32_t FramesShown() const { return frames_; }
  int64_t ElapsedMs() const { return static_cast<int64_t>(frames_) * kFrameMilliseconds; }
  // Current speed level 1..5 and frames per column step.
  int SpeedLevel() const { return speedLevel_; }
  int FramesPerStep() const { return FramesPerColumn(speedDefs_[speedLevel_ - 1]); }
  // Columns scrolled so far.
  int64_t ScrolledColumns() const { return scrolled_; }
  // Whether scrolling is held / the display blanked for the next frame.
  bool Held() const { return hold_; }
  bool Blanked() const { return blank_; }
  // Command slots in use.
  int ActiveSlots() const;
  // Bytes of the image read so far, and its size (for progress displays).
  size_t ReadPosition() const { return readPos_; }
  size_t ImageSize() const { return image_.size(); }

 private:
  struct Slot;
  struct RenderState {
    const TTabFont* font = nullptr;
    uint8_t textColour = 1;
    uint8_t backColour = 0;
    bool inverted = false;
  };

  bool LoopCondition() const;
  void RenderAhead();
  bool RenderStep();
  void Append(uint8_t value, int64_t count);
  // Writes one character at pos: its glyph columns, then the font's blank
  // columns, at most maxColumns in all; an invisible glyph keeps its columns
  // in the background colour. Returns the columns written.
  int WriteGlyph(const RenderState& state, uint8_t code, int64_t pos, int maxColumns,
                 bool visible);
  void RenderPicture(const uint8_t* bytes, size_t count);
  void KindZeroRecord(uint8_t code, const uint8_t* params, size_t paramCount);
  bool TimedRecord(const uint8_t* record, size_t size);
  void ProcessCommands(bool unitAdvanced);
  void StartSlot(Slot& slot);
  void EndSlot(Slot& slot);
  void RunSlotAction(Slot& slot);
  std::string DemonstrationText(int kind, bool& hasColon, size_t& colonAt) const;
  void DrawParameter(Slot& slot);
  void AdvanceEffect(Slot& slot);
  void DitherStep(const Slot& slot, int step, bool light);
  void SlideStep(Slot& slot);
  Slot* FindFrame(uint16_t number);
  void ShowFrame();
  int SpeedLevelFor(int value) const;

  uint8_t& Ring(int64_t pos) {
    return ring_[static_cast<size_t>(pos) & (kPixelRingSize - 1)];
  }
  uint8_t RingAt(int64_t pos) const {
    return ring_[static_cast<size_t>(pos) & (kPixelRingSize - 1)];
  }

  std::vector<uint8_t> image_;
  const TTabFontList& fonts_;
  EmulationClock clock_;
  int columns_ = 8;
  int rows_ = 8;
  int heightBytes_ = 1;
  int channels_ = 1;
  uint8_t indexMask_ = 1;
  int settingSpeed_ = 3;
  std::array<int32_t, 5> speedDefs_{};
  std::array<uint32_t, 256> palette_{};
  std::array<uint8_t, 256> litIndex_{};
  bool allColoursLit_ = true;

  bool refused_ = false;
  std::string refusal_;
  bool finished_ = false;
  std::atomic<bool> stop_{false};
  bool stopped_ = false;
  bool limitHit_ = false;

  std::vector<uint8_t> ring_;
  std::vector<uint8_t> display_;
  int lit_ = 0;

  const TTabFont* defaultFont_ = nullptr;
  RenderState state_;
  uint16_t frameCounter_ = 0;

  int64_t windowStart_ = 0;  // ring positions grow without wrapping; Ring() wraps
  int64_t fill_ = 0;
  size_t readPos_ = 0;

  std::vector<Slot> slots_;
  int activeSlots_ = 0;

  int speedLevel_ = 3;
  int stepFrames_ = 0;   // frames of the current column step
  int stepFrame_ = 0;    // next frame within it
  uint32_t frames_ = 0;
  int tick_ = 0;         // frames since the time unit last advanced
  uint16_t timeUnit_ = 0;
  uint16_t lastProcessedUnit_ = 0;
  int colonFrames_ = 0;
  bool colonOn_ = true;
  int64_t scrolled_ = 0;
  bool hold_ = false;
  bool blank_ = false;
  bool nextHold_ = false;   // flags gathered while the slots are processed
  bool nextBlank_ = false;
};

}  // namespace lentar
