#include "gui/editor/textform.h"

#include <QAction>
#include <QGridLayout>
#include <QHideEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTextCursor>
#include <QVBoxLayout>

#include "core/settings.h"
#include "gui/common/devicework.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/editorfont.h"
#include "gui/common/placement.h"
#include "gui/control/boardport.h"
#include "gui/control/loadform.h"
#include "gui/control/tabloform.h"
#include "gui/editor/editorcommands.h"
#include "gui/editor/sethighlighter.h"
#include "gui/editor/settextedit.h"
#include "markup/project.h"
#include "markup/tagtexts.h"

namespace lentar::gui {

namespace {

// The window's size when no placement is stored yet.
constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 420;

// The byte of the code page that has no character: the editor cannot hold it.
constexpr int kUnassignedByte = 0x98;

}  // namespace

TTextForm::TTextForm(TRecProject& project, const TReplaceDefines* corrections, QWidget* parent)
    : QDialog(parent), project_(project) {
  setObjectName(QStringLiteral("TextForm"));
  setWindowTitle(QStringLiteral("Текст"));
  setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
  resize(kDefaultWidth, kDefaultHeight);

  memo_ = new SetTextEdit(this);
  memo_->setObjectName(QStringLiteral("Memo1"));
  memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_->setFont(EditorFont());
  memo_->SetCorrections(corrections);
  // Tags coloured as the board reads them, as in the main window.
  new SetHighlighter(memo_->document(), project_.FontHeight, project_.ColorChannelCount);
  preview_ = new PreviewHost(this);
  // When the operator closes the emulation window this window comes back to
  // the front.
  connect(preview_, &PreviewHost::windowClosed, this, [this] {
    raise();
    activateWindow();
  });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(memo_, 1);
  layout->addWidget(CreateButtonPanel());
  // The window keeps its own minimum, below which the buttons may narrow.
  layout->setSizeConstraint(QLayout::SetNoConstraint);
  setMinimumSize(kMinimumWidth, kMinimumHeight);

  auto* recodePaste = new QAction(this);
  recodePaste->setObjectName(QStringLiteral("RecodePasteItem"));
  recodePaste->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
  connect(recodePaste, &QAction::triggered, memo_, &SetTextEdit::PasteRecoded);
  addAction(recodePaste);
}

TTextForm::~TTextForm() = default;

QPushButton* TTextForm::AddButton(const QString& caption, const char* objectName) {
  auto* button = new QPushButton(caption);
  button->setObjectName(QLatin1String(objectName));
  button->setFocusPolicy(Qt::NoFocus);  // the caret stays in the editor
  button->setMinimumWidth(40);
  return button;
}

QWidget* TTextForm::CreateButtonPanel() {
  auto* panel = new QWidget;
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFixedHeight(kButtonPanelHeight);
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(6, 5, 6, 5);
  grid->setVerticalSpacing(4);

  QPushButton* caseButton = AddButton(QStringLiteral("Регистр"), "Button1");
  QPushButton* pictureButton = AddButton(QStringLiteral("Изображение"), "Button2");
  QPushButton* spacesButton = AddButton(QStringLiteral("Пробелы"), "Button3");
  QPushButton* parameterButton = AddButton(QStringLiteral("Параметр"), "Button4");
  QPushButton* effectButton = AddButton(QStringLiteral("Эффект"), "Button5");
  QPushButton* symbolsButton = AddButton(QStringLiteral("Символы"), "Button6");
  QPushButton* fontButton = AddButton(QStringLiteral("Шрифт"), "Button7");
  QPushButton* colorButton = AddButton(QStringLiteral("Цвет"), "Button8");
  QPushButton* gprsButton = AddButton(QStringLiteral("GPRS"), "Button9");
  QPushButton* previewButton = AddButton(QStringLiteral("Просмотр"), "Button10");
  QPushButton* toLoaderButton = AddButton(QStringLiteral("В загрузчик"), "Button11");
  QPushButton* toBoardButton = AddButton(QStringLiteral("В табло"), "Button12");
  QPushButton* testLineButton = AddButton(QStringLiteral("Тест. строка"), "Button14");
  QPushButton* recodeButton = AddButton(QStringLiteral("Вставить с перекодировкой"), "Button13");

  QPushButton* const row1[] = {caseButton, pictureButton, spacesButton, parameterButton,
                               effectButton};
  QPushButton* const row2[] = {symbolsButton, fontButton, colorButton, gprsButton, previewButton};
  for (int c = 0; c < 5; ++c) grid->addWidget(row1[c], 0, c);
  for (int c = 0; c < 5; ++c) grid->addWidget(row2[c], 1, c);
  grid->addWidget(toLoaderButton, 2, 0);
  grid->addWidget(toBoardButton, 2, 1);
  grid->addWidget(testLineButton, 2, 2);
  grid->addWidget(recodeButton, 2, 3, 1, 2);
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  MakeOkCancelButtons(this, &ok, &cancel, false);
  ok->setMinimumWidth(40);
  cancel->setMinimumWidth(40);
  grid->addWidget(ok, 3, 3);
  grid->addWidget(cancel, 3, 4);
  for (int c = 0; c < 5; ++c) grid->setColumnStretch(c, 1);

  connect(caseButton, &QPushButton::clicked, this, [this] { ChangeCaseCommand(this, *memo_); });
  connect(pictureButton, &QPushButton::clicked, this, [this] { PictureCommand(this, *memo_); });
  connect(toLoaderButton, &QPushButton::clicked, this, &TTextForm::ToLoaderClick);
  connect(toBoardButton, &QPushButton::clicked, this, &TTextForm::ToBoardClick);
  connect(spacesButton, &QPushButton::clicked, this, [this] { SpacesCommand(this, *memo_); });
  connect(parameterButton, &QPushButton::clicked, this,
          [this] { ParameterCommand(this, *memo_, project_); });
  connect(effectButton, &QPushButton::clicked, this, [this] { EffectCommand(this, *memo_); });
  connect(symbolsButton, &QPushButton::clicked, this,
          [this] { SymbolsCommand(this, *memo_, project_); });
  connect(fontButton, &QPushButton::clicked, this, [this] { FontCommand(this, *memo_, project_); });
  connect(colorButton, &QPushButton::clicked, this, [this] { ColorCommand(this, *memo_, project_); });
  connect(gprsButton, &QPushButton::clicked, this, &TTextForm::GprsClick);
  // The free text's preview keeps the font bank's selection as it stands.
  connect(previewButton, &QPushButton::clicked, this,
          [this] { preview_->Run(Text(), project_, false); });
  connect(testLineButton, &QPushButton::clicked, this, &TTextForm::TestLineClick);
  connect(recodeButton, &QPushButton::clicked, memo_, &SetTextEdit::PasteRecoded);
  return panel;
}

std::string TTextForm::Text() const { return memo_->FileText(); }

void TTextForm::SetText(const std::string& text) { memo_->SetFileText(text); }

std::string TTextForm::TestLine() {
  std::string line;
  for (int code = 1; code <= 255; ++code) {
    if (code < 32 || code == kUnassignedByte) {
      line += SymbolEntity(code);
    } else {
      line += static_cast<char>(code);
    }
  }
  return line;
}

void TTextForm::TestLineClick() {
  const QTextCursor cursor = memo_->textCursor();
  const int start = cursor.selectionStart();
  const std::string line = TestLine();
  memo_->ReplaceRange(start, cursor.selectionEnd(), line, start + static_cast<int>(line.size()));
}

void TTextForm::ToLoaderClick() {
  // The loader port is left as the loader window leaves it.
  const CompileResult image = CompileSetText(Text(), project_, true);
  if (image.ok) ShowLoaderWindow(image.image.data(), image.length(), project_, loaderSession_, this);
}

void TTextForm::ToBoardClick() {
  // As the main window's "В табло", with this window's text; the board port
  // is closed afterwards.
  if (!boardWork_) boardWork_ = std::make_unique<TDeviceWork>(this);
  if (boardWork_->Busy()) return;
  OpenBoardLineThen(*boardWork_, boardSession_, [this] {
    const CompileResult image = CompileSetText(Text(), project_, true);
    if (image.ok)
      ShowBoardWindow(this, image.image.data(), image.length(), project_, boardSession_);
    CloseBoardPort(boardSession_);
  });
}

void TTextForm::GprsClick() { SaveGprsForLoading(this, CompileSetText(Text(), project_, true)); }

void TTextForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) RestoreWindowGeometry(*this, Settings().TextCoor);
}

void TTextForm::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (event->spontaneous()) return;  // minimised, not closed
  preview_->CloseWindow();
  Settings().TextCoor = WindowGeometryRect(*this);
}

bool EditFreeText(QWidget* parent, TRecProject& project, const TReplaceDefines* corrections,
                  std::string& text) {
  TTextForm form(project, corrections, parent);
  form.SetText(text);
  if (form.exec() != QDialog::Accepted) return false;
  text = form.Text();
  return true;
}

}  // namespace lentar::gui
