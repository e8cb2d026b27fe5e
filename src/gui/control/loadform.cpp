#include "gui/control/loadform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <string_view>

#include "comm/loaderprotocol.h"
#include "core/atomicfile.h"
#include "core/dates.h"
#include "core/paths.h"
#include "core/project.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/common/tablegrid.h"
#include "gui/control/boardport.h"
#include "gui/control/pswform.h"

namespace lentar::gui {

namespace {

using namespace lentar::comm;

// The pause the loader is given around setting its clock.
constexpr int kClockPauseMs = 200;

void Pause(int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }

int SpeedIndex() { return LoaderSpeedIndex(Settings()); }

}  // namespace

bool OpenLoaderPort(comm::LoaderSession& session) {
  std::string error;
  if (OpenLoaderPortQuiet(session, error)) return true;
  ShowError(PortErrorMessage(LoaderPortDevice(Settings()), error));
  return false;
}


TLoadForm::TLoadForm(const uint8_t* image, size_t size, TRecProject& project,
                     comm::LoaderSession& session, QWidget* parent)
    : QDialog(parent), image_(image), size_(size), project_(project), session_(session) {
  setObjectName(QStringLiteral("LoadForm"));
  setWindowTitle(QStringLiteral("Управление загрузчиком"));
  setModal(true);
  for (int i = 0; i < kLoaderEntryCount; ++i) entryOfRow_[static_cast<size_t>(i)] = i;

  const auto button = [this](const QString& caption, const char* name, void (TLoadForm::*slot)()) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, slot);
    return b;
  };

  sizeLabel_ = new QLabel(this);
  sizeLabel_->setObjectName(QStringLiteral("Label1"));
  gauge_ = new QProgressBar(this);
  gauge_->setObjectName(QStringLiteral("Gauge1"));
  gauge_->setRange(0, 100);
  gauge_->setValue(0);
  gauge_->setTextVisible(false);
  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName(QStringLiteral("Label3"));
  statusLabel_->setMinimumWidth(110);
  nameEdit_ = new QLineEdit(this);
  nameEdit_->setObjectName(QStringLiteral("Edit1"));
  // The loader's directory keeps 15 characters of a name: the field takes no
  // more, so nothing typed is cut off silently when the block is stored.
  nameEdit_->setMaxLength(static_cast<int>(kLoaderNameLength));
  auto* nameLabel = new QLabel(QStringLiteral("Имя:"), this);
  nameLabel->setObjectName(QStringLiteral("Label2"));
  nameLabel->setBuddy(nameEdit_);

  // The blocks: the table beside its buttons.
  auto* blocks = new QGroupBox(QStringLiteral(" Блоки данных "), this);
  blocks->setObjectName(QStringLiteral("GroupBox1"));
  auto* panel = new QWidget(blocks);
  panel->setObjectName(QStringLiteral("Panel1"));
  table_ = new TTableGrid(panel);
  table_->setObjectName(QStringLiteral("TableGrid1"));
  table_->SetColumnCount(3);
  const double shares[3] = {0.1, 0.7, 0.2};
  table_->SetColumnShares(shares, 2);
  table_->SetHeaderText(QStringLiteral("No\r\nНазвание\r\nРазмер\r\n"));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->Clear();
  auto* panelLayout = new QVBoxLayout(panel);
  panelLayout->setContentsMargins(0, 0, 0, 0);
  panelLayout->addWidget(table_);
  eraseButton_ = button(QStringLiteral("Стереть"), "Button3", &TLoadForm::Button3Click);
  eraseAllButton_ = button(QStringLiteral("Стереть все"), "Button4", &TLoadForm::Button4Click);
  writeButton_ = button(QStringLiteral("Записать"), "Button5", &TLoadForm::Button5Click);
  toFileButton_ = button(QStringLiteral("В файл"), "Button7", &TLoadForm::Button7Click);
  auto* blockButtons = new QVBoxLayout;
  blockButtons->addWidget(writeButton_);
  blockButtons->addWidget(toFileButton_);
  blockButtons->addSpacing(12);
  blockButtons->addWidget(eraseButton_);
  blockButtons->addWidget(eraseAllButton_);
  blockButtons->addStretch(1);
  auto* blocksLayout = new QHBoxLayout(blocks);
  blocksLayout->addWidget(panel, 1);
  blocksLayout->addLayout(blockButtons);

  auto* clock = new QGroupBox(QStringLiteral(" Часы загрузчика "), this);
  clock->setObjectName(QStringLiteral("GroupBox2"));
  clockLabel_ = new QLabel(QStringLiteral("- - - -"), clock);
  clockLabel_->setObjectName(QStringLiteral("Label4"));
  clockLabel_->setMinimumWidth(150);
  clockButton_ = button(QStringLiteral("Синхр."), "Button8", &TLoadForm::Button8Click);
  auto* clockLayout = new QHBoxLayout(clock);
  clockLayout->addWidget(clockLabel_, 1);
  clockLayout->addWidget(clockButton_);

  refreshButton_ = button(QStringLiteral("Обновить"), "Button2", &TLoadForm::Button2Click);
  formatButton_ = button(QStringLiteral("Форматировать"), "Button6", &TLoadForm::Button6Click);
  passwordsButton_ = button(QStringLiteral("Пароли"), "Button10", &TLoadForm::Button10Click);
  closeButton_ = new QPushButton(QStringLiteral("Закрыть"), this);
  closeButton_->setObjectName(QStringLiteral("Button1"));
  closeButton_->setAutoDefault(false);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QGridLayout;
  top->addWidget(sizeLabel_, 0, 0, 1, 2);
  top->addWidget(statusLabel_, 0, 2, Qt::AlignRight);
  top->addWidget(gauge_, 1, 0, 1, 3);
  top->addWidget(nameLabel, 2, 0);
  top->addWidget(nameEdit_, 2, 1, 1, 2);
  top->setColumnStretch(1, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(refreshButton_);
  bottom->addWidget(formatButton_);
  bottom->addWidget(passwordsButton_);
  bottom->addStretch(1);
  bottom->addWidget(closeButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(blocks, 1);
  layout->addWidget(clock);
  layout->addLayout(bottom);
  resize(520, 440);

  // FormCreate: the port, then the empty table.
  OpenLoaderPort(session_);
  UpdateTable();
  UpdateStatus();
  UpdateButtons();
}

TLoadForm::~TLoadForm() { CloseLoaderPort(session_); }

std::string TLoadForm::BlockName() const { return ToBoardText(nameEdit_->text()); }

// Blanks around the name are not stored, so they do not count against the
// field's 15 characters either.
void TLoadForm::SetBlockName(const std::string& name) {
  nameEdit_->setText(FromBoardText(TrimBlanks(name)));
}

void TLoadForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!shown_) {
    // After the window is up: reading the loader shows its progress here.
    QMetaObject::invokeMethod(this, &TLoadForm::FormShow, Qt::QueuedConnection);
  }
}

