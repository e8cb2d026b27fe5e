#include "core/project.h"

#include <algorithm>

#include "core/paths.h"

namespace lentar {

namespace {

constexpr Cp1251Literal kNoFontBankMessage(u8"Шрифты не загружены: нет банка шрифтов");

}  // namespace

ProjectBase::ProjectBase(FontBankBase* fonts) : fonts_(fonts) {
  std::copy(kDefaultChannelColors.begin(), kDefaultChannelColors.end(), ChannelColors.begin());
}

ProjectBase::~ProjectBase() = default;

void ProjectBase::LoadFromSettings(const TSettings& settings) {
  Records.ClearItems();
  DefaultFont = settings.DefFont;
  FontArchive = settings.DefFontArc.empty() ? DefaultFontArchivePath() : settings.DefFontArc;
  DisplayLength = settings.DispLen;
  ColorChannelCount = settings.ColorChannelCount;
  for (size_t i = 0; i < ChannelColors.size(); ++i) {
    ChannelColors[i] = static_cast<uint32_t>(settings.ChannelColors[i]);
  }
  DialNumber = settings.DialNo;
  SetFontHeight(settings.DefFontHeight);
}

bool ProjectBase::LoadFonts() {
  if (!fonts_) {
    FontError = kNoFontBankMessage.view();
    return false;
  }
  std::string error;
  if (!fonts_->LoadArchive(FontArchive, error)) {
    FontError = error;
    return false;
  }
  FontError.clear();
  return true;
}

void ProjectBase::SetDefaultFont(int32_t number) {
  DefaultFont = number;
  if (fonts_) fonts_->SelectFont(number);
}

void ProjectBase::SetFontHeight(int32_t n) {
  FontHeight = std::clamp(n, 1, 4);
  if (fonts_) fonts_->SetHeight(FontHeight);
}

}  // namespace lentar
