#include "gui/control/loadform.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <optional>
#include <string_view>

#include "comm/loaderprotocol.h"
#include "core/atomicfile.h"
#include "core/dates.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/devicework.h"
#include "gui/common/filedialogs.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"
#include "gui/common/tablegrid.h"
#include "gui/control/boardport.h"
#include "gui/control/pswform.h"
#include "markup/project.h"

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
  if (OpenLoaderPortQuiet(session, error, Settings())) return true;
  ShowError(PortErrorMessage(LoaderPortDevice(Settings()), error));
  return false;
}


TLoadForm::TLoadForm(const uint8_t* image, size_t size, TRecProject& project,
                     comm::LoaderSession& session, QWidget* parent)
    : QDialog(parent), image_(image), size_(size), project_(project), session_(session) {
  setObjectName(QStringLiteral("LoadForm"));
  setWindowTitle(QStringLiteral("Управление загрузчиком"));
  setModal(true);

  QGridLayout* top = BuildStatusRows();
  QGroupBox* blocks = BuildBlocksGroup();
  QGroupBox* clock = BuildClockGroup();
  QHBoxLayout* bottom = BuildBottomRow();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(blocks, 1);
  layout->addWidget(clock);
  layout->addLayout(bottom);
  resize(520, 440);

  // The device work: one piece at a time on the window's worker thread;
  // "Прервать" stops it through the session's stop flag.
  work_ = std::make_unique<TDeviceWork>(this);
  work_->SetStop(&session_.Stop());
  connect(work_.get(), &TDeviceWork::progress, gauge_, &QProgressBar::setValue);

  // FormCreate: the port, then the empty table.
  OpenLine();
  UpdateTable();
  UpdateStatus();
  UpdateButtons();
}

QPushButton* TLoadForm::AddButton(QWidget* parent, const QString& caption, const char* objectName,
                                   void (TLoadForm::*slot)()) {
  QPushButton* button = MakeButton(parent, caption, objectName);
  connect(button, &QPushButton::clicked, this, slot);
  return button;
}

// The data size, the gauge with "Прервать", the state and the block name.
QGridLayout* TLoadForm::BuildStatusRows() {
  sizeLabel_ = MakeLabel(this, QString(), "Label1");
  gauge_ = new QProgressBar(this);
  gauge_->setObjectName(QStringLiteral("Gauge1"));
  gauge_->setRange(0, 100);
  gauge_->setValue(0);
  gauge_->setTextVisible(false);
  // "Прервать", shown beside the gauge while device work runs.
  interruptButton_ = AddButton(this, QStringLiteral("Прервать"), "InterruptButton",
                               &TLoadForm::Interrupt);
  interruptButton_->hide();
  statusLabel_ = MakeLabel(this, QString(), "Label3");
  statusLabel_->setMinimumWidth(110);
  nameEdit_ = MakeEdit(this, "Edit1");
  // The loader's directory keeps 15 characters of a name: the field takes no
  // more, so nothing typed is cut off silently when the block is stored.
  nameEdit_->setMaxLength(static_cast<int>(kLoaderNameLength));
  QLabel* nameLabel = MakeLabel(this, QStringLiteral("Имя:"), "Label2");
  nameLabel->setBuddy(nameEdit_);

  auto* top = new QGridLayout;
  top->addWidget(sizeLabel_, 0, 0, 1, 2);
  top->addWidget(statusLabel_, 0, 2, Qt::AlignRight);
  auto* gaugeRow = new QHBoxLayout;
  gaugeRow->addWidget(gauge_, 1);
  gaugeRow->addWidget(interruptButton_);
  top->addLayout(gaugeRow, 1, 0, 1, 3);
  top->addWidget(nameLabel, 2, 0);
  top->addWidget(nameEdit_, 2, 1, 1, 2);
  top->setColumnStretch(1, 1);
  return top;
}

