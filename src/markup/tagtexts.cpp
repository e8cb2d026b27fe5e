#include "markup/tagtexts.h"

#include "core/textutil.h"
#include "markup/fonts.h"

namespace lentar {

std::vector<int64_t> ReadTagItems(std::string_view args, size_t count) {
  std::vector<int64_t> values(count, 0);
  const StringList items = SplitByText(args, ",");
  for (size_t i = 0; i < items.size() && i < count; ++i) values[i] = TextToInt(items[i]);
  return values;
}

EffectPage EffectPageOfTag(std::string_view tagName) {
  if (tagName == "BLINK") return EffectPage::Blink;
  if (tagName == "FRAME" || tagName == "JMP") return EffectPage::Frame;
  if (tagName == "SPD") return EffectPage::Speed;
  if (tagName == "INV") return EffectPage::Inversion;
  if (tagName == "EFF") return EffectPage::Visual;
  return EffectPage::Pause;
}

namespace {
std::string N(int64_t v) { return std::to_string(v); }
}  // namespace

std::string PauseTagText(int duration) { return "{[Pause:" + N(duration) + "]}"; }

std::string BlinkTagText(int duration, int mask) {
  return "{[Blink:" + N(duration) + "," + N(mask) + "]}";
}

std::string FrameTagText(bool jump, int duration, bool stop) {
  return std::string(jump ? "{[Jmp:" : "{[Frame:") + N(duration) + "," + (stop ? "1" : "0") +
         "]}";
}

std::string SpeedTagText(int speed) { return "{[Spd:" + N(speed) + "]}"; }

std::string InversionTagText(bool on) { return on ? "{[Inv:1]}" : "{[Inv:0]}"; }

std::string EffectTagText(int type, int duration, int pause, int reduction, int fragment) {
  std::string text = "{[Eff:" + N(type) + "," + N(duration) + "," + N(pause) + "," + N(reduction);
  if (EffectHasFragment(type)) text += "," + N(fragment);
  return text + "]}";
}

std::string ParameterTagText(int kind, int width) {
  return "{[Par:" + N(kind) + "," + N(width) + "]}";
}

std::string ColorTagText(bool background, int value) {
  return std::string(background ? "{[BCol:" : "{[FCol:") + N(value) + "]}";
}

std::string FontTagText(int number) { return "{[Font:" + N(number) + "]}"; }

std::string SymbolEntity(int code) { return "&#" + N(code) + ";"; }

char WidestDigit(const TTabFont* font) {
  char widest = '0';
  int most = -1;
  for (char d = '0'; d <= '9'; ++d) {
    const int bytes = font ? font->GlyphBytes(static_cast<uint8_t>(d)) : kNoFontGlyphBytes;
    if (bytes > most) {
      most = bytes;
      widest = d;
    }
  }
  return widest;
}

std::string ParameterSample(int kind, char d) {
  const std::string dd(2, d);
  switch (kind) {
    case 0: return dd + ":" + dd;
    case 1: return dd + "." + dd + ".200" + d;
    case 2:
    case 3: return "+" + dd;
    case 4: return dd;
    case 5:
    case 6: return std::string(3, d);
    case 7: return dd + "." + d;
    default: return {};
  }
}

int RecommendedParameterWidth(int kind, const TTabFont* font) {
  const int height = font && font->HeightBytes > 0 ? font->HeightBytes : 1;
  return TextBytes(ParameterSample(kind, WidestDigit(font)), font) / height + 2;
}

}  // namespace lentar
