#include "markup/compiler.h"

#include "markup/encoder.h"
#include "markup/tags.h"

namespace lentar {

CompileResult CompileBoardData(std::string_view text, int fontHeightBytes, int channelCount,
                               size_t maxSize) {
  const std::string normalized = NormalizeText(text);
  CompileResult result;
  result.image =
      ScanTags(normalized, kTagOpen, kTagClose, &EncodeTag, fontHeightBytes, channelCount).bytes;
  result.ok = result.image.size() <= maxSize;
  return result;
}

std::string DataSizeMessage(size_t length) {
  // "Размер данных (" and ") превышает максимальный размер!" in Windows-1251.
  static constexpr char kBefore[] = "\xD0\xE0\xE7\xEC\xE5\xF0 \xE4\xE0\xED\xED\xFB\xF5 (";
  static constexpr char kAfter[] =
      ") \xEF\xF0\xE5\xE2\xFB\xF8\xE0\xE5\xF2 \xEC\xE0\xEA\xF1\xE8\xEC\xE0\xEB\xFC\xED\xFB\xE9 "
      "\xF0\xE0\xE7\xEC\xE5\xF0!";
  return kBefore + std::to_string(length) + kAfter;
}

}  // namespace lentar
