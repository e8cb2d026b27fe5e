// DecodeEntities and NormalizeText against plain reference versions written
// straight from the rules: line breaks fold into single spaces, "&#N;" with N a
// standard integer in 0..255 becomes that byte, everything else stays.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/textutil.h"
#include "fuzz_check.h"
#include "markup/tags.h"

namespace {

std::string ReferenceDecode(std::string_view text) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    const size_t start = text.find("&#", pos);
    if (start == std::string_view::npos) break;
    const size_t end = text.find(';', start + 2);
    if (end == std::string_view::npos) break;
    int32_t value = 0;
    const std::string content = lentar::TrimBlanks(text.substr(start + 2, end - start - 2));
    out.append(text.substr(pos, start - pos));
    if (lentar::StrictTextToInt(content, value) && value >= 0 && value <= 255)
      out += static_cast<char>(value);
    else
      out.append(text.substr(start, end + 1 - start));
    pos = end + 1;
  }
  out.append(text.substr(pos));
  return out;
}

std::string ReferenceFold(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      if (!out.empty() && out.back() == ' ') continue;
      c = ' ';
    }
    out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string decoded = lentar::DecodeEntities(text);
  CHECK(decoded.size() <= text.size());
  CHECK(decoded == ReferenceDecode(text));
  if (text.find("&#") == std::string_view::npos) CHECK(decoded == text);

  const std::string normalized = lentar::NormalizeText(text);
  CHECK(normalized == ReferenceDecode(ReferenceFold(text)));
  return 0;
}
