#include "gui/editor/mainlentarform.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QCloseEvent>
#include <QGridLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QTextCursor>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/atomicfile.h"
#include "core/folders.h"
#include "core/keycorr.h"
#include "core/paths.h"
#include "core/setfile.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/devicework.h"
#include "gui/common/dialogs.h"
#include "gui/common/editorfont.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "gui/common/settingsstore.h"
#include "gui/common/windowplace.h"
#include "gui/editor/editorcommands.h"
#include "gui/editor/sethighlighter.h"
#include "gui/editor/settextedit.h"
#include "markup/fonts.h"
#include "markup/gprs.h"
#include "markup/project.h"
#include "markup/tags.h"

namespace lentar::gui {

namespace {

const QString kSetFileFilter = QStringLiteral("Текстовые файлы (*.txt)|*.txt|Все файлы|*.*");
const QString kBinaryFileFilter = QStringLiteral("Двоичные файлы (*.bin)|*.bin|Все файлы|*.*");

// Height of the button panel along the bottom of the window.
constexpr int kButtonPanelHeight = 138;

// A count with its thousands set apart by spaces: "64 000".
QString GroupedNumber(size_t n) {
  QString digits = QString::number(static_cast<qulonglong>(n));
  for (qsizetype i = digits.size() - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(' '));
  return digits;
}

}  // namespace

TMainLentarForm::TMainLentarForm(TRecProject& project, std::string firstArgument,
                                 QWidget* parent)
    : QMainWindow(parent),
      project_(project),
      corrections_(std::make_unique<TReplaceDefines>()),
      firstArgument_(std::move(firstArgument)) {
  setObjectName(QStringLiteral("MainLentarForm"));
  place_ = new TWindowPlace(*this, &TSettings::MainCoor);
  corrections_->LoadFolder(LangsFolder());
  setWindowTitle(QStringLiteral("Lentar"));
  resize(800, 560);

  CreateActions();
  CreateMenu();
  CreateToolBar();

  auto* client = new QWidget(this);
  auto* layout = new QVBoxLayout(client);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  memo_ = new SetTextEdit(client);
  memo_->setObjectName(QStringLiteral("Memo1"));
  preview_ = new PreviewHost(this);
  memo_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  layout->addWidget(memo_, 1);
  layout->addWidget(CreateButtonPanel());
  setCentralWidget(client);

  connect(memo_->document(), &QTextDocument::contentsChanged, this,
          &TMainLentarForm::TextChanged);
  ConnectEditActions();
  highlighter_ =
      new SetHighlighter(memo_->document(), project_.FontHeight, project_.ColorChannelCount);
  CreateStatusBar();
}

// The preview host goes with the window and takes its emulation window along.
TMainLentarForm::~TMainLentarForm() { DropSettingsWriter(this); }

void TMainLentarForm::CreateStatusBar() {
  caretLabel_ = new QLabel(this);
  caretLabel_->setObjectName(QStringLiteral("CaretLabel"));
  sizeLabel_ = new QLabel(this);
  sizeLabel_->setObjectName(QStringLiteral("SizeLabel"));
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  statusBar()->addWidget(caretLabel_);
  statusBar()->addPermanentWidget(sizeLabel_);
  connect(memo_, &QPlainTextEdit::cursorPositionChanged, this,
          &TMainLentarForm::UpdateCaretPosition);
  // The size is counted once per turn of the event loop, however many
  // changes a paste or a replacement makes.
  sizeTimer_ = new QTimer(this);
  sizeTimer_->setSingleShot(true);
  sizeTimer_->setInterval(0);
  connect(sizeTimer_, &QTimer::timeout, this, &TMainLentarForm::UpdateSizeCounter);
  UpdateCaretPosition();
  UpdateSizeCounter();
}

void TMainLentarForm::UpdateCaretPosition() {
  const QTextCursor cursor = memo_->textCursor();
  caretLabel_->setText(QStringLiteral("Строка %1, столбец %2")
                           .arg(cursor.blockNumber() + 1)
                           .arg(cursor.positionInBlock() + 1));
}

void TMainLentarForm::ScheduleSizeUpdate() { sizeTimer_->start(); }

void TMainLentarForm::UpdateSizeCounter() {
  sizeTimer_->stop();
  const TSettings& settings = Settings();
  const CompileResult compiled = CompileEditorText(false);
  const size_t limit = settings.OutDataSize > 0 ? static_cast<size_t>(settings.OutDataSize) : 0;
  sizeLabel_->setText(GroupedNumber(compiled.length()) + QStringLiteral(" из ") +
                      GroupedNumber(limit) + QStringLiteral(" байт"));
  // Red past the limit; greyed like the rest while the window is disabled.
  QPalette palette = statusBar()->palette();
  if (!compiled.ok) {
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
      palette.setColor(group, QPalette::WindowText, QColor(0xc0, 0x00, 0x00));
    }
  }
  sizeLabel_->setPalette(palette);
  sizeLabel_->setToolTip(
      compiled.ok ? QString()
                  : DataSizeText(compiled.length(), static_cast<size_t>(std::max(0, Settings().OutDataSize))));
}

