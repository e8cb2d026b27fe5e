// The main window's commands that open the shared dialogs: passwords, the
// font bank, the about box and the preview.
#include <QStringList>
#include <QTextCursor>
#include <algorithm>
#include <optional>

#include "comm/loaderprotocol.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/about/aboutform.h"
#include "gui/common/dialogs.h"
#include "gui/common/editorfont.h"
#include "gui/common/messages.h"
#include "gui/control/loadform.h"
#include "gui/control/pswform.h"
#include "gui/control/setupform.h"
#include "gui/editor/editorcommands.h"
#include "gui/editor/mainlentarform.h"
#include "gui/editor/settextedit.h"
#include "gui/editor/textform.h"
#include "gui/layouts/langform.h"
#include "gui/markup/bankform.h"
#include "gui/markup/rform.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "markup/tags.h"

namespace lentar::gui {


void TMainLentarForm::PasswordsClick() {
  const int slot = ChoosePasswordSlot(this, Settings().Password,
                                      QStringLiteral("Номер изменяемого пароля?"), QString());
  ChangeStoredPassword(this, slot);
}

void TMainLentarForm::ShowLoader() {
  const CompileResult image = CompileEditorText(true);
  if (image.ok) ShowLoaderWindow(image.image.data(), image.length(), project_, loaderSession_, this);
}

void TMainLentarForm::LoaderMenuClick() {
  ShowLoader();
  comm::CloseLoaderPort(loaderSession_);
}

void TMainLentarForm::LoaderButtonClick() { ShowLoader(); }

void TMainLentarForm::SettingsClick(int page) {
  // The dialog reloads the project and its fonts itself when confirmed; the
  // editor font follows the settings whatever the answer.
  ShowSettings(this, project_, page);
  ApplyEditorFont(Settings());
  memo_->setFont(EditorFont());
}

void TMainLentarForm::FontBankClick() {
  ShowFontBank(this, project_.Fonts(), BankFormMode::Browse, project_.DefaultFont);
}

void TMainLentarForm::FontButtonClick() { FontCommand(this, *memo_, project_); }

void TMainLentarForm::AboutClick() { ShowAbout(this); }

void TMainLentarForm::LayoutsClick() { ManageLayouts(this, *corrections_); }

void TMainLentarForm::FreeTextClick() {
  EditFreeText(this, project_, corrections_.get(), Settings().FreeText);
}

void TMainLentarForm::PreviewClick() { preview_->Run(SetText(), project_, true); }

}  // namespace lentar::gui