void TLoadForm::closeEvent(QCloseEvent* event) {
  // However it is closed, the window closes with OK.
  event->ignore();
  accept();
}

void TLoadForm::FormShow() {
  if (shown_ || closing_) return;
  sizeLabel_->setText(QStringLiteral("Размер данных: ") + QString::number(size_));
  shown_ = true;
  RefreshLoader();
  if (!closing_) table_->SelectRow(1);
}

// ---- Reading the loader -------------------------------------------------------

comm::LoaderOptions TLoadForm::Options() const {
  LoaderOptions options;
  options.speedIndex = SpeedIndex();
  return options;
}

void TLoadForm::Interrupted() {
  OwnedMessageBox(this, QStringLiteral("Внимание!"), FromBoardText(InterruptedText()),
                  QMessageBox::Ok, QMessageBox::Warning);
}

bool TLoadForm::ReadClock() {
  BoardClock c;
  if (!loader::CmdReadClock(session_, c)) return false;
  clockLabel_->setText(FromBoardText(FormatClockTime(c.hour, c.minute, c.second, false, false) +
                                     " " + FormatDotDate(TDateRec{c.day, c.month, c.year}, false)));
  return true;
}

void TLoadForm::RefreshLoader() {
  clockLabel_->setText(QStringLiteral("- - - -"));
  statusLabel_->setText(QStringLiteral("Чтение"));
  Progress(0);
  // A loader without data memory is listed all the same, then named below.
  LoaderOptions options = Options();
  options.requireDataMemory = false;
  const LoaderResult r = ListLoaderBlocks(session_, options, [this](int p) { Progress(p); }, contents_);
  connected_ = r.Done();
  if (r.Done()) {
    Progress(100);
  } else if (r.outcome == LoaderOutcome::Interrupted) {
    Interrupted();
  } else if (r.connected) {
    // The loader answered the handshake but not the reading.
    ConnectionError();
  }
  if (connected_ && !ReadClock()) {
    ConnectionError();
    return;
  }
  UpdateTable();
  UpdateStatus();
  UpdateButtons();
  if (connected_ && MemorySize(contents_.memoryType) == 0) {
    Error(QStringLiteral("Загрузчик не имеет памяти данных!"));
    closing_ = true;
    QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
  }
}

