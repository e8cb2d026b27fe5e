// The project object: the board parameters every window shares, and the font
// bank it owns.
//
// One TRecProject exists from start-up to exit. The parameters and the rules
// that keep the bank's selection in step with them (font height, default
// font, loading the archive) are ProjectBase's; this class adds the bank
// itself, typed, so the windows, the compiler and the emulation reach the
// fonts directly.
#pragma once

#include <memory>

#include "core/project.h"
#include "markup/fonts.h"

namespace lentar {

class TRecProject : public ProjectBase {
 public:
  // Starts with an empty bank; LoadFonts fills it from FontArchive.
  TRecProject();
  ~TRecProject();

  // The owned font bank. Loading, the height and the default font go through
  // the project (LoadFonts, SetFontHeight, SetDefaultFont) so that its
  // parameters and the bank's selection agree.
  TTabFontList& Fonts() const { return *fonts_; }

 private:
  explicit TRecProject(std::unique_ptr<TTabFontList> fonts);

  std::unique_ptr<TTabFontList> fonts_;  // freed before the parameters
};

}  // namespace lentar
