// Quoted settings texts and the code page codecs: whatever the settings file
// holds, reading never crashes, and what the program writes reads back as is.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/textutil.h"

using namespace lentar;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // Any text quotes into one safe line that unquotes to exactly that text.
  const std::string quoted = QuoteText(input);
  for (char c : quoted) Check(static_cast<unsigned char>(c) >= 32);
  bool failed = true;
  Check(UnquoteText(quoted, failed) == input);
  Check(!failed);

  // Whatever decodes cleanly re-encodes to a text that decodes to the same bytes.
  const std::string decoded = UnquoteText(input, failed);
  if (!failed) {
    bool again = true;
    Check(UnquoteText(QuoteText(decoded), again) == decoded);
    Check(!again);
  } else {
    Check(decoded.size() <= input.size());
  }

  // Code page: every byte but the unassigned 0x98 survives UTF-8 and UTF-16;
  // arbitrary bytes read as UTF-8 never crash and never grow.
  std::string expected = input;
  for (char& c : expected)
    if (static_cast<unsigned char>(c) == 0x98) c = '?';
  Check(Utf8ToCp1251(Cp1251ToUtf8(input)) == expected);
  Check(Utf8ToCp1251(input).size() <= input.size());
  if (input.find('\0') == std::string::npos) Check(WideToAnsi(AnsiToWide(input)) == expected);

  // Hex codec round trip.
  std::string back(input.size(), '\0');
  Check(HexToBytes(BytesToHex(data, size), reinterpret_cast<uint8_t*>(back.data()), back.size()) == size);
  Check(back == input);

  // Case tables are inverse on letters.
  const std::string upper = UpperCase(input);
  Check(UpperCase(LowerCase(upper)) == upper);
  Check(ChangeCase(input, 2).size() == input.size());
  return 0;
}