void TMainLentarForm::CreateActions() {
  // Captions carry their accelerator letters ("&"); the letters are unique
  // within each menu.
  auto make = [this](const QString& caption, const char* name, void (TMainLentarForm::*slot)()) {
    auto* action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    if (slot) connect(action, &QAction::triggered, this, slot);
    return action;
  };
  // Commands whose windows are not part of this program yet stand where they
  // belong, disabled.
  auto later = [&](const QString& caption, const char* name) {
    QAction* action = make(caption, name, nullptr);
    action->setEnabled(false);
    return action;
  };
  QStyle* s = style();

  newAction_ = make(QStringLiteral("&Новый"), "NewItem", &TMainLentarForm::NewClick);
  newAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  openAction_ = make(QStringLiteral("&Открыть"), "OpenItem", &TMainLentarForm::OpenClick);
  openAction_->setIcon(s->standardIcon(QStyle::SP_DialogOpenButton));
  openAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  saveAction_ = make(QStringLiteral("&Сохранить"), "SaveItem", &TMainLentarForm::SaveClick);
  saveAction_->setIcon(s->standardIcon(QStyle::SP_DialogSaveButton));
  saveAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  saveAsAction_ =
      make(QStringLiteral("Сохранить &как"), "SaveAsItem", &TMainLentarForm::SaveAsClick);
  saveAsAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  exitAction_ = make(QStringLiteral("&Выход"), "ExitItem", nullptr);
  exitAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(exitAction_, &QAction::triggered, this, [this] { close(); });

  // "Правка": the editor's own commands, so that the operator finds them.
  // While the editor has the focus it takes the standard keys itself (with
  // the same effect); the menu and the keys work from anywhere in the window.
  undoAction_ = make(QStringLiteral("&Отменить"), "UndoItem", nullptr);
  undoAction_->setShortcut(QKeySequence::Undo);
  redoAction_ = make(QStringLiteral("&Повторить"), "RedoItem", nullptr);
  redoAction_->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Y),
                             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)});
  cutAction_ = make(QStringLiteral("Выре&зать"), "CutItem", nullptr);
  cutAction_->setShortcut(QKeySequence::Cut);
  copyAction_ = make(QStringLiteral("&Копировать"), "CopyItem", nullptr);
  copyAction_->setShortcut(QKeySequence::Copy);
  pasteAction_ = make(QStringLiteral("Вст&авить"), "PasteItem", nullptr);
  pasteAction_->setShortcut(QKeySequence::Paste);
  recodePasteAction_ = make(QStringLiteral("Вставить с п&ерекодировкой"), "RecodePasteItem", nullptr);
  recodePasteAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
  selectAllAction_ = make(QStringLiteral("Выделить &всё"), "SelectAllItem", nullptr);
  selectAllAction_->setShortcut(QKeySequence::SelectAll);

  systemSettingsAction_ = make(QStringLiteral("&Системные"), "SystemSettingsItem", nullptr);
  systemSettingsAction_->setIcon(s->standardIcon(QStyle::SP_ComputerIcon));
  connect(systemSettingsAction_, &QAction::triggered, this, [this] { SettingsClick(0); });
  boardOptionsAction_ = make(QStringLiteral("&Опции табло"), "BoardOptionsItem", nullptr);
  connect(boardOptionsAction_, &QAction::triggered, this, [this] { SettingsClick(1); });
  boardOptionsAction_->setIcon(s->standardIcon(QStyle::SP_FileDialogDetailedView));
  boardWindowAction_ =
      make(QStringLiteral("&Табло"), "BoardWindowItem", &TMainLentarForm::BoardWindowClick);
  passwordsAction_ =
      make(QStringLiteral("&Пароли"), "PasswordsItem", &TMainLentarForm::PasswordsClick);
  defaultFontsAction_ =
      make(QStringLiteral("По-&умолчанию"), "DefaultFontsItem", &TMainLentarForm::FontBankClick);
  projectFontsAction_ =
      make(QStringLiteral("&Текущий проект"), "ProjectFontsItem", &TMainLentarForm::FontBankClick);
  layoutsAction_ =
      make(QStringLiteral("&Раскладки клавиатуры"), "LayoutsItem", &TMainLentarForm::LayoutsClick);

  uploadBoardAction_ =
      make(QStringLiteral("&Табло"), "UploadBoardItem", &TMainLentarForm::UploadBoardClick);
  uploadBoardAction_->setIcon(s->standardIcon(QStyle::SP_ArrowUp));
  previewAction_ = make(QStringLiteral("&Эмуляция"), "PreviewItem", &TMainLentarForm::PreviewClick);
  previewAction_->setIcon(s->standardIcon(QStyle::SP_MediaPlay));
  previewAction_->setShortcut(QKeySequence(Qt::Key_F9));
  uploadLoaderAction_ =
      make(QStringLiteral("&Загрузчик"), "UploadLoaderItem", &TMainLentarForm::LoaderMenuClick);
  uploadLoaderAction_->setIcon(s->standardIcon(QStyle::SP_DriveFDIcon));
  fleetAction_ = make(QStringLiteral("Пар&к табло"), "FleetItem", &TMainLentarForm::FleetClick);
  fleetAction_->setIcon(s->standardIcon(QStyle::SP_FileDialogListView));
  fleetAction_->setToolTip(QStringLiteral("Парк табло"));
  groupDeliveryAction_ = make(QStringLiteral("Отправить в &группу…"), "GroupDeliveryItem",
                              &TMainLentarForm::GroupDeliveryClick);
  exportBinaryAction_ = make(QStringLiteral("Экспорт в &файл"), "ExportBinaryItem",
                             &TMainLentarForm::ExportBinaryClick);
  exportGprsAction_ = make(QStringLiteral("Экспорт для &GPRS"), "ExportGprsItem",
                           &TMainLentarForm::ExportGprsClick);
  freeTextAction_ =
      make(QStringLiteral("&Произвольный текст"), "FreeTextItem", &TMainLentarForm::FreeTextClick);

  aboutAction_ = make(QStringLiteral("&О программе"), "AboutItem", &TMainLentarForm::AboutClick);
}

