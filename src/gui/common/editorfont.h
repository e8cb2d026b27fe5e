// The shared editor font: one object created at start-up, set from the
// settings (face, size, style bits, character set) and copied by the editors.
#pragma once

#include <QFont>

namespace lentar {
struct TSettings;
}

namespace lentar::gui {

QFont& EditorFont();
// Sets the shared font from FontName, FontSize, FontStyle (1 bold, 2 italic,
// 4 underline, 8 strike-out) and FontCharSet.
void ApplyEditorFont(const TSettings& settings);

}  // namespace lentar::gui
