#include "gui/layouts/langform.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/keyboard.h"
#include "core/paths.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/common/tablegrid.h"
#include "gui/layouts/keyboardinput.h"
#include "gui/layouts/layoutform.h"

namespace lentar::gui {

TLangForm::TLangForm(TReplaceDefines& defines, QWidget* parent)
    : QDialog(parent), defines_(defines) {
  setObjectName(QStringLiteral("LangForm"));
  setWindowTitle(QStringLiteral("Корректируемые раскладки ввода"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  grid_ = new TTableGrid(this);
  grid_->setObjectName(QStringLiteral("StringGrid1"));
  grid_->SetColumnCount(2);
  const int permille[2] = {400, 600};
  grid_->SetColumnPermille(permille, 1);
  grid_->SetHeaderText(QStringLiteral("Язык ввода\nФайл"));
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setMinimumSize(420, 200);

  auto* addButton = new QPushButton(QStringLiteral("Добавить"), this);
  addButton->setObjectName(QStringLiteral("Button1"));
  auto* editButton = new QPushButton(QStringLiteral("Редактировать"), this);
  editButton->setObjectName(QStringLiteral("Button2"));
  auto* deleteButton = new QPushButton(QStringLiteral("Удалить"), this);
  deleteButton->setObjectName(QStringLiteral("Button3"));
  auto* closeButton = new QPushButton(QStringLiteral("Закрыть"), this);
  closeButton->setObjectName(QStringLiteral("Button4"));

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(addButton);
  buttons->addWidget(editButton);
  buttons->addWidget(deleteButton);
  buttons->addStretch(1);
  buttons->addWidget(closeButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grid_, 1);
  layout->addLayout(buttons);

  connect(addButton, &QPushButton::clicked, this, &TLangForm::AddClick);
  connect(editButton, &QPushButton::clicked, this, &TLangForm::EditClick);
  connect(deleteButton, &QPushButton::clicked, this, &TLangForm::DeleteClick);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::accept);
  Refresh();
}

QString TLangForm::LanguageText(int32_t languageId) {
  if (languageId < 0 || languageId > 0xFFFF) {
    return QStringLiteral("%1").arg(static_cast<uint32_t>(languageId), 8, 16, QLatin1Char('0')).toUpper();
  }
  return FromBoardText(LanguageName(Keyboard().Layouts(), static_cast<uint16_t>(languageId)));
}

void TLangForm::Refresh() {
  grid_->Clear();
  for (int i = 0; i < defines_.Count(); ++i) {
    const TReplaceCharList& list = *defines_.ItemAt(i);
    const int row = grid_->AddRow();
    grid_->SetCell(0, row, LanguageText(list.LangID));
    grid_->SetCell(1, row, FromBoardText(FileNameOf(list.FileName)));
    grid_->SetRowValue(row, i);
  }
}

TReplaceCharList* TLangForm::SelectedList() const {
  if (grid_->IsEmpty()) return nullptr;
  return defines_.ItemAt(grid_->RowValue(grid_->CurrentRow()));
}

void TLangForm::Save(TReplaceCharList& list, const std::string& path) {
  if (!list.SaveToFile(path)) {
    ShowError(QStringLiteral("Ошибка сохранения файла ") + FromBoardText(path));
  }
}

void TLangForm::AddClick() {
  TReplaceCharList edited;
  const bool accepted = EditLayout(this, edited);
  if (accepted) {
    std::string folder = LangsFolder();
    std::string fileName;
    if (ChooseSaveFile(this, QStringLiteral("Сохранить файл раскладки"),
                       QStringLiteral("Файлы раскладок(*.lng)|*.lng"), QStringLiteral("lng"), 0,
                       fileName, true, true, folder)) {
      TReplaceCharList* list = defines_.AddList();
      list->Assign(edited);
      Save(*list, fileName);
    }
  }
  Refresh();
  if (accepted && !grid_->IsEmpty()) grid_->SelectRow(grid_->RowCount() - 1);
}

void TLangForm::EditClick() {
  TReplaceCharList* list = SelectedList();
  if (!list) return;
  const int row = grid_->CurrentRow();
  if (!EditLayout(this, *list)) return;
  Save(*list, list->FileName);
  Refresh();
  grid_->SelectRow(row);
}

void TLangForm::DeleteClick() {
  TReplaceCharList* list = SelectedList();
  if (!list) return;
  if (!AskOkCancel(QStringLiteral("Удалить корректировку раскладки ") + LanguageText(list->LangID),
                   QStringLiteral("Внимание!"), false)) {
    return;
  }
  RemoveFile(list->FileName);  // a file that will not go away still leaves the list
  defines_.RemoveItem(list);
  Refresh();
}

void ManageLayouts(QWidget* parent, TReplaceDefines& defines) {
  TLangForm form(defines, parent);
  form.exec();
}

}  // namespace lentar::gui
