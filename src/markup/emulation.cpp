// The board emulation engine. See emulation.h for the model; the comments
// here explain how the board applies each record.
#include "markup/emulation.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "core/dates.h"
#include "core/textutil.h"
#include "markup/encoder.h"
#include "markup/fonts.h"

namespace lentar {

namespace {

// Order in which the dissolving effects change the pixels of each group of 8:
// entry (step + 8 * group) mod 512 names the one pixel (bit b = b-th pixel
// from the top) that the group changes in that step. Every aligned run of 8
// entries holds each bit once, so after 8 steps every pixel has changed.
constexpr uint8_t kDitherTable[512] = {
    0x40, 0x20, 0x04, 0x10, 0x01, 0x02, 0x08, 0x80, 0x80, 0x08, 0x20, 0x02, 0x01, 0x10, 0x40, 0x04,
    0x08, 0x01, 0x80, 0x20, 0x40, 0x02, 0x10, 0x04, 0x04, 0x02, 0x01, 0x20, 0x40, 0x10, 0x80, 0x08,
    0x01, 0x40, 0x02, 0x04, 0x80, 0x20, 0x08, 0x10, 0x80, 0x08, 0x01, 0x40, 0x04, 0x10, 0x02, 0x20,
    0x10, 0x08, 0x20, 0x02, 0x40, 0x80, 0x04, 0x01, 0x80, 0x01, 0x02, 0x10, 0x20, 0x04, 0x08, 0x40,
    0x40, 0x80, 0x02, 0x08, 0x04, 0x10, 0x01, 0x20, 0x01, 0x10, 0x40, 0x20, 0x02, 0x80, 0x04, 0x08,
    0x02, 0x20, 0x08, 0x01, 0x40, 0x80, 0x10, 0x04, 0x20, 0x08, 0x04, 0x10, 0x80, 0x02, 0x40, 0x01,
    0x20, 0x40, 0x08, 0x04, 0x80, 0x01, 0x10, 0x02, 0x40, 0x20, 0x10, 0x80, 0x04, 0x01, 0x08, 0x02,
    0x80, 0x10, 0x20, 0x40, 0x08, 0x02, 0x04, 0x01, 0x40, 0x02, 0x04, 0x20, 0x10, 0x08, 0x01, 0x80,
    0x40, 0x80, 0x20, 0x04, 0x10, 0x02, 0x08, 0x01, 0x04, 0x08, 0x01, 0x20, 0x02, 0x40, 0x80, 0x10,
    0x80, 0x02, 0x04, 0x20, 0x01, 0x10, 0x40, 0x08, 0x08, 0x20, 0x80, 0x10, 0x40, 0x02, 0x01, 0x04,
    0x20, 0x02, 0x40, 0x80, 0x08, 0x10, 0x04, 0x01, 0x08, 0x02, 0x20, 0x01, 0x04, 0x10, 0x40, 0x80,
    0x01, 0x02, 0x40, 0x10, 0x04, 0x80, 0x20, 0x08, 0x01, 0x02, 0x40, 0x20, 0x04, 0x08, 0x10, 0x80,
    0x04, 0x01, 0x08, 0x20, 0x80, 0x02, 0x40, 0x10, 0x80, 0x20, 0x08, 0x04, 0x40, 0x10, 0x02, 0x01,
    0x08, 0x02, 0x20, 0x01, 0x10, 0x04, 0x40, 0x80, 0x08, 0x02, 0x01, 0x80, 0x40, 0x04, 0x20, 0x10,
    0x02, 0x01, 0x08, 0x40, 0x80, 0x10, 0x04, 0x20, 0x02, 0x10, 0x04, 0x01, 0x40, 0x80, 0x20, 0x08,
    0x20, 0x02, 0x80, 0x01, 0x40, 0x10, 0x04, 0x08, 0x10, 0x80, 0x02, 0x08, 0x01, 0x40, 0x20, 0x04,
    0x02, 0x40, 0x08, 0x01, 0x10, 0x20, 0x04, 0x80, 0x01, 0x80, 0x04, 0x20, 0x02, 0x10, 0x40, 0x08,
    0x04, 0x40, 0x08, 0x02, 0x80, 0x01, 0x20, 0x10, 0x02, 0x08, 0x04, 0x80, 0x01, 0x40, 0x10, 0x20,
    0x04, 0x40, 0x02, 0x01, 0x80, 0x20, 0x10, 0x08, 0x20, 0x10, 0x01, 0x80, 0x08, 0x02, 0x04, 0x40,
    0x80, 0x40, 0x20, 0x01, 0x04, 0x02, 0x08, 0x10, 0x04, 0x02, 0x80, 0x20, 0x10, 0x08, 0x01, 0x40,
    0x02, 0x40, 0x80, 0x20, 0x08, 0x10, 0x01, 0x04, 0x08, 0x40, 0x04, 0x80, 0x01, 0x02, 0x10, 0x20,
    0x01, 0x04, 0x80, 0x08, 0x02, 0x20, 0x40, 0x10, 0x80, 0x40, 0x10, 0x20, 0x01, 0x08, 0x02, 0x04,
    0x40, 0x08, 0x80, 0x20, 0x04, 0x02, 0x10, 0x01, 0x20, 0x01, 0x80, 0x08, 0x04, 0x02, 0x10, 0x40,
    0x80, 0x20, 0x10, 0x01, 0x04, 0x40, 0x02, 0x08, 0x01, 0x20, 0x80, 0x02, 0x04, 0x10, 0x40, 0x08,
    0x02, 0x80, 0x40, 0x01, 0x04, 0x20, 0x08, 0x10, 0x80, 0x02, 0x10, 0x08, 0x20, 0x04, 0x40, 0x01,
    0x20, 0x10, 0x40, 0x80, 0x02, 0x08, 0x01, 0x04, 0x08, 0x10, 0x02, 0x04, 0x20, 0x40, 0x01, 0x80,
    0x20, 0x40, 0x80, 0x10, 0x02, 0x04, 0x08, 0x01, 0x08, 0x10, 0x80, 0x02, 0x20, 0x40, 0x01, 0x04,
    0x80, 0x02, 0x01, 0x20, 0x04, 0x08, 0x40, 0x10, 0x40, 0x10, 0x08, 0x04, 0x80, 0x02, 0x20, 0x01,
    0x80, 0x10, 0x04, 0x08, 0x02, 0x01, 0x20, 0x40, 0x40, 0x08, 0x02, 0x04, 0x80, 0x20, 0x01, 0x10,
    0x10, 0x08, 0x04, 0x20, 0x80, 0x01, 0x02, 0x40, 0x20, 0x80, 0x02, 0x08, 0x10, 0x01, 0x40, 0x04,
    0x20, 0x02, 0x80, 0x01, 0x08, 0x04, 0x10, 0x40, 0x08, 0x01, 0x40, 0x02, 0x20, 0x04, 0x80, 0x10,
    0x80, 0x08, 0x01, 0x04, 0x40, 0x10, 0x20, 0x02, 0x10, 0x04, 0x02, 0x20, 0x40, 0x01, 0x80, 0x08,
};

constexpr int kMaxColumns = 2016;
constexpr int kMaxPixelsPerFrame = kMaxColumns * 8;  // length x font height <= 2016
constexpr int kColonToggleFrames = 50;               // 500 ms on, 500 ms off
constexpr uint16_t kDefaultDuration = 2047;          // time units when a record gives 0
constexpr size_t kSlotParams = 32;

// Parameter byte positions, counted from record byte 4.
constexpr size_t kParFlags = 0;     // byte 4: bit 0 holds scrolling, bit 1 blanks
constexpr size_t kParSpeed = 1;     // byte 5 of SPD
constexpr size_t kParWidth = 1;     // byte 5 of PAR: reserved columns
constexpr size_t kParEffType = 1;   // byte 5 of EFF
constexpr size_t kParDuration = 2;  // byte 6: duration bits 0..7
constexpr size_t kParBlinkMask = 3; // byte 7 of BLINK
constexpr size_t kParValueKind = 3; // byte 7 of PAR
constexpr size_t kParEffPause = 5;  // byte 9 of EFF: preliminary pause
constexpr size_t kParEffSlow = 6;   // byte 10 of EFF: speed reduction
constexpr size_t kParEffFragment = 7;  // byte 11 of EFF: fragment size

enum EffectPhase { kFindTarget = 0, kPrePause = 1, kFirstPass = 2, kSecondPass = 3, kIdle = 4 };

int ClampInt(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

bool ValidLevel(int level) { return level >= 1 && level <= 5; }

std::string TwoDigits(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%.2d", v);
  return buf;
}

}  // namespace

// ---- Colours --------------------------------------------------------------

uint32_t MixChannelColours(const std::array<uint32_t, 8>& channelColours, int channelCount,
                           unsigned index) {
  const int count = ClampInt(channelCount, 1, 8);
  uint32_t r = 0, g = 0, b = 0;
  for (int ch = 0; ch < count; ++ch) {
    if ((index >> ch) & 1u) {
      const uint32_t c = channelColours[static_cast<size_t>(ch)];
      r += c & 0xFF;
      g += (c >> 8) & 0xFF;
      b += (c >> 16) & 0xFF;
    }
  }
  const uint32_t largest = std::max({r, g, b});
  if (largest > 255) {
    // Scale so that the brightest component is full, keeping the hue.
    r = (r * 255 + largest / 2) / largest;
    g = (g * 255 + largest / 2) / largest;
    b = (b * 255 + largest / 2) / largest;
  }
  r = std::min<uint32_t>(r, 255);
  g = std::min<uint32_t>(g, 255);
  b = std::min<uint32_t>(b, 255);
  return r | (g << 8) | (b << 16);
}

uint32_t MixChannelColours(const std::array<int32_t, 8>& channelColours, int channelCount,
                           unsigned index) {
  std::array<uint32_t, 8> colours{};
  for (size_t i = 0; i < colours.size(); ++i) colours[i] = static_cast<uint32_t>(channelColours[i]);
  return MixChannelColours(colours, channelCount, index);
}

// ---- Clocks ---------------------------------------------------------------

DateTime LocalEmulationTime(int64_t) { return LocalTimeNow(); }

EmulationClock FixedStartClock(const DateTime& start) {
  return [start](int64_t emulatedMs) {
    const int64_t startSeconds =
        static_cast<int64_t>(start.hour) * 3600 + start.minute * 60 + start.second;
    const int64_t total = startSeconds + std::max<int64_t>(emulatedMs, 0) / 1000;
    DateTime t = start;
    const int32_t startDay = DateToDays(TDateRec{start.day, start.month, start.year});
    if (startDay != 0) {
      const TDateRec d = DaysToDate(startDay + static_cast<int32_t>(total / 86400));
      if (d.year != 0) {
        t.day = d.day;
        t.month = d.month;
        t.year = d.year;
        t.dayOfWeek = WeekdayNumber(d.day, d.month, d.year) % 7;  // Sunday 7 -> 0
      }
    }
    const int64_t inDay = total % 86400;
    t.hour = static_cast<int>(inDay / 3600);
    t.minute = static_cast<int>(inDay / 60 % 60);
    t.second = static_cast<int>(inDay % 60);
    t.milliseconds = static_cast<int>(std::max<int64_t>(emulatedMs, 0) % 1000);
    return t;
  };
}

// ---- Setup ----------------------------------------------------------------

EmulationSetup EmulationSetup::FromSettings(const TSettings& settings) {
  EmulationSetup s;
  s.boardColumns = settings.DispLen;
  s.fontHeightBytes = settings.DefFontHeight;
  s.channelCount = settings.ColorChannelCount;
  for (size_t i = 0; i < 8; ++i) s.channelColours[i] = static_cast<uint32_t>(settings.ChannelColors[i]);
  s.settingSpeed = settings.Speed;
  s.speedDefs = settings.SpeedDefs;
  return s;
}

int FramesPerColumn(int pixelsPerSecond) {
  const int v = std::max(pixelsPerSecond, 1);
  return std::max(1, (100 + v / 2) / v);
}

// ---- Command slots --------------------------------------------------------

struct BoardEmulation::Slot {
  bool active = false;
  bool started = false;
  int64_t pos = 0;        // ring position where the record was met
  bool hasEnd = false;    // PAR: ends when its reserved columns have left
  int64_t endPos = 0;
  uint8_t kind = 0;       // low nibble of record byte 2
  uint8_t code = 0;
  uint8_t durationHigh = 0;  // duration bits 8..11 (high nibble of byte 2)
  uint16_t remaining = 0;    // time units
  std::array<uint8_t, kSlotParams> params{};  // record bytes 4 onwards
  RenderState state;
  int reservedColumns = 0;
  uint16_t frameNumber = 0;
  // Effects.
  int phase = kFindTarget;
  int step = 0;
  int fragment = 0;
  int fragmentWidth = 0;
  int fragmentCount = 1;
  int wait = 0;
  int prePause = 0;
  int64_t target = 0;