void TMainLentarForm::ConnectEditActions() {
  connect(undoAction_, &QAction::triggered, memo_, &QPlainTextEdit::undo);
  connect(redoAction_, &QAction::triggered, memo_, &QPlainTextEdit::redo);
  connect(cutAction_, &QAction::triggered, memo_, &QPlainTextEdit::cut);
  connect(copyAction_, &QAction::triggered, memo_, &QPlainTextEdit::copy);
  connect(pasteAction_, &QAction::triggered, memo_, &QPlainTextEdit::paste);
  connect(selectAllAction_, &QAction::triggered, memo_, &QPlainTextEdit::selectAll);
  connect(recodePasteAction_, &QAction::triggered, memo_, &SetTextEdit::PasteRecoded);
  undoAction_->setEnabled(false);
  redoAction_->setEnabled(false);
  cutAction_->setEnabled(false);
  copyAction_->setEnabled(false);
  connect(memo_, &QPlainTextEdit::undoAvailable, undoAction_, &QAction::setEnabled);
  connect(memo_, &QPlainTextEdit::redoAvailable, redoAction_, &QAction::setEnabled);
  connect(memo_, &QPlainTextEdit::copyAvailable, cutAction_, &QAction::setEnabled);
  connect(memo_, &QPlainTextEdit::copyAvailable, copyAction_, &QAction::setEnabled);
}

