// Keyboard layout correction: per input language, which byte a key must type
// and which byte a pasted Unicode character becomes.
//
// The board shows single-byte Windows-1251 characters and those of its own
// fonts, while operators type with whatever keyboard layout their system has
// (national layouts whose letters the code page lacks or puts elsewhere).
// One rule list per input language lives in a layout file "*.lng" in the
// folder Langs. The file is an INI text in Windows-1251 with CR LF lines:
//
//   [Settings]
//   LangID=1049
//   KeyCount=1
//
//   [Keys]
//   KeyParams1=65,192,2,1040
//
// KeyParams i holds the key code, the byte, the shift state and the Unicode
// unit, in this order. LangID is the 16-bit Windows language identifier (1049
// Russian); a file without one is no layout file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/classlist.h"

namespace lentar {

// Shift states of a rule.
inline constexpr int32_t kShiftReleased = 0;  // upper-case state off
inline constexpr int32_t kShiftPressed = 1;   // upper-case state on
inline constexpr int32_t kShiftAny = 2;       // either state

// One rule.
struct TReplaceChar {
  int32_t KeyCode = 0;             // Windows virtual key code (1..255 when edited)
  int32_t ShiftState = kShiftAny;  // kShiftReleased, kShiftPressed, else any state
  int32_t CharCode = 0;            // the byte (0..255) to type
  uint16_t Unicode = 0;            // the UTF-16 unit that pastes as this byte; 0: none
  bool operator==(const TReplaceChar&) const = default;
};

// The rules of one input language, in file order.
class TReplaceCharList : public TClassList<TReplaceChar> {
 public:
  int32_t LangID = 0;    // 0: no language, the list is not valid
  std::string FileName;  // full path it was loaded from or last saved to

  // Appends a rule with ShiftState kShiftAny and every other field 0.
  TReplaceChar* AddRule();
  // The byte of the first rule for the key whose shift state is kShiftAny or
  // equals upper (0 or 1); 0 when none.
  int FindByKey(int32_t keyCode, int upper) const;
  // The byte of the first rule whose Unicode equals unit; 0 when none (a zero
  // unit never matches: 0 marks a rule without one).
  int FindByUnicode(char16_t unit) const;
  // Empties the list, then copies LangID and every rule (not FileName).
  void Assign(const TReplaceCharList& source);

  // Reads a layout file (a missing file reads as empty). Entries whose key
  // and byte are both 0 are skipped. False, with the rules cleared, when the
  // file has no usable LangID; FileName is set to path on success.
  bool LoadFromFile(const std::string& path);
  // Reads the layout from the file's bytes, as LoadFromFile does.
  bool LoadFromText(std::string_view bytes);
  // The file image, byte for byte as it is written.
  std::string ToText() const;
  // Replaces the file at path atomically. On success FileName = path; on
  // failure FileName stays and the old file is whole.
  bool SaveToFile(const std::string& path);
};

// The loaded layout files, in the order they were found. The program has one
// instance, made when the main window is created; the free-text window shares it.
class TReplaceDefines : public TClassList<TReplaceCharList> {
 public:
  // Empties the list and loads every "*.lng" file of folder (in name order);
  // files that are not layout files are left out. False only when the folder
  // cannot be listed.
  bool LoadFolder(const std::string& folder);
  // Appends a new empty list.
  TReplaceCharList* AddList();
  // The list of the language (the first one loaded, when several are), or
  // nullptr.
  const TReplaceCharList* ListOf(uint16_t languageId) const;
  // The byte a key types in the language: the first list of that language
  // answers (FindByKey); 0 when no list has the language or no rule fits.
  int FindChar(uint16_t languageId, int32_t keyCode, int upper) const;
  // Pasted UTF-16 text in Windows-1251. With no list loaded, the plain code
  // page conversion; with one, that list whatever its language; with several,
  // the list of the language, else the first loaded. Each unit becomes the
  // byte of its rule, else its code page byte ("?" for characters the code
  // page lacks; a surrogate pair is one character and one "?").
  std::string RecodeText(uint16_t languageId, std::u16string_view text) const;
};

}  // namespace lentar