// " Блоки данных ": the table beside its buttons.
QGroupBox* TLoadForm::BuildBlocksGroup() {
  QGroupBox* blocks = MakeGroup(this, QStringLiteral(" Блоки данных "), "GroupBox1");
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
  eraseButton_ = AddButton(this, QStringLiteral("Стереть"), "Button3", &TLoadForm::EraseClick);
  eraseAllButton_ = AddButton(this, QStringLiteral("Стереть все"), "Button4", &TLoadForm::EraseAllClick);
  writeButton_ = AddButton(this, QStringLiteral("Записать"), "Button5", &TLoadForm::WriteClick);
  toFileButton_ = AddButton(this, QStringLiteral("В файл"), "Button7", &TLoadForm::ToFileClick);
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
  return blocks;
}

// " Часы загрузчика ".
QGroupBox* TLoadForm::BuildClockGroup() {
  QGroupBox* clock = MakeGroup(this, QStringLiteral(" Часы загрузчика "), "GroupBox2");
  clockLabel_ = MakeLabel(clock, QStringLiteral("- - - -"), "Label4");
  clockLabel_->setMinimumWidth(150);
  clockButton_ = AddButton(this, QStringLiteral("Синхр."), "Button8", &TLoadForm::SyncClockClick);
  auto* clockLayout = new QHBoxLayout(clock);
  clockLayout->addWidget(clockLabel_, 1);
  clockLayout->addWidget(clockButton_);
  return clock;
}

// The loader's own commands and "Закрыть".
QHBoxLayout* TLoadForm::BuildBottomRow() {
  refreshButton_ = AddButton(this, QStringLiteral("Обновить"), "Button2", &TLoadForm::RefreshClick);
  formatButton_ = AddButton(this, QStringLiteral("Форматировать"), "Button6", &TLoadForm::FormatClick);
  passwordsButton_ = AddButton(this, QStringLiteral("Пароли"), "Button10", &TLoadForm::PasswordsClick);
  closeButton_ = MakeButton(this, QStringLiteral("Закрыть"), "Button1");
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::accept);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(refreshButton_);
  bottom->addWidget(formatButton_);
  bottom->addWidget(passwordsButton_);
  bottom->addStretch(1);
  bottom->addWidget(closeButton_);
  return bottom;
}

TLoadForm::~TLoadForm() {
  // Work still running stops at its next safe point (a question it waits on
  // given up) before the line closes.
  work_.reset();
  CloseLoaderPort(session_);
}

bool TLoadForm::Busy() const { return work_->Busy(); }

bool TLoadForm::HoldLine() {
  const std::string device = LoaderPortDevice(Settings());
  if (line_ || device.empty()) return true;  // no port: the opening says so
  struct Taken {
    std::unique_ptr<fleet::LineUse> use;
    std::string why;
    bool busy = false;
  };
  fleet::LineUseOptions options;
  options.registerAddress = Settings().FleetDatabase;
  options.wait = false;
  for (;;) {
    // A shared register is reached over the network: the window keeps
    // answering while the worker takes the line.
    auto taken = std::make_shared<Taken>();
    QEventLoop loop;
    const bool started = work_->Run(
        [taken, device, options] {
          taken->use = fleet::LineUse::Take(device, options, nullptr, {}, taken->why, taken->busy);
        },
        [&loop] { loop.quit(); });
    if (!started) return false;
    loop.exec();
    if (taken->use) {
      line_ = std::move(taken->use);
      return true;
    }
    if (!taken->busy) {
      Error(FromBoardText(taken->why));
      return false;
    }
    if (OwnedMessageBox(this, QStringLiteral("Линия занята"),
                        FromBoardText(taken->why) +
                            QStringLiteral("\nПовторить, когда линия освободится?"),
                        QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Warning,
                        QMessageBox::Cancel) != QMessageBox::Retry)
      return false;
  }
}

bool TLoadForm::OpenLine() { return HoldLine() && OpenLoaderPort(session_); }

void TLoadForm::done(int result) {
  if (Busy()) {
    closeAfterWork_ = true;
    Interrupt();
    return;
  }
  QDialog::done(result);
}

void TLoadForm::Interrupt() {
  if (!Busy()) return;
  work_->Interrupt();
  interruptButton_->setEnabled(false);
  statusLabel_->setText(QStringLiteral("Прерывание..."));
}