void TMainLentarForm::CreateMenu() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  file->setObjectName(QStringLiteral("FileMenu"));
  file->addAction(newAction_);
  file->addAction(openAction_);
  file->addAction(saveAction_);
  file->addAction(saveAsAction_);
  file->addSeparator();
  recentMenu_ = file->addMenu(QStringLiteral("Последние &файлы"));
  recentMenu_->setObjectName(QStringLiteral("RecentMenu"));
  emptyRecentAction_ = recentMenu_->addAction(QStringLiteral("Пусто"));
  emptyRecentAction_->setObjectName(QStringLiteral("EmptyRecentItem"));
  emptyRecentAction_->setEnabled(false);
  for (int i = 0; i < 10; ++i) {
    QAction* entry = recentMenu_->addAction(QString());
    entry->setObjectName(QStringLiteral("RecentItem%1").arg(i + 1));
    entry->setData(i + 1);
    entry->setVisible(false);
    connect(entry, &QAction::triggered, this, [this, i] { RecentClick(i); });
    recentActions_[static_cast<size_t>(i)] = entry;
  }
  file->addSeparator();
  file->addAction(exitAction_);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Правка"));
  edit->setObjectName(QStringLiteral("EditMenu"));
  edit->addAction(undoAction_);
  edit->addAction(redoAction_);
  edit->addSeparator();
  edit->addAction(cutAction_);
  edit->addAction(copyAction_);
  edit->addAction(pasteAction_);
  edit->addAction(recodePasteAction_);
  edit->addSeparator();
  edit->addAction(selectAllAction_);

  QMenu* settings = menuBar()->addMenu(QStringLiteral("&Настройки"));
  settings->setObjectName(QStringLiteral("SettingsMenu"));
  settings->addAction(systemSettingsAction_);
  settings->addAction(boardOptionsAction_);
  settings->addSeparator();
  settings->addAction(boardWindowAction_);
  settings->addSeparator();
  settings->addAction(passwordsAction_);
  settings->addSeparator();
  QMenu* fonts = settings->addMenu(QStringLiteral("&Шрифты"));
  fonts->setObjectName(QStringLiteral("FontsMenu"));
  fonts->addAction(defaultFontsAction_);
  fonts->addAction(projectFontsAction_);
  settings->addSeparator();
  settings->addAction(layoutsAction_);

  QMenu* upload = menuBar()->addMenu(QStringLiteral("&Загрузка"));
  upload->setObjectName(QStringLiteral("UploadMenu"));
  upload->addAction(uploadBoardAction_);
  upload->addAction(previewAction_);
  upload->addAction(uploadLoaderAction_);
  upload->addAction(exportBinaryAction_);
  upload->addAction(exportGprsAction_);
  upload->addSeparator();
  upload->addAction(freeTextAction_);
  // The many boards of the register come after the one board's commands.
  upload->addSeparator();
  upload->addAction(fleetAction_);
  upload->addAction(groupDeliveryAction_);

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
  help->setObjectName(QStringLiteral("HelpMenu"));
  help->addAction(aboutAction_);
}

void TMainLentarForm::CreateToolBar() {
  toolBar_ = addToolBar(QStringLiteral("Панель"));
  toolBar_->setObjectName(QStringLiteral("ToolBar1"));
  toolBar_->setMovable(false);
  toolBar_->addAction(openAction_);
  toolBar_->addAction(saveAction_);
  toolBar_->addSeparator();
  toolBar_->addAction(systemSettingsAction_);
  toolBar_->addAction(boardOptionsAction_);
  toolBar_->addSeparator();
  toolBar_->addAction(previewAction_);
  toolBar_->addAction(uploadBoardAction_);
  toolBar_->addAction(uploadLoaderAction_);
  toolBar_->addSeparator();
  toolBar_->addAction(fleetAction_);
}

QPushButton* TMainLentarForm::AddButton(const QString& caption, const char* objectName) {
  auto* button = new QPushButton(caption);
  button->setObjectName(QLatin1String(objectName));
  button->setFocusPolicy(Qt::NoFocus);  // the caret stays in the editor
  return button;
}

