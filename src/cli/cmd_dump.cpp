// lentar-cli dump: lists a board data image the way the board reads it, so
// that an operator can see what a board received.
#include <cstdio>

#include "cli/cli_common.h"
#include "core/textutil.h"
#include "markup/imagedump.h"

namespace lentar::cli {

namespace {

constexpr const char* kCommand = "dump";

void PrintHelp() {
  std::printf(
      "Usage: lentar-cli dump IMAGE\n"
      "\n"
      "Lists a board data image (.bin), one line per text run or command record:\n"
      "the offset, then e.g. 'TEXT 5 bytes: \"AB CD\"', 'PAUSE 300', 'SP 255',\n"
      "'IMG 120 bytes'. Bytes that do not parse as records are flagged as\n"
      "'UNPARSABLE n bytes: ...'.\n"
      "\n"
      "Exit status: 0 every byte parsed, 1 unreadable file or unparsable bytes\n"
      "found, 2 usage error.\n");
}

// Text of a run for the terminal: UTF-8, in quotes, control bytes, quotes and
// backslashes escaped.
std::string QuotedText(const uint8_t* p, size_t n) {
  std::string plain;
  std::string out = "\"";
  auto flush = [&] {
    out += Cp1251ToUtf8(plain);
    plain.clear();
  };
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = p[i];
    if (c < 0x20 || c == '"' || c == '\\' || c == 0x7F) {
      flush();
      char esc[8];
      if (c == '"' || c == '\\')
        std::snprintf(esc, sizeof esc, "\\%c", c);
      else
        std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    } else {
      plain += static_cast<char>(c);
    }
  }
  flush();
  return out + "\"";
}

}  // namespace

int RunDump(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(args, {}, error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.size() != 1)
    return UsageError(kCommand, parsed->positional.empty() ? "no image file given"
                                                           : "more than one image file given");
  std::string bytes;
  int status = kExitOk;
  if (!ReadInputFile(kCommand, parsed->positional[0], bytes, status, kMaxImageFileSize))
    return status;

  const auto* image = reinterpret_cast<const uint8_t*>(bytes.data());
  const std::vector<ImageEntry> entries = ReadBoardImage(image, bytes.size());
  size_t texts = 0, records = 0, bad = 0;
  for (const ImageEntry& e : entries) {
    std::string line = DescribeImageEntry(e, image);
    switch (e.kind) {
      case ImageEntry::Kind::Text:
        ++texts;
        line += ": " + QuotedText(image + e.offset, e.size);
        break;
      case ImageEntry::Kind::Record:
        ++records;
        break;
      case ImageEntry::Kind::Unparsable:
        ++bad;
        break;
    }
    std::printf("%6zu  %s\n", e.offset, line.c_str());
  }
  std::printf("%zu bytes: %zu text runs, %zu records, %zu unparsable ranges\n", bytes.size(),
              texts, records, bad);
  return bad == 0 ? kExitOk : kExitRefused;
}

}  // namespace lentar::cli
