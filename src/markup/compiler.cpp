#include "markup/compiler.h"

#include "core/textutil.h"
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
  static constexpr Cp1251Literal kBefore(u8"Размер данных (");
  static constexpr Cp1251Literal kAfter(u8") превышает максимальный размер!");
  return kBefore.c_str() + std::to_string(length) + kAfter.c_str();
}

std::string DataSizeMessage(size_t length, size_t limit, std::string_view source) {
  static constexpr Cp1251Literal kLimit(u8" Наибольший размер: ");
  static constexpr Cp1251Literal kBytes(u8" байт");
  std::string message = DataSizeMessage(length) + kLimit.c_str() + std::to_string(limit) +
                        kBytes.c_str();
  if (!source.empty()) message += " (" + std::string(source) + ")";
  return message + ".";
}

}  // namespace lentar