QWidget* TMainLentarForm::CreateButtonPanel() {
  auto* panel = new QWidget;
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFixedHeight(kButtonPanelHeight);
  auto* grid = new QGridLayout(panel);

  caseButton_ = AddButton(QStringLiteral("Регистр"), "Button1");
  pictureButton_ = AddButton(QStringLiteral("Изображение"), "Button2");
  spacesButton_ = AddButton(QStringLiteral("Пробелы"), "Button3");
  parameterButton_ = AddButton(QStringLiteral("Параметр"), "Button4");
  effectButton_ = AddButton(QStringLiteral("Эффект"), "Button5");
  symbolsButton_ = AddButton(QStringLiteral("Символы"), "Button6");
  fontButton_ = AddButton(QStringLiteral("Шрифт"), "Button7");
  colorButton_ = AddButton(QStringLiteral("Цвет"), "Button8");
  gprsButton_ = AddButton(QStringLiteral("GPRS"), "Button9");
  previewButton_ = AddButton(QStringLiteral("Просмотр"), "Button10");
  toLoaderButton_ = AddButton(QStringLiteral("В загрузчик"), "Button11");
  toBoardButton_ = AddButton(QStringLiteral("В табло"), "Button12");
  recodePasteButton_ = AddButton(QStringLiteral("Вставить с перекодировкой"), "Button13");

  QPushButton* const rows[2][5] = {
      {caseButton_, pictureButton_, spacesButton_, parameterButton_, effectButton_},
      {symbolsButton_, fontButton_, colorButton_, gprsButton_, previewButton_}};
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 5; ++c) grid->addWidget(rows[r][c], r, c);
  }
  grid->addWidget(toLoaderButton_, 2, 0);
  grid->addWidget(toBoardButton_, 2, 1);
  grid->addWidget(recodePasteButton_, 2, 2, 1, 2);

  connect(caseButton_, &QPushButton::clicked, this, &TMainLentarForm::CaseButtonClick);
  connect(spacesButton_, &QPushButton::clicked, this, &TMainLentarForm::SpacesButtonClick);
  connect(fontButton_, &QPushButton::clicked, this, &TMainLentarForm::FontButtonClick);
  connect(gprsButton_, &QPushButton::clicked, this, &TMainLentarForm::GprsButtonClick);
  connect(previewButton_, &QPushButton::clicked, this, &TMainLentarForm::PreviewClick);
  connect(parameterButton_, &QPushButton::clicked, this, &TMainLentarForm::ParameterButtonClick);
  connect(effectButton_, &QPushButton::clicked, this, &TMainLentarForm::EffectButtonClick);
  connect(colorButton_, &QPushButton::clicked, this, &TMainLentarForm::ColorButtonClick);
  connect(symbolsButton_, &QPushButton::clicked, this, &TMainLentarForm::SymbolsButtonClick);
  connect(toLoaderButton_, &QPushButton::clicked, this, &TMainLentarForm::LoaderButtonClick);
  connect(pictureButton_, &QPushButton::clicked, this, &TMainLentarForm::PictureButtonClick);
  connect(toBoardButton_, &QPushButton::clicked, this, &TMainLentarForm::UploadBoardClick);
  // The recoding paste is one command with the menu's: the button follows
  // the action's state and triggers it.
  recodePasteButton_->setEnabled(recodePasteAction_->isEnabled());
  connect(recodePasteAction_, &QAction::enabledChanged, recodePasteButton_,
          &QPushButton::setEnabled);
  connect(recodePasteButton_, &QPushButton::clicked, recodePasteAction_, &QAction::trigger);
  return panel;
}

// ---- Start-up and exit --------------------------------------------------------

void TMainLentarForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shownOnce_) {
    shownOnce_ = true;
    FormShow();
  }
}

void TMainLentarForm::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  // Minimising also hides a window; only the real hide at exit counts.
  if (shownOnce_ && !settingsWritten_ && !event->spontaneous()) {
    settingsWritten_ = true;
    FormHide();
  }
}

namespace {

// The recovery copy: the set's bytes, and the path it belongs to.
std::string RecoveryTextPath() { return RecoveryFolder() + "unsaved.txt"; }
std::string RecoveryNamePath() { return RecoveryFolder() + "unsaved.path"; }

void RemoveRecoveryCopy() {
  RemoveFile(RecoveryTextPath());
  RemoveFile(RecoveryNamePath());
}

}  // namespace

void TMainLentarForm::KeepWorkQuietly() {
  // Before the first show the settings have not been read: the file on disk
  // is the operator's, not to be replaced with the defaults.
  if (!shownOnce_) return;
  if (modified_ && EnsureFolder(RecoveryFolder())) {
    // The path first: a text without its path would be offered as a new set.
    WriteFileAtomically(RecoveryNamePath(), currentFile_);
    WriteFileAtomically(RecoveryTextPath(), SetText());
  }
  Settings().MainCoor = WindowGeometryRect(*this);
  WriteRunSettings();
}

