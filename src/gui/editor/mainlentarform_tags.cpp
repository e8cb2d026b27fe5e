// The main window's tag buttons that open the tag dialogs: "Параметр",
// "Эффект", "Цвет", "Символы" and "Изображение".
#include <QTextCursor>
#include <algorithm>

#include "core/project.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/editor/imgform.h"
#include "gui/editor/mainlentarform.h"
#include "gui/editor/settextedit.h"
#include "gui/markup/colorform.h"
#include "gui/markup/effform.h"
#include "gui/markup/parsetform.h"
#include "gui/markup/symbviewform.h"
#include "markup/fonts.h"
#include "markup/tags.h"

namespace lentar::gui {

namespace {

// Shows the tag being edited selected while its dialog is open.
void SelectTarget(SetTextEdit& memo, const EditTarget& target) {
  if (!target.tagFound) return;
  QTextCursor select = memo.textCursor();
  select.setPosition(target.start);
  select.setPosition(target.end, QTextCursor::KeepAnchor);
  memo.setTextCursor(select);
}

// The font number in force at position: that of the nearest complete FONT
// tag before it, else the default font.
int FontInForce(const std::string& text, int position) {
  const TagLocation tag = FindTagBefore(text, "FONT", position);
  if (tag.found && tag.openPos >= 1 && tag.closePos >= tag.openPos &&
      static_cast<size_t>(tag.closePos) <= text.size()) {
    const SplitTagResult split = SplitTag(
        std::string_view(text).substr(static_cast<size_t>(tag.openPos - 1),
                                      static_cast<size_t>(tag.closePos - tag.openPos + 1)));
    if (split.ok) {
      return static_cast<int>(std::clamp<int64_t>(TextToInt(split.parts.args), INT32_MIN, INT32_MAX));
    }
  }
  return Settings().DefFont;
}

}  // namespace

void TMainLentarForm::ParameterButtonClick() {
  TTabFontList* bank = FontBank();
  if (!bank) return;
  const int fontNumber = FontInForce(memo_->BoardText(), memo_->textCursor().position());
  const EditTarget target = FindEditTarget(*memo_, "PAR");
  SelectTarget(*memo_, target);
  const std::string tag = EditParameterTag(this, *bank, fontNumber, target.text);
  if (tag.empty()) return;
  const int caret = target.tagFound ? target.start + 3 : target.start + static_cast<int>(tag.size());
  memo_->ReplaceRange(target.start, target.end, tag, caret);
}

void TMainLentarForm::EffectButtonClick() {
  const EditTarget target = FindEditTarget(*memo_, "");
  SelectTarget(*memo_, target);
  const std::string tag = EditEffectTag(this, target.text);
  if (tag.empty()) return;
  memo_->ReplaceRange(target.start, target.end, tag, target.start + 3);
}

void TMainLentarForm::ColorButtonClick() {
  const EditTarget target = FindEditTarget(*memo_, "");
  SelectTarget(*memo_, target);
  const std::string tag =
      EditColorTag(this, project_.ColorChannelCount, project_.ChannelColors, target.text);
  if (tag.empty()) return;
  memo_->ReplaceRange(target.start, target.end, tag, target.start + 3);
}

void TMainLentarForm::SymbolsButtonClick() {
  TTabFontList* bank = FontBank();
  if (!bank) return;
  // Symbols are always inserted: in place of the selection, else at the caret.
  const QTextCursor cursor = memo_->textCursor();
  const int start = cursor.selectionStart();
  const int end = cursor.selectionEnd();
  const std::string text = ChooseSymbols(this, *bank, QStringLiteral("Вставить символы"));
  if (text.empty()) return;
  memo_->ReplaceRange(start, end, text, start + static_cast<int>(text.size()));
}

void TMainLentarForm::PictureButtonClick() {
  const EditTarget target = FindEditTarget(*memo_, "IMG");
  SelectTarget(*memo_, target);
  std::string tag = target.text;
  const TSettings& settings = Settings();
  if (!EditPicture(this, tag, settings.DefFontHeight, settings.ColorChannelCount, settings.ChannelColors))
    return;
  memo_->ReplaceRange(target.start, target.end, tag, target.start + 3);
}

}  // namespace lentar::gui