bool TLoadForm::AskFromWork(std::function<bool()> ask) {
  return work_->Ask<bool>(std::move(ask), false);
}

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
  RunWork(QStringLiteral("Чтение"), [this](Work& w, const LoaderProgress& p) { ListOnWorker(w, p); },
          [this](Work& w) {
            ShowListing(w);
            if (!closing_) table_->SelectRow(1);
          });
}

void TLoadForm::RunWork(const QString& status, WorkFn work, std::function<void(Work&)> done) {
  if (Busy()) return;
  auto state = std::make_shared<Work>();
  state->contents = contents_;
  state->options = Options();
  // The gauge follows the work through queued signals: the window's thread
  // never waits for the line.
  TDeviceWork* device = work_.get();
  const LoaderProgress progress = [device](int percent) { device->Progress(percent); };
  statusLabel_->setText(status);
  gauge_->setValue(0);
  EnableDeviceControls(false);
  interruptButton_->setEnabled(true);
  interruptButton_->show();
  work_->Run([state, work = std::move(work), progress] { work(*state, progress); },
             [this, state, done = std::move(done)] {
               interruptButton_->hide();
               contents_ = state->contents;
               EnableDeviceControls(true);
               if (closeAfterWork_) {
                 QDialog::done(QDialog::Accepted);
                 return;
               }
               if (done) done(*state);
             });
}

void TLoadForm::EnableDeviceControls(bool enable) {
  for (QPushButton* b : {refreshButton_, formatButton_, passwordsButton_, clockButton_})
    b->setEnabled(enable);
  if (enable) {
    UpdateButtons();
  } else {
    for (QPushButton* b : {eraseButton_, eraseAllButton_, toFileButton_, writeButton_}) b->setEnabled(false);
  }
}

// ---- Reading the loader -------------------------------------------------------

comm::LoaderOptions TLoadForm::Options() const {
  LoaderOptions options;
  options.speedIndex = SpeedIndex();
  return options;
}

void TLoadForm::Interrupted() {
  // Nothing reads as done: the status says the work was stopped.
  statusLabel_->setText(QStringLiteral("Прервано"));
  gauge_->setValue(0);
  OwnedMessageBox(this, QStringLiteral("Внимание!"), FromBoardText(InterruptedText()),
                  QMessageBox::Ok, QMessageBox::Warning);
}

void TLoadForm::ShowClock(const BoardClock& c) {
  clockLabel_->setText(FromBoardText(FormatClockTime(c.hour, c.minute, c.second, false, false) +
                                     " " + FormatDotDate(TDateRec{c.day, c.month, c.year}, false)));
}

void TLoadForm::ListOnWorker(Work& w, const LoaderProgress& progress) {
  // A loader without data memory is sent no memory command: once the
  // handshake has told its type, only its clock is read, then it is named.
  LoaderOptions options = w.options;
  options.requireDataMemory = true;
  w.listed = true;
  w.list = ListLoaderBlocks(session_, options, progress, w.contents);
  if (w.list.Done() || w.list.outcome == LoaderOutcome::NoDataMemory)
    w.clockRead = loader::CmdReadClock(session_, w.clock);
}

void TLoadForm::RefreshLoader() {
  RunWork(QStringLiteral("Чтение"), [this](Work& w, const LoaderProgress& p) { ListOnWorker(w, p); },
          [this](Work& w) { ShowListing(w); });
}

