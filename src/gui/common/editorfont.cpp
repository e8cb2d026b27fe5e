#include "gui/common/editorfont.h"

#include "core/settings.h"
#include "gui/common/messages.h"

namespace lentar::gui {

QFont& EditorFont() {
  static QFont font;
  return font;
}

void ApplyEditorFont(const TSettings& settings) {
  QFont& font = EditorFont();
  font.setFamily(FromBoardText(settings.FontName));
  font.setPointSize(settings.FontSize > 0 ? settings.FontSize : 1);
  font.setBold((settings.FontStyle & 1) != 0);
  font.setItalic((settings.FontStyle & 2) != 0);
  font.setUnderline((settings.FontStyle & 4) != 0);
  font.setStrikeOut((settings.FontStyle & 8) != 0);
  // FontCharSet (204, Cyrillic, by default) only chose a glyph set for the old
  // font mapper; Qt fonts are Unicode and cover Cyrillic whatever its value,
  // so it is kept in the settings and written back but needs no mapping here.
}

}  // namespace lentar::gui