  uint16_t StartDuration() const {
    const int d = durationHigh * 256 + params[kParDuration];
    return d == 0 ? kDefaultDuration : static_cast<uint16_t>(d);
  }
};

// ---- Start ----------------------------------------------------------------

BoardEmulation::BoardEmulation(std::vector<uint8_t> image, const TTabFontList& fonts,
                               const EmulationSetup& setup, EmulationClock clock)
    : image_(std::move(image)), fonts_(fonts), clock_(std::move(clock)) {
  heightBytes_ = ClampInt(setup.fontHeightBytes, 1, 4);
  rows_ = heightBytes_ * 8;
  // A board is at most 2016 columns of one-byte fonts; taller fonts shorten
  // it so that a frame never exceeds 2016 x 8 LEDs and the ring always holds
  // the visible window plus everything rendered ahead of it.
  columns_ = ClampInt(setup.boardColumns, 8, kMaxPixelsPerFrame / rows_);
  channels_ = ClampInt(setup.channelCount, 1, 8);
  indexMask_ = static_cast<uint8_t>((1u << channels_) - 1u);
  speedDefs_ = setup.speedDefs;
  settingSpeed_ = ValidLevel(setup.settingSpeed) ? setup.settingSpeed : 3;
  speedLevel_ = ValidLevel(setup.speedLevel) ? setup.speedLevel : settingSpeed_;

  for (unsigned i = 0; i < 256; ++i) palette_[i] = MixChannelColours(setup.channelColours, channels_, i);
  for (unsigned i = 0; i < 256; ++i) {
    litIndex_[i] = palette_[i & indexMask_] != 0 ? 1 : 0;
    if ((i & indexMask_) != 0 && litIndex_[i] == 0) allColoursLit_ = false;
  }

  display_.assign(static_cast<size_t>(columns_) * static_cast<size_t>(rows_), 0);

  if (fonts_.CountOfHeight(heightBytes_) == 0) {
    refused_ = true;
    refusal_ = Utf8ToCp1251(u8"В банке нет ни одного шрифта заданной высоты!");
    finished_ = true;
    return;
  }
  if (image_.empty()) {
    finished_ = true;
    return;
  }

  ring_.assign(kPixelRingSize, 0);
  slots_.resize(kCommandSlotCount);
  defaultFont_ = fonts_.FontOfHeight(fonts_.CurrentFontNo(), heightBytes_);
  state_.font = defaultFont_;
  state_.textColour = indexMask_;
  state_.backColour = 0;
  state_.inverted = false;
  // The text enters one column beyond the right edge.
  fill_ = static_cast<int64_t>(columns_ + 1) * rows_;
}

BoardEmulation::~BoardEmulation() = default;

int64_t BoardEmulation::Result() const {
  if (refused_) return 0;
  if (stopped_ || limitHit_) return -1;
  return ElapsedMs();
}

int BoardEmulation::LitPercent() const {
  return static_cast<int>(static_cast<int64_t>(lit_) * 100 / (static_cast<int64_t>(columns_) * rows_));
}

int BoardEmulation::ActiveSlots() const { return activeSlots_; }

int BoardEmulation::SpeedLevelFor(int value) const {
  if (value == 255) return settingSpeed_;
  if (value <= 0) return 1;
  if (value > 5) return 5;
  return value;
}

// ---- Main loop ------------------------------------------------------------

bool BoardEmulation::LoopCondition() const {
  return !stop_ && frames_ < kMaxEmulationFrames && (readPos_ < image_.size() || fill_ != 0);
}

bool BoardEmulation::Step() {
  if (finished_) return false;
  if (stop_) {
    stopped_ = true;
    finished_ = true;
    return false;
  }
  if (frames_ >= kMaxEmulationFrames) {
    limitHit_ = true;
    finished_ = true;
    return false;
  }
  if (stepFrame_ >= stepFrames_) {
    // A new column step: the board renders ahead, then scrolls one column
    // over the frames that the current speed gives it.
    if (!LoopCondition()) {
      finished_ = true;
      return false;
    }
    RenderAhead();
    stepFrames_ = FramesPerStep();
    stepFrame_ = 0;
  }

  bool unitAdvanced = false;
  if (++tick_ >= kFramesPerTimeUnit) {
    tick_ = 0;
    ++timeUnit_;
    unitAdvanced = true;
  }
  if (stepFrame_ == 0 && !hold_) {
    windowStart_ += rows_;
    ++scrolled_;
    if (fill_ > 0) fill_ = std::max<int64_t>(fill_ - rows_, 0);
  }
  ProcessCommands(unitAdvanced);
  if (++colonFrames_ >= kColonToggleFrames) {
    colonFrames_ = 0;
    colonOn_ = !colonOn_;
  }
  ShowFrame();
  ++frames_;
  ++stepFrame_;
  return true;
}

void BoardEmulation::ShowFrame() {
  uint8_t* out = display_.data();
  const size_t n = display_.size();
  if (blank_) {
    std::memset(out, 0, n);
    lit_ = 0;
    return;
  }
  const size_t start = static_cast<size_t>(windowStart_) & (kPixelRingSize - 1);
  const size_t first = std::min(n, kPixelRingSize - start);
  std::memcpy(out, ring_.data() + start, first);
  if (first < n) std::memcpy(out + first, ring_.data(), n - first);

  // Mask the indexes to the board's channels and count lit LEDs, eight bytes
  // at a time: a byte is non-zero when its low seven bits carry into bit 7 or
  // bit 7 is set already.
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  constexpr uint64_t kHigh = 0x8080808080808080ULL;
  constexpr uint64_t kOnes = 0x0101010101010101ULL;
  const uint64_t mask = kOnes * indexMask_;
  int lit = 0;
  size_t i = 0;
  if (allColoursLit_) {
    for (; i + 8 <= n; i += 8) {
      uint64_t w;
      std::memcpy(&w, out + i, 8);
      w &= mask;
      std::memcpy(out + i, &w, 8);
      // One bit per non-zero byte, at the byte's bit 0, summed by a multiply
      // (a portable build has no population-count instruction).
      const uint64_t nonZero = ((((w & kLow7) + kLow7) | w) & kHigh) >> 7;
      lit += static_cast<int>((nonZero * kOnes) >> 56);
    }
    for (; i < n; ++i) {
      out[i] &= indexMask_;
      lit += out[i] != 0;
    }
  } else {
    for (; i < n; ++i) {
      lit += litIndex_[out[i]];
      out[i] &= indexMask_;
    }
  }
  lit_ = lit;
}

// ---- Rendering ------------------------------------------------------------

void BoardEmulation::RenderAhead() {
  while (fill_ < kRenderAheadLimit && readPos_ < image_.size()) {
    if (!RenderStep()) break;  // a timed record waits for a free slot
  }
}

void BoardEmulation::Append(uint8_t value, int64_t count) {
  const int64_t pos = windowStart_ + fill_;
  for (int64_t i = 0; i < count; ++i) Ring(pos + i) = value;
  fill_ += count;
}

int BoardEmulation::WriteGlyph(const RenderState& state, uint8_t code, int64_t pos,
                               int maxColumns, bool visible) {
  const TTabFont* font = state.font;
  if (font == nullptr || !font->HasTables() || maxColumns <= 0) return 0;
  const uint8_t fore = state.inverted ? state.backColour : state.textColour;
  const uint8_t back = state.inverted ? state.textColour : state.backColour;
  const std::string_view glyph = font->GlyphColumns(code);
  const size_t hb = static_cast<size_t>(std::max(font->HeightBytes, 1));
  const int glyphColumns = static_cast<int>((glyph.size() + hb - 1) / hb);
  const int spacing = std::max(font->CharSpacing, 0);
  int written = 0;
  for (int c = 0; c < glyphColumns && written < maxColumns; ++c, ++written) {
    const int64_t colPos = pos + static_cast<int64_t>(written) * rows_;
    for (int band = 0; band < heightBytes_; ++band) {
      const size_t at = static_cast<size_t>(c) * hb + static_cast<size_t>(band);
      uint8_t bits = 0;
      if (visible && static_cast<size_t>(band) < hb && at < glyph.size())
        bits = static_cast<uint8_t>(glyph[at]);
      for (int bit = 0; bit < 8; ++bit)
        Ring(colPos + band * 8 + bit) = ((bits >> bit) & 1) ? fore : back;
    }
  }
  for (int s = 0; s < spacing && written < maxColumns; ++s, ++written) {
    const int64_t colPos = pos + static_cast<int64_t>(written) * rows_;
    for (int r = 0; r < rows_; ++r) Ring(colPos + r) = back;
  }
  return written;
}

void BoardEmulation::RenderPicture(const uint8_t* bytes, size_t count) {
  // Each picture column: channel 0's bands from the top, then channel 1's,
  // and so on; bit 0 of a band byte is its top row.
  const size_t unit = static_cast<size_t>(heightBytes_) * static_cast<size_t>(channels_);
  const size_t columns = count / unit;
  for (size_t c = 0; c < columns; ++c) {
    const uint8_t* col = bytes + c * unit;
    const int64_t pos = windowStart_ + fill_;
    for (int r = 0; r < rows_; ++r) {
      uint8_t pixel = 0;
      for (int ch = 0; ch < channels_; ++ch) {
        const uint8_t band = col[static_cast<size_t>(ch * heightBytes_ + r / 8)];
        const bool set = ((band >> (r % 8)) & 1) != 0;
        if (set != state_.inverted) pixel |= static_cast<uint8_t>(1u << ch);
      }
      Ring(pos + r) = pixel;
    }
    fill_ += rows_;
  }
}

bool BoardEmulation::RenderStep() {
  const size_t size = image_.size();
  const uint8_t b = image_[readPos_];
  if (b != 0) {
    // A character: its glyph columns, then the font's blank columns.
    fill_ += static_cast<int64_t>(WriteGlyph(state_, b, windowStart_ + fill_, std::numeric_limits<int>::max(), true)) * rows_;
    ++readPos_;
    return true;
  }
  if (readPos_ + 1 >= size) {  // a record marker with nothing after it
    readPos_ = size;
    return true;
  }
  const uint8_t length = image_[readPos_ + 1];
  if (length < 1 || length > 127) {
    // Not a record the board understands: it reads on after the length byte.
    readPos_ += 2;
    return true;
  }
  // A record cut short by the end of the image reads as if padded with zeros.
  const size_t end = std::min(readPos_ + 2 + length, size);
  const uint8_t* rec = image_.data() + readPos_;
  const size_t recSize = end - readPos_;
  const uint8_t kind = recSize > kRecKind ? rec[kRecKind] : 0;
  const uint8_t nibble = kind & 0x0F;
  if (nibble == 1 || nibble == 2) {
    if (!TimedRecord(rec, recSize)) return false;  // all slots busy: try again later
  } else if (nibble == 0 && recSize > kRecCode) {
    KindZeroRecord(rec[kRecCode], rec + 4, recSize > 4 ? recSize - 4 : 0);
  }
  readPos_ = end;
  return true;
}

void BoardEmulation::KindZeroRecord(uint8_t code, const uint8_t* params, size_t paramCount) {
  const uint8_t p = paramCount > 0 ? params[0] : 0;
  switch (static_cast<RecordCode>(code)) {
    case RecordCode::Font:
      // 255 is the board's default font; a number the bank does not have at
      // this height keeps the font in use, as selecting a font does.
      if (paramCount == 0) return;
      if (p == 255)
        state_.font = defaultFont_;
      else if (fonts_.HasFontOfHeight(p, heightBytes_))
        state_.font = fonts_.FontOfHeight(p, heightBytes_);
      return;
    case RecordCode::Img:
      RenderPicture(params, paramCount);
      return;
    case RecordCode::Sp: {
      if (paramCount == 0) return;
      const int64_t columns = p == 0 ? columns_ : p;
      Append(state_.inverted ? state_.textColour : state_.backColour, columns * rows_);
      return;
    }
    case RecordCode::Inv:
      if (paramCount > 0) state_.inverted = p != 0;
      return;
    case RecordCode::BCol:
      if (paramCount > 0) state_.backColour = p;
      return;
    case RecordCode::FCol:
      if (paramCount > 0) state_.textColour = p;
      return;
    default:
      return;
  }
}

bool BoardEmulation::TimedRecord(const uint8_t* record, size_t size) {
  Slot* slot = nullptr;
  for (Slot& s : slots_) {
    if (!s.active) {
      slot = &s;
      break;
    }
  }
  if (slot == nullptr) return false;
  *slot = Slot{};
  slot->active = true;
  slot->pos = windowStart_ + fill_;
  slot->kind = record[kRecKind] & 0x0F;
  slot->durationHigh = record[kRecKind] >> 4;
  slot->code = size > kRecCode ? record[kRecCode] : 0;
  if (size > 4) std::memcpy(slot->params.data(), record + 4, std::min(size - 4, kSlotParams));
  slot->state = state_;
  ++activeSlots_;

  switch (static_cast<RecordCode>(slot->code)) {
    case RecordCode::Frame:
      slot->frameNumber = frameCounter_++;
      break;
    case RecordCode::Jmp:
      slot->frameNumber = frameCounter_;  // the number of the next frame marker
      break;
    case RecordCode::Eff: {
      slot->frameNumber = frameCounter_;
      const int f = slot->params[kParEffFragment];
      if (f > 0 && f <= columns_) {
        slot->fragmentWidth = f;
        slot->fragmentCount = (columns_ + f - 1) / f;
      } else {
        slot->fragmentWidth = columns_;
        slot->fragmentCount = 1;
      }
      break;
    }
    case RecordCode::Par: {
      // The live value gets its columns now; they stay dark until it shows.
      slot->reservedColumns = slot->params[kParWidth];
      Append(0, static_cast<int64_t>(slot->reservedColumns) * rows_);
      slot->hasEnd = true;
      slot->endPos = windowStart_ + fill_;
      break;
    }
    default:
      break;
  }
  return true;
}

// ---- Command processing ---------------------------------------------------

void BoardEmulation::StartSlot(Slot& slot) {
  slot.started = true;
  slot.remaining = slot.StartDuration();
  if (slot.params[kParFlags] & 1) hold_ = true;
}

void BoardEmulation::ProcessCommands(bool unitAdvanced) {
  // Slots start when the scroll brings their position to the left edge; a
  // live value already when it comes into view.
  const int64_t visibleEnd = windowStart_ + static_cast<int64_t>(columns_) * rows_;
  for (Slot& s : slots_) {
    if (!s.active || s.started) continue;
    const bool reached = s.code == static_cast<uint8_t>(RecordCode::Par) ? s.pos < visibleEnd
                                                                          : s.pos <= windowStart_;
    if (reached) StartSlot(s);
  }
  if (activeSlots_ == 0) {
    hold_ = false;
    blank_ = false;
  }
  if (!unitAdvanced) return;

  const uint16_t elapsed = static_cast<uint16_t>(timeUnit_ - lastProcessedUnit_);
  lastProcessedUnit_ = timeUnit_;
  if (activeSlots_ == 0) return;

  nextHold_ = false;
  nextBlank_ = false;
  for (Slot& s : slots_) {
    if (!s.active || !s.started) continue;
    const bool ends = s.hasEnd ? s.endPos <= windowStart_ : s.remaining <= elapsed;
    if (ends) {
      EndSlot(s);
      continue;
    }
    s.remaining = s.remaining > elapsed ? static_cast<uint16_t>(s.remaining - elapsed) : 0;
    RunSlotAction(s);
    if (s.active) {
      nextHold_ = nextHold_ || (s.params[kParFlags] & 1) != 0;
      nextBlank_ = nextBlank_ || (s.params[kParFlags] & 2) != 0;
    }
  }
  hold_ = nextHold_;
  blank_ = nextBlank_;
}

BoardEmulation::Slot* BoardEmulation::FindFrame(uint16_t number) {
  for (Slot& s : slots_) {
    if (s.active && s.code == static_cast<uint8_t>(RecordCode::Frame) && s.frameNumber == number)
      return &s;
  }
  return nullptr;
}

void BoardEmulation::EndSlot(Slot& slot) {
  slot.active = false;
  --activeSlots_;
  const auto code = static_cast<RecordCode>(slot.code);
  if (code != RecordCode::Jmp && code != RecordCode::Eff) return;
  // A jump or an effect ends by moving the window to its frame marker, which
  // starts afresh there.
  Slot* frame = FindFrame(slot.frameNumber);
  if (frame == nullptr) return;
  frame->started = true;
  frame->remaining = frame->StartDuration();
  nextHold_ = nextHold_ || (frame->params[kParFlags] & 1) != 0;
  nextBlank_ = nextBlank_ || (frame->params[kParFlags] & 2) != 0;
  const int64_t distance = frame->pos - windowStart_;
  windowStart_ = frame->pos;
  fill_ = std::max<int64_t>(fill_ - distance, 0);
}

void BoardEmulation::RunSlotAction(Slot& slot) {
  switch (static_cast<RecordCode>(slot.code)) {
    case RecordCode::Blink:
      if (timeUnit_ & slot.params[kParBlinkMask]) nextBlank_ = true;
      return;
    case RecordCode::Par:
      DrawParameter(slot);
      return;
    case RecordCode::Spd:
      speedLevel_ = SpeedLevelFor(slot.params[kParSpeed]);
      EndSlot(slot);
      return;
    case RecordCode::Eff:
      AdvanceEffect(slot);
      return;
    default:
      return;  // PAUSE, JMP, FRAME: holding (byte 4) is all they do
  }
}

// ---- Live values ----------------------------------------------------------

std::string BoardEmulation::DemonstrationText(int kind, bool& hasColon, size_t& colonAt) const {
  hasColon = false;
  colonAt = 0;
  if (kind > 7) kind = 0;
  if (kind == 0 || kind == 1) {
    const DateTime now = clock_ ? clock_(ElapsedMs()) : LocalEmulationTime(ElapsedMs());
    if (kind == 0) {
      hasColon = true;
      colonAt = 2;
      return TwoDigits(now.hour) + ":" + TwoDigits(now.minute);
    }
    char year[16];
    std::snprintf(year, sizeof year, "%.4d", now.year);
    return TwoDigits(now.day) + "." + TwoDigits(now.month) + "." + year;
  }
  static const char* const kSamples[] = {"", "", "-15", "+23", "57", "758", "14", "2.4"};
  return kSamples[kind];
}

void BoardEmulation::DrawParameter(Slot& slot) {
  bool hasColon = false;
  size_t colonAt = 0;
  const std::string text = DemonstrationText(slot.params[kParValueKind], hasColon, colonAt);
  const int width = slot.reservedColumns;
  int column = 0;
  for (size_t i = 0; i < text.size() && column < width; ++i) {
    // The colon of the time keeps its place while it is dark.
    const bool visible = !(hasColon && i == colonAt && !colonOn_);
    column += WriteGlyph(slot.state, static_cast<uint8_t>(text[i]),
                         slot.pos + static_cast<int64_t>(column) * rows_, width - column, visible);
  }
  const uint8_t back = slot.state.inverted ? slot.state.textColour : slot.state.backColour;
  for (; column < width; ++column) {
    const int64_t colPos = slot.pos + static_cast<int64_t>(column) * rows_;
    for (int r = 0; r < rows_; ++r) Ring(colPos + r) = back;
  }
}

// ---- Effects --------------------------------------------------------------

void BoardEmulation::DitherStep(const Slot& slot, int step, bool light) {
  // Groups of 8 pixels: columns from the left, within a column the channels,
  // within a channel the bands from the top.
  size_t group = 0;
  for (int c = 0; c < columns_; ++c) {
    const int64_t base = slot.pos + static_cast<int64_t>(c) * rows_;
    const int64_t targetBase = slot.target + static_cast<int64_t>(c) * rows_;
    for (int ch = 0; ch < channels_; ++ch) {
      const uint8_t bit = static_cast<uint8_t>(1u << ch);
      for (int band = 0; band < heightBytes_; ++band, ++group) {
        const uint8_t entry = kDitherTable[(static_cast<size_t>(step) + 8 * group) % 512];
        const int row = band * 8 + std::countr_zero(entry);
        uint8_t& px = Ring(base + row);
        if (light)
          px = static_cast<uint8_t>(px | bit);
        else
          px = static_cast<uint8_t>((px & ~bit) | (RingAt(targetBase + row) & bit));
      }
    }
  }
}

void BoardEmulation::SlideStep(Slot& slot) {
  // Every column of the fragment moves one pixel; a blank row enters first,
  // then the target column's rows.
  const bool up = slot.params[kParEffType] == 2;
  const int first = slot.fragment * slot.fragmentWidth;
  const int last = std::min(first + slot.fragmentWidth, columns_);
  const int k = slot.step;
  for (int c = first; c < last; ++c) {
    const int64_t base = slot.pos + static_cast<int64_t>(c) * rows_;
    const int64_t targetBase = slot.target + static_cast<int64_t>(c) * rows_;
    if (up) {
      for (int r = 0; r + 1 < rows_; ++r) Ring(base + r) = RingAt(base + r + 1);
      Ring(base + rows_ - 1) = k == 0 ? 0 : RingAt(targetBase + (k - 1));
    } else {
      for (int r = rows_ - 1; r > 0; --r) Ring(base + r) = RingAt(base + r - 1);
      Ring(base) = k == 0 ? 0 : RingAt(targetBase + (rows_ - k));
    }
  }
}

void BoardEmulation::AdvanceEffect(Slot& slot) {
  if (slot.phase == kFindTarget) {
    const Slot* frame = FindFrame(slot.frameNumber);
    if (frame == nullptr) {
      slot.remaining = 0;  // nothing to show: the effect ends at the next time unit
      return;
    }
    slot.target = frame->pos;
    slot.prePause = slot.params[kParEffPause];
    slot.phase = slot.prePause > 0 ? kPrePause : kFirstPass;
    return;
  }
  if (slot.phase == kPrePause) {
    if (--slot.prePause <= 0) slot.phase = kFirstPass;
    return;
  }
  if (slot.phase == kIdle) return;
  // Each step of a pass first waits out the speed reduction.
  if (slot.wait < slot.params[kParEffSlow]) {
    ++slot.wait;
    return;
  }
  slot.wait = 0;
  switch (slot.params[kParEffType]) {
    case 0:  // light every LED, then dissolve into the target
      DitherStep(slot, slot.step, slot.phase == kFirstPass);
      if (++slot.step == 8) {
        slot.step = 0;
        slot.phase = slot.phase == kFirstPass ? kSecondPass : kIdle;
      }
      return;
    case 1:  // dissolve straight into the target
      DitherStep(slot, slot.step, false);
      if (++slot.step == 8) slot.phase = kIdle;
      return;
    case 2:
    case 3:  // slide the target in from below or from above, fragment by fragment
      SlideStep(slot);
      if (++slot.step > rows_) {
        slot.step = 0;
        if (++slot.fragment >= slot.fragmentCount) slot.phase = kIdle;
      }
      return;
    default:
      slot.phase = kIdle;
      return;
  }
}

}  // namespace lentar
