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
      "Использование: lentar-cli dump ОБРАЗ\n"
      "\n"
      "Перечисляет образ данных табло (.bin), строка на участок текста или запись\n"
      "команды: смещение, затем, например, 'ТЕКСТ 5 байт: \"AB CD\"', 'PAUSE 300',\n"
      "'SP 255', 'IMG 120 байт'. Байты, которые не разбираются как записи,\n"
      "отмечены как 'НЕ РАЗОБРАНО n байт: ...'.\n"
      "\n"
      "Код выхода: 0 все байты разобраны, 1 файл не читается или найдены\n"
      "неразобранные байты, 2 ошибка вызова.\n");
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
    return UsageError(kCommand, parsed->positional.empty() ? "не указан файл образа"
                                                           : "указано больше одного файла образа");
  std::string bytes;
  int status = kExitOk;
  if (!ReadInputFile(kCommand, parsed->positional[0], bytes, status, kMaxImageFileSize))
    return status;

  const auto* image = reinterpret_cast<const uint8_t*>(bytes.data());
  const std::vector<ImageEntry> entries = ReadBoardImage(image, bytes.size());
  size_t texts = 0, records = 0, bad = 0;
  for (const ImageEntry& e : entries) {
    std::string line = Cp1251ToUtf8(DescribeImageEntry(e, image));
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
  std::printf("%zu %s: участков текста %zu, записей %zu, неразобранных участков %zu\n",
              bytes.size(),
              RussianCountForm(static_cast<long long>(bytes.size()), "байт", "байта", "байт"),
              texts, records, bad);
  return bad == 0 ? kExitOk : kExitRefused;
}

}  // namespace lentar::cli
