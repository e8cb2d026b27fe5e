// The seam between the project object (core) and the board font bank (markup).
//
// The project's parameters (ProjectBase) drive the font bank through this
// interface; the real bank, TTabFontList, lives in the markup layer together
// with the font archive reader, and so does the project object that owns it
// (TRecProject), so core stays free of font details.
#pragma once

#include <string>

namespace lentar {

class FontBankBase {
 public:
  virtual ~FontBankBase() = default;

  // Replaces the bank's fonts with those of the archive at path. On failure
  // returns false and sets error to the message to show (it may be empty when
  // the message was already given); the bank then holds what was read so far.
  virtual bool LoadArchive(const std::string& path, std::string& error) = 0;
  // Font height in bytes of 8 pixel rows (1..4) that selection works in.
  virtual void SetHeight(int heightBytes) = 0;
  // Selects font number n of the current height, with the bank's fallback
  // when that font does not exist.
  virtual void SelectFont(int number) = 0;
};

}  // namespace lentar