void TLoadForm::ShowListing(Work& w) {
  clockLabel_->setText(QStringLiteral("- - - -"));
  const LoaderResult& r = w.list;
  const bool noDataMemory = r.outcome == LoaderOutcome::NoDataMemory;
  connected_ = r.Done() || noDataMemory;
  if (r.Done()) {
    gauge_->setValue(100);
  } else if (noDataMemory) {
    // Named below.
  } else if (r.outcome == LoaderOutcome::Interrupted) {
    // Said below, once the window shows what it knows.
  } else if (r.connected) {
    // The loader answered the handshake but not the reading.
    ConnectionError();
  }
  if (connected_ && !w.clockRead) {
    ConnectionError();
    return;
  }
  if (connected_) ShowClock(w.clock);
  UpdateTable();
  UpdateStatus();
  UpdateButtons();
  if (r.outcome == LoaderOutcome::Interrupted) Interrupted();
  if (connected_ && MemorySize(contents_.memoryType) == 0) {
    Error(FromBoardText(LoaderOutcomeText(LoaderOutcome::NoDataMemory)));
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
    table_->SetRowValue(row, entry);
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
  const int entry = table_->RowValue(row);
  return row >= 1 && entry >= 0 ? entry : -1;
}

// ---- Actions ------------------------------------------------------------------

void TLoadForm::RefreshClick() {
  if (Busy()) return;
  // A loader plugged in after the window opened, or one whose line went away
  // and came back, is reached only through a port opened afresh.
  if (!connected_ || !session_.Port().IsOpen()) {
    CloseLoaderPort(session_);
    if (!OpenLine()) {
      connected_ = false;
      UpdateTable();
      UpdateStatus();
      UpdateButtons();
      return;
    }
  }
  RefreshLoader();
}

void TLoadForm::WriteClick() {
  if (Busy() || !connected_ || size_ == 0) return;
  const std::vector<uint8_t> image(image_, image_ + size_);
  const std::string name = BlockName();
  const LoaderOptions options = Options();
  RunWork(
      QStringLiteral("Запись"),
      [this, image, name, options](Work& w, const LoaderProgress& progress) {
        w.result = StoreLoaderBlock(session_, options, image, name, progress, w.contents);
        if (w.result.outcome == LoaderOutcome::NoFittingGap) {
          // The operator is asked on the window's thread while the work waits.
          const bool pack = AskFromWork([this] {
            const bool yes = AskYesNo(QStringLiteral(
                "Нет свободного блока достаточного размера! Произвести оптимизацию?"));
            statusLabel_->setText(yes ? QStringLiteral("Оптимизация") : QStringLiteral("OK"));
            return yes;
          });
          if (!pack) return;
          LoaderOptions packing = options;
          packing.optimise = true;
          w.result = StoreLoaderBlock(session_, packing, image, name, progress, w.contents);
        }
        if (w.result.Done()) ListOnWorker(w, progress);
      },
      [this](Work& w) {
        const LoaderResult& r = w.result;
        switch (r.outcome) {
          case LoaderOutcome::Done:
            ShowListing(w);
            return;
          case LoaderOutcome::NoFittingGap:
            // The operator kept the loader as it was.
            UpdateStatus();
            return;
          case LoaderOutcome::NoConnection:
            // The handshake, the listing or the packing went unanswered.
            connected_ = false;
            ConnectionError();
            break;
          case LoaderOutcome::Interrupted:
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
        if (r.outcome == LoaderOutcome::Interrupted) Interrupted();
      });
}

void TLoadForm::EraseClick() {
  const int entry = SelectedEntry();
  if (Busy() || !connected_ || entry < 0) return;
  const int row = table_->CurrentRow();
  if (!AskYesNo(QStringLiteral("Стереть блок №") + QString::number(row) + QStringLiteral("?")))
    return;
  RunWork(
      QStringLiteral("Стирание"),
      [this, entry](Work& w, const LoaderProgress& progress) {
        w.result = EraseLoaderEntry(session_, entry, w.contents);
        if (w.result.Done()) ListOnWorker(w, progress);
      },
      [this](Work& w) { ShowListingOrFailure(w); });
}

void TLoadForm::ShowListingOrFailure(Work& w) {
  const LoaderResult& r = w.result;
  if (r.Done()) {
    ShowListing(w);
    return;
  }
  connected_ = false;
  UpdateStatus();
  UpdateButtons();
  if (r.outcome == LoaderOutcome::NoConnection) ConnectionError();
  else if (r.outcome == LoaderOutcome::Interrupted) Interrupted();
  else Error(FromBoardText(r.text));
}

void TLoadForm::EraseAllClick() {
  if (Busy() || !connected_) return;
  if (!AskYesNo(QStringLiteral("Стереть все блоки?"))) return;
  LoaderOptions options = Options();
  options.requireDataMemory = false;
  RunWork(
      QStringLiteral("Стирание"),
      [this, options](Work& w, const LoaderProgress& progress) {
        w.result = EraseAllLoaderEntries(session_, options, progress, w.contents);
        if (w.result.Done()) ListOnWorker(w, progress);
      },
      [this](Work& w) { ShowListingOrFailure(w); });
}

void TLoadForm::FormatClick() {
  if (Busy()) return;
  if (!AskYesNo(QStringLiteral(
          "При форматировании будет потеряна вся информация в загрузчике! Продолжить?")))
    return;
  const LoaderOptions options = Options();
  RunWork(
      QStringLiteral("Форматирование"),
      [this, options](Work& w, const LoaderProgress& progress) {
        w.result = FormatLoaderMemory(session_, options, progress, w.contents);
        if (w.result.Done()) ListOnWorker(w, progress);
      },
      [this](Work& w) {
        connected_ = false;
        if (w.result.Done()) {
          ShowListing(w);
          return;
        }
        UpdateStatus();
        UpdateButtons();
        if (w.result.outcome == LoaderOutcome::Interrupted) Interrupted();
        else ConnectionError();
      });
}

void TLoadForm::ToFileClick() {
  const int entry = SelectedEntry();
  if (Busy() || entry < 0 || EntryEmpty(contents_.directory, entry)) return;
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
  const LoaderOptions options = Options();
  RunWork(
      QStringLiteral("Чтение"),
      [this, options, entry](Work& w, const LoaderProgress& progress) {
        w.result = ReadLoaderBlock(session_, options, entry, progress, w.contents, w.data);
      },
      [this, fileName](Work& w) {
        if (!w.result.Done()) {
          statusLabel_->setText(QStringLiteral("Ошибка"));
          if (w.result.outcome == LoaderOutcome::Interrupted) Interrupted();
          else ConnectionError();
          return;
        }
        statusLabel_->setText(QStringLiteral("OK"));
        if (!WriteFileAtomically(fileName, std::string_view(reinterpret_cast<const char*>(w.data.data()),
                                                            w.data.size()))) {
          ShowError("Не могу сохранить файл " + fileName);
        }
      });
}

void TLoadForm::SyncClockClick() {
  if (Busy()) return;
  RunWork(
      statusLabel_->text(),
      [this](Work& w, const LoaderProgress&) {
        const bool answered = loader::CmdConnect(session_);
        Pause(kClockPauseMs);
        if (!answered) return;
        loader::CmdSetClock(session_, LocalTimeNow());
        Pause(kClockPauseMs);
        w.clockRead = loader::CmdReadClock(session_, w.clock);
      },
      [this](Work& w) {
        connected_ = w.clockRead;
        if (connected_) ShowClock(w.clock);
        UpdateStatus();
        UpdateButtons();
      });
}

void TLoadForm::PasswordsClick() {
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
  if (Busy()) return;
  const auto area = BuildPasswordArea(Settings().Password);
  RunWork(
      statusLabel_->text(),
      [this, area](Work& w, const LoaderProgress&) {
        LoaderInfo info;
        w.result.outcome = ReadLoaderInfo(session_, info) && WritePasswords(session_, area)
                               ? LoaderOutcome::Done
                               : LoaderOutcome::NoConnection;
      },
      [this, error](Work& w) {
        connected_ = w.result.Done();
        UpdateTable();
        UpdateStatus();
        UpdateButtons();
        if (!connected_) error(QStringLiteral("Ошибка работы с загрузчиком!"));
      });
}

void ShowLoaderWindow(const uint8_t* image, size_t size, TRecProject& project,
                      comm::LoaderSession& session, QWidget* parent) {
  TLoadForm form(image, size, project, session, parent);
  form.SetBlockName(project.LoaderBlockName);
  form.exec();
  project.SetLoaderBlockName(form.BlockName());
}

}  // namespace lentar::gui
