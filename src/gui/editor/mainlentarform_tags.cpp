// The main window's tag buttons that open the tag dialogs: "Параметр",
// "Эффект", "Цвет", "Символы" and "Изображение" (shared with the free-text
// window).
#include "gui/editor/editorcommands.h"
#include "gui/editor/mainlentarform.h"
#include "gui/editor/settextedit.h"

namespace lentar::gui {

void TMainLentarForm::ParameterButtonClick() { ParameterCommand(this, *memo_, project_); }

void TMainLentarForm::EffectButtonClick() { EffectCommand(this, *memo_); }

void TMainLentarForm::ColorButtonClick() { ColorCommand(this, *memo_, project_); }

void TMainLentarForm::SymbolsButtonClick() { SymbolsCommand(this, *memo_, project_); }

void TMainLentarForm::PictureButtonClick() { PictureCommand(this, *memo_); }

}  // namespace lentar::gui