void TMainLentarForm::WriteRunSettings() {
  TSettings& settings = Settings();
  settings.LastProject = currentFile_;
  // A version another program handed out meanwhile is kept.
  if (!keepSettingsFile_) WriteSettingsKeepingVersion(settings, SettingsFilePath());
}

void TMainLentarForm::EndFromOutside() {
  if (endingFromOutside_) return;
  endingFromOutside_ = true;
  KeepWorkQuietly();
  settingsWritten_ = true;
  // Nobody may be there to answer: open dialogs and questions are turned
  // down, as Cancel would.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) dialog->reject();
  }
  if (preview_->Running()) preview_->Stop();
  close();
}

void TMainLentarForm::closeEvent(QCloseEvent* event) {
  if (endingFromOutside_) {
    event->accept();
    return;
  }
  // The preview holds the emulation window until it ends: stop it first; the
  // operator closes again once it has stopped.
  if (preview_->Running()) {
    preview_->Stop();
    event->ignore();
    return;
  }
  if (AskSaveChanges()) {
    // The operator decided about the set: an older recovery copy is void.
    RemoveRecoveryCopy();
    event->accept();
  } else {
    event->ignore();
  }
}

void TMainLentarForm::FormShow() {
  TSettings& settings = Settings();
  const std::string iniPath = SettingsFilePath();
  const SettingsFileState state = ReadSettingsFile(settings, iniPath);
  if (state == SettingsFileState::Missing) {
    // The first start: the preview and the size check use a board of the
    // default size until the operator gives the real one.
    statusBar()->showMessage(kFirstStartHint, 60000);
  } else if (state == SettingsFileState::Unreadable) {
    // Something is there that could not be read (too large, a folder, a
    // pipe, no permission): it is not ours to replace with the defaults.
    keepSettingsFile_ = true;
    ShowError(QStringLiteral("Файл настроек ") + FromBoardText(iniPath) +
              QStringLiteral(" не может быть прочитан (это не обычный файл, нет доступа или "
                             "размер больше %1 МБ). Настройки взяты по умолчанию; файл "
                             "останется без изменений.")
                  .arg(static_cast<qulonglong>(kMaxSettingsFileSize >> 20)));
  } else if (state == SettingsFileState::NoSection) {
    // What is left of the old settings is kept for the operator before the
    // end of the run writes fresh ones.
    const std::string aside = KeepSettingsFileAside(iniPath);
    keepSettingsFile_ = aside.empty();
    if (aside.empty()) {
      ShowError(QStringLiteral("Файл настроек ") + FromBoardText(iniPath) +
                QStringLiteral(" повреждён (в нём нет раздела [Settings]) и не может быть "
                               "переименован. Настройки взяты по умолчанию; файл останется "
                               "без изменений."));
    } else {
      ShowError(QStringLiteral("Файл настроек ") + FromBoardText(iniPath) +
                QStringLiteral(" повреждён (в нём нет раздела [Settings]). Он сохранён как ") +
                FromBoardText(aside) +
                QStringLiteral(", настройки взяты по умолчанию."));
    }
  }
  ApplyEditorFont(settings);
  project_.LoadFromSettings(settings);
  if (!project_.LoadFonts() && !project_.FontError.empty()) ShowError(project_.FontError);
  ApplyEditorFont(settings);
  memo_->setFont(EditorFont());
  // Colouring the text anew changes no character of it: the set stays as it
  // was (the document reports the new colours as a change of its contents).
  loadingText_ = true;
  highlighter_->SetBoard(project_.FontHeight, project_.ColorChannelCount);
  loadingText_ = false;
  ScheduleSizeUpdate();

  // The stored placement, fitted to the screen; an empty rectangle (a fresh
  // installation) keeps the default size instead of a window of no size.
  place_->Restore();
  RebuildRecentMenu();
  // From here on the settings file is written whenever something lasting
  // changes (the settings dialog accepted, a window moved), not only at the
  // end of the run: a program started beside the editor reads what it uses.
  SetSettingsWriter(this, [this] { WriteRunSettings(); });

  const std::string argument = TrimBlanks(firstArgument_);
  if (IsWellFormedPath(argument)) {
    OpenSetFile(argument);
  } else if (!settings.LastProject.empty()) {
    OpenSetFile(settings.LastProject);
  } else {
    UpdateTitle();
  }
  memo_->SetCorrections(corrections_.get());
  OfferRecoveryCopy();
}

