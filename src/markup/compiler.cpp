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

}  // namespace lentar