void TLoadForm::UpdateTable() {
  table_->Clear();
  if (!connected_) return;
  int number = 0;
  for (int entry : BlockEntries(contents_.directory)) {
    const DirEntry e = ReadEntry(contents_.directory, entry);
    const int row = table_->AddRow();
    table_->SetCell(0, row, QString::number(++number));
    table_->SetCell(1, row, FromBoardText(e.name));
    table_->SetCell(2, row, QString::number(e.size));
    table_->SetRowObject(row, &entryOfRow_[static_cast<size_t>(entry)]);
  }
}

void TLoadForm::UpdateStatus() {
  statusLabel_->setText(connected_ ? QStringLiteral("OK") : QStringLiteral("Ошибка"));
}

void TLoadForm::UpdateButtons() {
  for (QPushButton* b : {eraseButton_, eraseAllButton_, toFileButton_}) b->setEnabled(connected_);
  // With nothing compiled there is nothing to store.
  writeButton_->setEnabled(connected_ && size_ > 0);
}

void TLoadForm::Progress(int percent) {
  if (!shown_) return;
  setEnabled(false);
  gauge_->setValue(percent);
  QApplication::processEvents();
  setEnabled(true);
}

void TLoadForm::ConnectionError() {
  OwnedMessageBox(this, QStringLiteral("Ошибка!"), QStringLiteral("Ошибка соединения с загрузчиком"),
                  QMessageBox::Ok, QMessageBox::NoIcon);
}

void TLoadForm::Error(const QString& text) {
  OwnedMessageBox(this, QStringLiteral("Ошибка!"), text, QMessageBox::Ok, QMessageBox::Critical);
}

bool TLoadForm::AskYesNo(const QString& text) {
  return OwnedMessageBox(this, QStringLiteral("Внимание!"), text,
                         QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning,
                         QMessageBox::No) == QMessageBox::Yes;
}

int TLoadForm::SelectedEntry() const {
  if (table_->IsEmpty()) return -1;
  const int row = table_->CurrentRow();
  const auto* entry = static_cast<const int*>(table_->RowObject(row));
  return row >= 1 && entry ? *entry : -1;
}

// ---- Actions ------------------------------------------------------------------

void TLoadForm::Button2Click() {
  // A loader plugged in after the window opened, or one whose line went away
  // and came back, is reached only through a port opened afresh.
  if (!connected_ || !session_.Port().IsOpen()) {
    CloseLoaderPort(session_);
    if (!OpenLoaderPort(session_)) {
      connected_ = false;
      UpdateTable();
      UpdateStatus();
      UpdateButtons();
      return;
    }
  }
  RefreshLoader();
}

void TLoadForm::Button5Click() {
  if (!connected_ || size_ == 0) return;
  const std::vector<uint8_t> image(image_, image_ + size_);
  const auto progress = [this](int p) { Progress(p); };
  statusLabel_->setText(QStringLiteral("Запись"));
  LoaderOptions options = Options();
  LoaderResult r = StoreLoaderBlock(session_, options, image, BlockName(), progress, contents_);
  if (r.outcome == LoaderOutcome::NoFittingGap) {
    UpdateStatus();
    if (!AskYesNo(QStringLiteral("Нет свободного блока достаточного размера! Произвести оптимизацию?")))
      return;
    statusLabel_->setText(QStringLiteral("Оптимизация"));
    options.optimise = true;
    r = StoreLoaderBlock(session_, options, image, BlockName(), progress, contents_);
  }
  switch (r.outcome) {
    case LoaderOutcome::Done:
      RefreshLoader();
      return;
    case LoaderOutcome::NoConnection:
      // The handshake, the listing or the packing went unanswered.
      connected_ = false;
      ConnectionError();
      break;
    case LoaderOutcome::Interrupted:
      Interrupted();
      break;
    case LoaderOutcome::WriteFailed:
      connected_ = false;
      Error(FromBoardText(r.text));
      break;
    default:
      // Room, packing or the directory: the loader's contents, not the line.
      Error(FromBoardText(r.text));
      break;
  }
  UpdateTable();
  UpdateStatus();
  UpdateButtons();
}

void TLoadForm::Button3Click() {
  const int entry = SelectedEntry();
  if (!connected_ || entry < 0) return;
  const int row = table_->CurrentRow();
  if (!AskYesNo(QStringLiteral("Стереть блок №") + QString::number(row) + QStringLiteral("?")))
    return;
  const LoaderResult r = EraseLoaderEntry(session_, entry, contents_);
  if (r.Done()) {
    RefreshLoader();
    UpdateTable();
    return;
  }
  connected_ = false;
  UpdateStatus();
  UpdateButtons();
  if (r.outcome == LoaderOutcome::NoConnection) ConnectionError();
  else if (r.outcome == LoaderOutcome::Interrupted) Interrupted();
  else Error(FromBoardText(r.text));
}