void TMainLentarForm::OfferRecoveryCopy() {
  std::string text, path;
  if (!ReadWholeFile(RecoveryTextPath(), text)) return;
  ReadWholeFile(RecoveryNamePath(), path);
  const QString which = path.empty() ? QStringLiteral("Новый набор")
                                     : QStringLiteral("Набор ") + FromBoardText(path);
  const auto answer = OwnedMessageBox(
      this, QStringLiteral("Внимание!"),
      which + QStringLiteral(" не был сохранен, когда программа была завершена извне. "
                             "Восстановить несохраненную копию?"),
      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question);
  if (answer == QMessageBox::Yes) {
    // The copy comes back as a changed set of its file: "Сохранить" writes
    // it there, and nothing is lost if the operator ends without saving.
    if (!path.empty() && currentFile_ != path) OpenSetFile(path);
    currentFile_ = path;
    memo_->SetFileText(text);
    SetModified(true);
    UpdateTitle();
  }
  RemoveRecoveryCopy();
}

void TMainLentarForm::FormHide() {
  preview_->CloseWindow();
  Settings().MainCoor = WindowGeometryRect(*this);
  // A failed write loses the run's changes.
  WriteRunSettings();
}

// ---- The set and its file -----------------------------------------------------

std::string TMainLentarForm::SetText() const {
  return modified_ ? memo_->FileText() : cleanText_;
}

void TMainLentarForm::TextChanged() {
  if (!loadingText_) SetModified(true);
  ScheduleSizeUpdate();
}

void TMainLentarForm::SetModified(bool modified) {
  modified_ = modified;
  setWindowModified(modified);
}

void TMainLentarForm::UpdateTitle() {
  // "[*]" is where the window shows the modified marker; a "[*]" inside the
  // file name is doubled, which Qt shows as the text itself.
  QString name = FromBoardText(currentFile_);
  name.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  const QString title = QStringLiteral("Lentar - ") + name + QStringLiteral("[*]");
  // The task bar shows this caption; the application's name is left alone,
  // since Qt builds temporary and configuration paths from it.
  setWindowTitle(title);
  setWindowModified(modified_);
}

bool TMainLentarForm::AskSaveChanges() {
  if (!modified_) return true;
  const QString text = QStringLiteral("Файл ") + FromBoardText(currentFile_) +
                       QStringLiteral(" не был сохранен! Сохранить?");
  const auto answer = OwnedMessageBox(this, QStringLiteral("Внимание!"), text,
                                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                      QMessageBox::Warning);
  if (answer == QMessageBox::No) return true;
  if (answer != QMessageBox::Yes) return false;
  SaveClick();
  return !modified_;
}

bool TMainLentarForm::OpenSetFile(const std::string& path) {
  std::string text;
  const bool ok = LoadSetFile(path, text);
  if (ok) {
    loadingText_ = true;
    memo_->SetFileText(text);
    loadingText_ = false;
    MarkSetFileCurrent(path, std::move(text));
  } else {
    ShowError(OpenFailedMessage(path));
  }
  UpdateTitle();
  return ok;
}

bool TMainLentarForm::SaveSetFile(const std::string& path) {
  std::string text = SetText();
  const bool ok = lentar::SaveSetFile(path, text);
  if (ok) {
    MarkSetFileCurrent(path, std::move(text));
  } else {
    ShowError(SaveFailedMessage(path));
  }
  UpdateTitle();
  return ok;
}

void TMainLentarForm::MarkSetFileCurrent(const std::string& path, std::string text) {
  cleanText_ = std::move(text);
  SetModified(false);
  currentFile_ = path;
  AddRecent(Settings(), path);
  RebuildRecentMenu();
}

void TMainLentarForm::NewClick() {
  if (!AskSaveChanges()) return;
  currentFile_.clear();
  loadingText_ = true;
  memo_->clear();
  loadingText_ = false;
  cleanText_.clear();
  SetModified(false);
  UpdateTitle();
}

void TMainLentarForm::OpenClick() {
  if (!AskSaveChanges()) return;
  std::string folder = FilePathOf(currentFile_);
  std::string fileName;
  if (ChooseOpenFile(this, QStringLiteral("Открыть файл"), kSetFileFilter, folder, 0, fileName,
                     false, true)) {
    OpenSetFile(fileName);
  }
}

