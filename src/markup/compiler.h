// The board data compiler: editor text to the board data image.
//
// The image is what the board receives: the Windows-1251 text bytes with
// command records in place of the tags. It has no header, length field,
// checksum or end marker; its length travels beside it. Its size is limited by
// the board's data memory (the OutDataSize setting).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lentar {

struct CompileResult {
  bool ok = false;             // false only when the image is larger than the limit
  std::vector<uint8_t> image;  // filled in either case
  size_t length() const { return image.size(); }
};

// Folds line breaks, decodes entities, and replaces each tag by its record.
// fontHeightBytes (1..4) and channelCount (1..8) shape the blank-column and
// picture records. An image of exactly maxSize bytes is accepted. Nothing is
// shown to the operator: the caller reports a failure with DataSizeMessage.
CompileResult CompileBoardData(std::string_view text, int fontHeightBytes, int channelCount,
                               size_t maxSize);

// The operator's message for an image that is too large (Windows-1251):
// "Размер данных (<length>) превышает максимальный размер!".
std::string DataSizeMessage(size_t length);
// The same, naming the limit and where it comes from (source, Windows-1251,
// such as the settings file's path), for the front ends that have no window
// to point at: "Размер данных (<length>) превышает максимальный размер!
// Наибольший размер: <limit> байт (<source>)."
std::string DataSizeMessage(size_t length, size_t limit, std::string_view source);

}  // namespace lentar
