// The main window's commands that open the shared dialogs: passwords, the
// font bank, the about box and the preview.
#include <QStringList>
#include <QTextCursor>
#include <algorithm>
#include <optional>

#include "core/project.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/about/aboutform.h"
#include "gui/common/dialogs.h"
#include "gui/common/messages.h"
#include "gui/control/loadform.h"
#include "gui/control/pswform.h"
#include "gui/editor/mainlentarform.h"
#include "gui/editor/settextedit.h"
#include "gui/layouts/langform.h"
#include "gui/markup/bankform.h"
#include "gui/markup/rform.h"
#include "markup/fonts.h"
#include "markup/tags.h"

namespace lentar::gui {

void TMainLentarForm::StopPreview() {
  if (auto* window = static_cast<TRForm*>(emulation_.data())) window->RequestStop();
}

void TMainLentarForm::PasswordsClick() {
  const int slot = ChoosePasswordSlot(this, Settings().Password,
                                      QStringLiteral("Номер изменяемого пароля?"), QString());
  ChangeStoredPassword(this, slot);
}

void TMainLentarForm::ShowLoader() {
  const CompileResult image = CompileEditorText(true);
  if (image.ok) ShowLoaderWindow(image.image.data(), image.length(), project_, this);
}

void TMainLentarForm::LoaderMenuClick() {
  ShowLoader();
  CloseLoaderPort();
}

void TMainLentarForm::LoaderButtonClick() { ShowLoader(); }

void TMainLentarForm::FontBankClick() {
  if (TTabFontList* bank = FontBank()) {
    ShowFontBank(this, *bank, BankFormMode::Browse, project_.DefaultFont);
  }
}

void TMainLentarForm::FontButtonClick() {
  TTabFontList* bank = FontBank();
  if (!bank) return;
  const EditTarget target = FindEditTarget(*memo_, "FONT");
  int number = Settings().DefFont;
  if (target.tagFound) {
    const int64_t n = TextToInt(SplitTag(target.text).parts.args);
    number = static_cast<int>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));
    QTextCursor select = memo_->textCursor();
    select.setPosition(target.start);
    select.setPosition(target.end, QTextCursor::KeepAnchor);
    memo_->setTextCursor(select);
  }
  const std::optional<int> chosen =
      ShowFontBank(this, *bank, BankFormMode::ChooseWithRestore, number);
  if (!chosen || *chosen < 0) return;
  const std::string tag = "{[Font:" + std::to_string(*chosen) + "]}";
  const int caret = target.tagFound ? target.start + 3 : target.start + static_cast<int>(tag.size());
  memo_->ReplaceRange(target.start, target.end, tag, caret);
}

void TMainLentarForm::AboutClick() { ShowAbout(this); }

void TMainLentarForm::LayoutsClick() { ManageLayouts(this, *corrections_); }

void TMainLentarForm::ShowEmulation() {
  auto* window = static_cast<TRForm*>(emulation_.data());
  if (!window) {
    // A window of its own, not a child: the main window is disabled while the
    // preview runs and the emulation window must stay usable.
    window = new TRForm(nullptr);
    emulation_ = window;
    connect(window, &TRForm::closed, this, [this, window] {
      if (emulation_ == window) emulation_ = nullptr;
      if (previewRunning_) {
        closedEmulation_ = window;
      } else {
        window->deleteLater();
      }
    });
  }
  window->show();
  window->SetBoard(project_.DisplayLength, project_.FontHeight, project_.ChannelColors,
                   project_.ColorChannelCount);
  window->Reset();
  window->raise();
  window->activateWindow();
}

void TMainLentarForm::PreviewClick() {
  TTabFontList* bank = FontBank();
  if (!bank) return;
  const TSettings& settings = Settings();
  setEnabled(false);
  previewRunning_ = true;
  try {
    project_.SetDefaultFont(settings.DefFont);
    bank->Reselect();
    ShowEmulation();
    RunEmulation(SetText(), settings.Speed, settings.DispLen,
                 static_cast<TRForm*>(emulation_.data()), project_.ColorChannelCount,
                 project_.ChannelColors, *bank, settings);
  } catch (...) {
    // A failing preview must not take the editor and its unsaved set with it.
  }
  previewRunning_ = false;
  if (closedEmulation_) closedEmulation_->deleteLater();
  closedEmulation_ = nullptr;
  setEnabled(true);
  bank->Reselect();
}

}  // namespace lentar::gui
