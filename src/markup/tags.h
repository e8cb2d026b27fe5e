// The markup tag language of the board text.
//
// The operator writes plain Windows-1251 text with inline tags between "{[" and
// "]}". Before tags are looked for, line breaks are folded into spaces and
// numeric entities ("&#65;") are decoded (NormalizeText). ScanTags then copies
// the plain text byte for byte and hands every tag, split into its name,
// arguments and extra text, to a tag encoder that writes the tag's binary
// command record in its place.
//
// The language has no errors: unknown or malformed tags vanish, bad entities
// and unterminated tags stay as text. Positions used by the editor operations
// (FindTagAt, FindTagBefore) are 1-based byte indexes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lentar {

inline constexpr std::string_view kTagOpen = "{[";
inline constexpr std::string_view kTagClose = "]}";

// The text without its leading and trailing spaces and tabs (only those two).
inline std::string_view TrimBlankView(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  return text.substr(b, e - b);
}

// Prepares editor text for compiling. Every CR or LF becomes one space, unless
// the byte written just before it is already a space (so CR LF gives one space
// and a line break after a space gives nothing); then entities are decoded.
std::string NormalizeText(std::string_view text);

// Replaces every "&#N;" whose trimmed N is a standard integer (decimal, or
// hexadecimal after "$" or "0x", optional sign) in 0..255 by the byte N. Any
// other entity stays as written and scanning goes on after its ";". An "&#"
// with no ";" after it, and everything after it, is kept as it is.
std::string DecodeEntities(std::string_view text);

// Writes the record of one tag at out and returns the number of bytes written,
// 0 for an unknown or rejected tag. It never writes more than room bytes.
//
// Contract with ScanTags, which grows its output on demand: a tag whose body
// is L bytes long needs at most 2 * L + kEncoderSlack bytes, except an encoder
// that stops early because the room ran out; such an encoder fills the room to
// within kEncoderSlack bytes. (Only a blank-column run can grow past the size
// of its own text.)
using TagEncoder = size_t (*)(std::string_view name, std::string_view args,
                              std::string_view extra, uint8_t* out, size_t room,
                              int fontHeightBytes, int channelCount);
inline constexpr size_t kEncoderSlack = 64;

struct ScanResult {
  std::vector<uint8_t> bytes;  // plain text and records, in order
  size_t tagCount = 0;         // tags met, known or not
  size_t textCount = 0;        // plain text bytes copied
};

// Size of the notional work buffer for a text of textLength bytes:
// 20 * textLength + 1024. The encoder of a tag gets the room left in it
// (size - output length - 1); plain text stops being copied once the output
// has reached it. The buffer is only allocated as far as the output needs.
size_t ScanWorkBufferSize(size_t textLength);

// Copies text to the output, replacing every tag from open to the first close
// after it by what encoder writes for it. Tags do not nest; an open with no
// close after it is plain text. Empty open or close: no tags at all.
ScanResult ScanTags(std::string_view text, std::string_view open, std::string_view close,
                    TagEncoder encoder, int fontHeightBytes, int channelCount);

// One tag body (the text between the brackets) split into its parts:
// name = upper-cased text before the first ":" (or before the first "/" when
// there is no ":"); args = text after the ":" up to the first "/" after it;
// extra = text after that "/". Every part is trimmed of spaces and tabs.
struct TagParts {
  std::string name;
  std::string args;
  std::string extra;
};
TagParts SplitTagBody(std::string_view body);

// Splits one tag as a dialog receives it. ok is true when the trimmed text
// starts with "{[" and its first "]}" stands after its third byte; the parts
// are then those of the text between the brackets. Otherwise the whole trimmed
// text is split as a body and ok is false.
struct SplitTagResult {
  bool ok = false;
  TagParts parts;
};
SplitTagResult SplitTag(std::string_view tagText);

// Result of the editor's tag searches: openPos is the 1-based position of the
// tag's "{", closePos that of its "}" (-1 when not found).
struct TagLocation {
  bool found = false;
  int openPos = 0;
  int closePos = -1;
};

// Finds the tag that encloses or precedes position: moving left from position
// (while it is above 0 and below the text length) to the first "{[", then the
// first "]}" at or after it. With a non-empty name the tag's upper-cased body
// must start with the upper-cased name followed (after blanks) by nothing or
// ":".
TagLocation FindTagAt(std::string_view text, std::string_view name, int position);

// Finds the nearest tag of the given name that ends before position (used to
// learn the font in force at the caret): steps left from "]}" to "]}" and tries
// FindTagAt on each.
TagLocation FindTagBefore(std::string_view text, std::string_view name, int position);

}  // namespace lentar