void TLoadForm::Button4Click() {
  if (!connected_) return;
  if (!AskYesNo(QStringLiteral("Стереть все блоки?"))) return;
  statusLabel_->setText(QStringLiteral("Стирание"));
  LoaderOptions options = Options();
  options.requireDataMemory = false;
  const LoaderResult r = EraseAllLoaderEntries(session_, options, {}, contents_);
  if (r.Done()) {
    RefreshLoader();
    UpdateTable();
    UpdateStatus();
    return;
  }
  connected_ = false;
  UpdateStatus();
  UpdateButtons();
  if (r.outcome == LoaderOutcome::NoConnection) ConnectionError();
  else if (r.outcome == LoaderOutcome::Interrupted) Interrupted();
  else Error(FromBoardText(r.text));
}

void TLoadForm::Button6Click() {
  if (!AskYesNo(QStringLiteral(
          "При форматировании будет потеряна вся информация в загрузчике! Продолжить?")))
    return;
  statusLabel_->setText(QStringLiteral("Форматирование"));
  const LoaderResult r =
      FormatLoaderMemory(session_, Options(), [this](int p) { Progress(p); }, contents_);
  connected_ = false;
  if (r.Done()) {
    RefreshLoader();
    return;
  }
  UpdateStatus();
  UpdateButtons();
  if (r.outcome == LoaderOutcome::Interrupted) Interrupted();
  else ConnectionError();
}

void TLoadForm::Button7Click() {
  const int entry = SelectedEntry();
  if (entry < 0 || EntryEmpty(contents_.directory, entry)) return;
  std::string fileName;
  // The folder of the last block saved in this run, else the documents.
  static std::string lastFolder;
  std::string folder = DialogStartFolder(lastFolder);
  if (!ChooseSaveFile(this, QStringLiteral("Сохранить данные в файл"),
                      QStringLiteral("Двоичные файлы (*.bin)|*.bin|Все файлы|*.*"),
                      QStringLiteral("bin"), 0, fileName, true, true, folder)) {
    return;
  }
  lastFolder = folder;
  statusLabel_->setText(QStringLiteral("Чтение"));
  std::vector<uint8_t> data;
  const LoaderResult r =
      ReadLoaderBlock(session_, Options(), entry, [this](int p) { Progress(p); }, contents_, data);
  if (!r.Done()) {
    if (r.outcome == LoaderOutcome::Interrupted) Interrupted();
    else ConnectionError();
    statusLabel_->setText(QStringLiteral("Ошибка"));
    return;
  }
  statusLabel_->setText(QStringLiteral("OK"));
  if (!WriteFileAtomically(fileName, std::string_view(reinterpret_cast<const char*>(data.data()),
                                                      data.size()))) {
    ShowError("Не могу сохранить файл " + fileName);
  }
}

void TLoadForm::Button8Click() {
  connected_ = loader::CmdConnect(session_);
  Pause(kClockPauseMs);
  if (connected_) {
    loader::CmdSetClock(session_, LocalTimeNow());
    Pause(kClockPauseMs);
    connected_ = ReadClock();
  }
  UpdateStatus();
  UpdateButtons();
}

void TLoadForm::Button10Click() {
  const int slot = ChoosePasswordSlot(this, Settings().Password,
                                      QStringLiteral("Номер изменяемого пароля?"),
                                      QStringLiteral("В загрузчик"));
  if (slot >= 1) {
    ChangeStoredPassword(this, slot);
    return;
  }
  if (slot != -1) return;
  const auto error = [this](const QString& text) {
    OwnedMessageBox(this, QStringLiteral("Ошибка"), text, QMessageBox::Ok, QMessageBox::Critical);
  };
  if (!connected_) {
    error(QStringLiteral("Загрузчик не готов!"));
    return;
  }
  LoaderInfo info;
  connected_ = ReadLoaderInfo(session_, info) &&
               WritePasswords(session_, BuildPasswordArea(Settings().Password));
  UpdateTable();
  UpdateStatus();
  UpdateButtons();
  if (!connected_) error(QStringLiteral("Ошибка работы с загрузчиком!"));
}

void ShowLoaderWindow(const uint8_t* image, size_t size, TRecProject& project,
                      comm::LoaderSession& session, QWidget* parent) {
  TLoadForm form(image, size, project, session, parent);
  form.SetBlockName(project.LoaderBlockName);
  form.exec();
  project.SetLoaderBlockName(form.BlockName());
}

}  // namespace lentar::gui
