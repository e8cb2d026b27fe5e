#include "markup/encoder.h"

#include <algorithm>
#include <cstring>

#include "core/textutil.h"
#include "markup/tags.h"

namespace lentar {

namespace {

constexpr RecordInfo kRecords[] = {
    {"FONT", RecordCode::Font, 5, 0, false},   {"IMG", RecordCode::Img, 0, 0, false},
    {"PAUSE", RecordCode::Pause, 7, 1, true},  {"BLINK", RecordCode::Blink, 8, 1, true},
    {"PAR", RecordCode::Par, 8, 2, false},     {"JMP", RecordCode::Jmp, 7, 1, true},
    {"FRAME", RecordCode::Frame, 7, 1, true},  {"SPD", RecordCode::Spd, 7, 1, false},
    {"SP", RecordCode::Sp, 5, 0, false},       {"INV", RecordCode::Inv, 5, 0, false},
    {"BCOL", RecordCode::BCol, 5, 0, false},   {"FCOL", RecordCode::FCol, 5, 0, false},
    {"EFF", RecordCode::Eff, 12, 1, true},
};

constexpr size_t kMaxPictureItems = 4064;
constexpr size_t kPictureChunkLimit = 120;

int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Up to kMax items of an argument text, split at "," and trimmed; an empty
// text has no items. Items past kMax are not looked at.
template <size_t kMax>
struct ArgItems {
  std::string_view item[kMax];
  size_t count = 0;

  explicit ArgItems(std::string_view args) {
    args = TrimBlankView(args);
    if (args.empty()) return;
    while (count < kMax) {
      const size_t comma = args.find(',');
      item[count++] = TrimBlankView(args.substr(0, comma));
      if (comma == std::string_view::npos) break;
      args.remove_prefix(comma + 1);
    }
  }