void TMainLentarForm::SaveClick() {
  if (!currentFile_.empty()) {
    SaveSetFile(currentFile_);
  } else {
    SaveAsClick();
  }
}

void TMainLentarForm::SaveAsClick() {
  std::string fileName = FileNameOf(currentFile_);
  std::string folder = FilePathOf(currentFile_);
  if (ChooseSaveFile(this, QStringLiteral("Сохранить набор как:"), kSetFileFilter,
                     QStringLiteral("txt"), 0, fileName, true, true, folder)) {
    SaveSetFile(fileName);
  }
  UpdateTitle();
}

void TMainLentarForm::RebuildRecentMenu() {
  const TSettings& settings = Settings();
  bool any = false;
  for (size_t i = 0; i < recentActions_.size(); ++i) {
    const QString name = FromBoardText(TrimBlanks(settings.ProjHistory[i]));
    QAction* entry = recentActions_[i];
    // "&" would mark a shortcut letter in a menu caption.
    entry->setText(QString(name).replace(QLatin1Char('&'), QStringLiteral("&&")));
    entry->setToolTip(name);
    entry->setVisible(!name.isEmpty());
    any = any || !name.isEmpty();
  }
  emptyRecentAction_->setVisible(!any);
}

void TMainLentarForm::RecentClick(int index) {
  if (index < 0 || index >= static_cast<int>(recentActions_.size())) return;
  const std::string name = TrimBlanks(Settings().ProjHistory[static_cast<size_t>(index)]);
  if (!name.empty() && AskSaveChanges()) OpenSetFile(name);
}

// ---- Compiling and exports ----------------------------------------------------

CompileResult TMainLentarForm::CompileEditorText(bool showSizeError) {
  return CompileSetText(SetText(), project_, showSizeError);
}

bool TMainLentarForm::RefuseExportOverSet(const std::string& path) {
  if (currentFile_.empty()) return false;
  bool same = path == currentFile_;
  if (!same) {
    std::error_code ec;
    same = std::filesystem::equivalent(NativePath(path), NativePath(currentFile_), ec) && !ec;
  }
  if (!same) return false;
  // An export is a board image or a package, not text: written over the set
  // it would destroy the set the operator is editing.
  ShowError(QStringLiteral("Файл ") + FromBoardText(path) +
            QStringLiteral(" - это открытый набор. Экспорт в него невозможен, выберите другое "
                           "имя файла."));
  return true;
}

void TMainLentarForm::ExportBinaryClick() {
  const CompileResult image = CompileEditorText(true);
  if (!image.ok) return;
  std::string fileName = ChangeExtension(currentFile_, ".bin");
  std::string folder = FilePathOf(currentFile_);
  if (!ChooseSaveFile(this, QStringLiteral("Экспорт данных:"), kBinaryFileFilter,
                      QStringLiteral("bin"), 0, fileName, true, true, folder) ||
      RefuseExportOverSet(fileName)) {
    return;
  }
  WriteExportFile(fileName, image.image);
}

void TMainLentarForm::ExportGprsClick() {
  const CompileResult image = CompileEditorText(true);
  if (!image.ok || image.length() == 0) return;
  TSettings& settings = Settings();
  // The package is proposed under the set's own name, in the folder of the
  // last GPRS export: proposing the set's full path would offer to write the
  // package over the set file itself.
  std::string fileName = FileNameOf(ChangeExtension(currentFile_, ".txt"));
  std::string folder = FilePathOf(settings.LastGprsFile);
  if (!ChooseSaveFile(this, QStringLiteral("Экспорт данных для GPRS:"), kSetFileFilter,
                      QStringLiteral("txt"), 0, fileName, true, true, folder) ||
      RefuseExportOverSet(fileName)) {
    return;
  }
  // The folder follows the choice; the remembered name stays.
  settings.LastGprsFile = FilePathOf(fileName) + FileNameOf(settings.LastGprsFile);
  WriteExportFile(fileName, NextGprsPackage(image));
}

void TMainLentarForm::GprsButtonClick() {
  SaveGprsForLoading(this, CompileEditorText(true),
                     [this](const std::string& path) { return RefuseExportOverSet(path); });
}

// ---- Editing buttons ----------------------------------------------------------

void TMainLentarForm::CaseButtonClick() { ChangeCaseCommand(this, *memo_); }

void TMainLentarForm::SpacesButtonClick() { SpacesCommand(this, *memo_); }

}  // namespace lentar::gui
