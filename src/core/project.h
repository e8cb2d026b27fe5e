// The project's board parameters, and the rules that tie them to the font bank.
//
// ProjectBase holds what every window shares: its values come from the
// settings record (LoadFromSettings) at every start and after the settings
// dialog; it is never written anywhere itself. The set text is not part of it:
// each window hands its own editor text to the compiler together with
// FontHeight and ColorChannelCount. It drives the font bank only through the
// FontBankBase seam; the project object the program uses, TRecProject
// (markup/project.h), adds the real bank on top.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/classlist.h"
#include "core/fontbank.h"
#include "core/settings.h"

namespace lentar {

class ProjectBase {
 public:
  // The bank is not owned and must outlive the project's use of it. A null
  // bank is allowed: font calls then do nothing and LoadFonts fails.
  explicit ProjectBase(FontBankBase* fonts);
  ProjectBase(const ProjectBase&) = delete;
  ProjectBase& operator=(const ProjectBase&) = delete;
  ~ProjectBase();

  // The message records: always empty.
  TRecList Records;
  // Default board font within the current font height (setting DefFont).
  int32_t DefaultFont = 0;
  // Name under which the loader window stores the compiled data; empty at
  // start-up, changed only by the loader window, never saved.
  std::string LoaderBlockName;
  // Glyph height in bytes of 8 pixel rows, 1..4; the compiler's font height.
  int32_t FontHeight = 1;
  // Path of the font archive the bank is loaded from.
  std::string FontArchive;

 private:
  FontBankBase* fonts_;

 public:
  // Message of the last failed font archive load; empty after a good one.
  std::string FontError;
  // Board length in pixel columns (setting DispLen).
  int32_t DisplayLength = 8;
  // Colour channels per pixel, 1..8.
  int32_t ColorChannelCount = 1;
  // Screen colour of channels 1..8 (red in the low byte), as the emulation
  // draws them.
  std::array<uint32_t, 8> ChannelColors{};
  // Telephone number the board window dials through the modem (setting DialNo).
  std::string DialNumber;

  // The font bank the project drives (nullptr when it has none).
  FontBankBase* Fonts() const { return fonts_; }

  // Empties Records and copies DefFont, the font archive (DefFontArc, or the
  // archive that ships with the program in FontsFolder() when none is set),
  // DispLen, ColorChannelCount, ChannelColors and DialNo; applies
  // DefFontHeight through SetFontHeight. Does not reload the fonts.
  void LoadFromSettings(const TSettings& settings);
  // Reads the archive named by FontArchive into the bank. On failure FontError
  // holds the message to show and the result is false; the bank keeps what it
  // could read.
  bool LoadFonts();
  // Stores the number and makes the bank select that font (with the bank's
  // fallback when the number does not exist at the current height).
  void SetDefaultFont(int32_t number);
  // Stores n forced into 1..4 and hands it to the bank.
  void SetFontHeight(int32_t n);
  void SetLoaderBlockName(const std::string& name) { LoaderBlockName = name; }
};


}  // namespace lentar