  // The lenient decimal value of item i, or of fallback when there is none.
  uint32_t Value(size_t i, std::string_view fallback = "0") const {
    return ParseInBase(i < count ? item[i] : fallback, 10);
  }
};

// 12-bit duration: masked, and 0 replaced by 1 where the board needs a
// non-zero time.
uint32_t Duration(uint32_t value, bool zeroBecomesOne) {
  value &= 0xFFF;
  if (value == 0 && zeroBecomesOne) value = 1;
  return value;
}

// Copies a template and fills in a duration (byte 2 high nibble, byte 6).
size_t PutRecord(uint8_t* out, size_t room, const uint8_t* tmpl, size_t size) {
  if (room < size) return 0;
  std::memcpy(out, tmpl, size);
  return size;
}

void PutDuration(uint8_t* rec, uint32_t duration) {
  rec[2] = static_cast<uint8_t>(rec[2] | ((duration >> 8) & 0x0F) << 4);
  rec[6] = static_cast<uint8_t>(duration & 0xFF);
}

size_t EncodeBlankColumns(std::string_view args, uint8_t* out, size_t room, int fontHeightBytes) {
  static constexpr uint8_t kTmpl[5] = {0x00, 0x03, 0x00, 0x09, 0x00};
  // The lenient reading gives an unsigned value; as a signed count anything
  // from 2^31 up is negative and means no columns.
  const uint32_t raw = ArgItems<1>(args).Value(0);
  int64_t columns = raw > 0x7FFFFFFFu ? 0 : static_cast<int64_t>(raw);
  if (columns == 0) return PutRecord(out, room, kTmpl, 5);
  const int64_t perRecord = BlankColumnsPerRecord(fontHeightBytes);
  size_t written = 0;
  while (columns > 0 && room - written >= 5) {
    const int64_t part = std::min(columns, perRecord);
    std::memcpy(out + written, kTmpl, 5);
    out[written + 4] = static_cast<uint8_t>(part);
    written += 5;
    columns -= part;
  }
  return written;
}

size_t EncodePicture(std::string_view args, uint8_t* out, size_t room, int fontHeightBytes,
                     int channelCount) {
  args = TrimBlankView(args);
  if (args.empty()) return 0;
  const size_t items = static_cast<size_t>(std::count(args.begin(), args.end(), ',')) + 1;
  if (items > kMaxPictureItems) return 0;

  // Read the bytes up to the first item that is not a plain 0..255 number.
  uint8_t values[kMaxPictureItems];
  size_t n = 0;
  std::string_view rest = args;
  for (;;) {
    const size_t comma = rest.find(',');
    int32_t v = 0;
    if (!StrictTextToInt(TrimBlankView(rest.substr(0, comma)), v) || v < 0 || v > 255) break;
    values[n++] = static_cast<uint8_t>(v);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }

  const size_t unit = static_cast<size_t>(fontHeightBytes) * static_cast<size_t>(channelCount);
  const size_t chunk = PictureChunkSize(fontHeightBytes, channelCount);
  if (n == 0 || n % unit != 0) return 0;
  if (n + 4 * (n / chunk + 1) > room) return 0;

  size_t written = 0;
  for (size_t done = 0; done < n;) {
    const size_t k = std::min(n - done, chunk);
    out[written + 0] = 0x00;
    out[written + 1] = static_cast<uint8_t>(k + 2);
    out[written + 2] = 0x00;
    out[written + 3] = static_cast<uint8_t>(RecordCode::Img);
    std::memcpy(out + written + 4, values + done, k);
    written += 4 + k;
    done += k;
  }
  return written;
}

}  // namespace

const RecordInfo* FindRecordInfo(uint8_t code) {
  for (const RecordInfo& info : kRecords)
    if (static_cast<uint8_t>(info.code) == code) return &info;
  return nullptr;
}

size_t PictureChunkSize(int fontHeightBytes, int channelCount) {
  const size_t unit = static_cast<size_t>(ClampInt(fontHeightBytes, 1, 4)) *
                      static_cast<size_t>(ClampInt(channelCount, 1, 8));
  return (kPictureChunkLimit / unit) * unit;
}

int BlankColumnsPerRecord(int fontHeightBytes) { return 255 / ClampInt(fontHeightBytes, 1, 4); }

size_t EncodeTag(std::string_view name, std::string_view args, std::string_view /*extra*/,
                 uint8_t* out, size_t room, int fontHeightBytes, int channelCount) {
  fontHeightBytes = ClampInt(fontHeightBytes, 1, 4);
  channelCount = ClampInt(channelCount, 1, 8);
  if (out == nullptr) room = 0;

  if (name == "PAR") {
    static constexpr uint8_t kTmpl[8] = {0x00, 0x06, 0x02, 0x05, 0x00, 0x00, 0x00, 0x00};
    const ArgItems<2> a(args);
    if (!PutRecord(out, room, kTmpl, 8)) return 0;
    out[5] = static_cast<uint8_t>(a.Value(1));  // reserved width in pixels
    out[7] = static_cast<uint8_t>(a.Value(0));  // kind of live value
    return 8;
  }
  if (name == "IMG") return EncodePicture(args, out, room, fontHeightBytes, channelCount);
  if (name == "PAUSE") {
    static constexpr uint8_t kTmpl[7] = {0x00, 0x05, 0x01, 0x03, 0x01, 0x00, 0x00};
    if (!PutRecord(out, room, kTmpl, 7)) return 0;
    // The whole argument text is one number: "1,5" reads as 105.
    PutDuration(out, Duration(ParseInBase(TrimBlankView(args), 10), false));
    return 7;
  }
  if (name == "BLINK") {
    static constexpr uint8_t kTmpl[8] = {0x00, 0x06, 0x01, 0x04, 0x00, 0x00, 0x00, 0x00};
    const ArgItems<2> a(args);
    if (!PutRecord(out, room, kTmpl, 8)) return 0;
    PutDuration(out, Duration(a.Value(0), true));
    out[7] = static_cast<uint8_t>(a.Value(1));  // blink mask
    return 8;
  }
  if (name == "JMP" || name == "FRAME") {
    const uint8_t code = static_cast<uint8_t>(name == "JMP" ? RecordCode::Jmp : RecordCode::Frame);
    const uint8_t tmpl[7] = {0x00, 0x05, 0x01, code, 0x00, 0x00, 0x00};
    const ArgItems<2> a(args);
    if (!PutRecord(out, room, tmpl, 7)) return 0;
    PutDuration(out, Duration(a.Value(0), true));
    out[4] = static_cast<uint8_t>(a.Value(1));  // stop flag
    return 7;
  }
  if (name == "SPD") {
    static constexpr uint8_t kTmpl[7] = {0x00, 0x05, 0x01, 0x08, 0x00, 0x00, 0xFF};
    uint8_t speed = static_cast<uint8_t>(ArgItems<1>(args).Value(0));
    if (speed == 0) speed = 1;
    if (!PutRecord(out, room, kTmpl, 7)) return 0;
    out[5] = speed;
    return 7;
  }
  if (name == "SP") return EncodeBlankColumns(args, out, room, fontHeightBytes);

  // The one-parameter records: 00 03 00 code value.
  uint8_t code = 0, value = 0;
  if (name == "FONT") {
    code = static_cast<uint8_t>(RecordCode::Font);
    value = static_cast<uint8_t>(ArgItems<1>(args).Value(0));
  } else if (name == "INV") {
    code = static_cast<uint8_t>(RecordCode::Inv);
    value = ArgItems<1>(args).Value(0) != 0 ? 1 : 0;
  } else if (name == "BCOL") {
    code = static_cast<uint8_t>(RecordCode::BCol);
    value = static_cast<uint8_t>(ArgItems<1>(args).Value(0));
  } else if (name == "FCOL") {
    code = static_cast<uint8_t>(RecordCode::FCol);
    value = static_cast<uint8_t>(ArgItems<1>(args).Value(0, "1"));  // text colour 1 by default
  }
  if (code != 0) {
    const uint8_t tmpl[5] = {0x00, 0x03, 0x00, code, value};
    return PutRecord(out, room, tmpl, 5);
  }

  if (name == "EFF") {
    static constexpr uint8_t kTmpl[12] = {0x00, 0x0A, 0x01, 0x0D, 0x01, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const ArgItems<5> a(args);
    if (!PutRecord(out, room, kTmpl, 12)) return 0;
    const uint8_t type = static_cast<uint8_t>(a.Value(0));
    out[5] = type;
    PutDuration(out, Duration(a.Value(1), true));
    out[9] = static_cast<uint8_t>(a.Value(2));   // preliminary pause (low byte only)
    out[10] = static_cast<uint8_t>(a.Value(3));  // speed reduction
    // Only the two sliding effects have a fragment size.
    out[11] = (type == 2 || type == 3) ? static_cast<uint8_t>(a.Value(4)) : 0;
    return 12;
  }
  return 0;
}

}  // namespace lentar
