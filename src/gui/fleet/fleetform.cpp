#include "gui/fleet/fleetform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "gui/common/messages.h"
#include "gui/fleet/boardeditform.h"
#include "gui/fleet/fleetlogform.h"

namespace lentar::gui {

namespace {

QString Joined(const std::vector<std::string>& texts) {
  QStringList list;
  for (const auto& t : texts) list << FromBoardText(t);
  return list.join(QStringLiteral(", "));
}

QString AddressText(int address) {
  return address < 0 ? QStringLiteral("—") : QString::number(address);
}

// "2026-12-11 08:15:02.123" as "2026-12-11 08:15:02".
QString TimeText(const std::string& logTime) {
  return FromBoardText(logTime.substr(0, std::min<size_t>(logTime.size(), 19)));
}

QProgressBar* MakeRowBar(QWidget* parent, int percent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setValue(percent);
  bar->setTextVisible(true);
  return bar;
}

}  // namespace

TFleetForm::TFleetForm(QWidget* parent, std::function<FleetSet()> openSet)
    : QWidget(parent, Qt::Window), openSet_(std::move(openSet)),
      run_(std::make_unique<TFleetRun>(this)) {
  setObjectName(QStringLiteral("FleetForm"));
  setWindowTitle(QStringLiteral("Парк табло"));

  groupBox_ = new QComboBox(this);
  groupBox_->setObjectName(QStringLiteral("GroupBox"));
  groupBox_->setMinimumContentsLength(16);
  searchEdit_ = new QLineEdit(this);
  searchEdit_->setObjectName(QStringLiteral("SearchEdit"));
  searchEdit_->setPlaceholderText(QStringLiteral("имя, линия, группа или примечание"));
  searchEdit_->setClearButtonEnabled(true);
  auto* groupLabel = new QLabel(QStringLiteral("&Группа:"), this);
  groupLabel->setBuddy(groupBox_);
  auto* searchLabel = new QLabel(QStringLiteral("П&оиск:"), this);
  searchLabel->setBuddy(searchEdit_);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(groupLabel);
  filterRow->addWidget(groupBox_);
  filterRow->addSpacing(12);
  filterRow->addWidget(searchLabel);
  filterRow->addWidget(searchEdit_, 1);

  table_ = new QTableWidget(0, kColumns, this);
  table_->setObjectName(QStringLiteral("BoardTable"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Имя"), QStringLiteral("Группы"), QStringLiteral("Линия"),
       QStringLiteral("Адрес"), QStringLiteral("На связи"), QStringLiteral("Часы"),
       QStringLiteral("Доставка"), QStringLiteral("Набор"), QStringLiteral("Результат"),
       QStringLiteral("Ход")});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);
  table_->setWordWrap(false);
  table_->verticalHeader()->setVisible(false);
  table_->installEventFilter(this);
  QHeaderView* header = table_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setSectionResizeMode(kResult, QHeaderView::Stretch);
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  const std::pair<Column, int> widths[] = {{kName, 11}, {kGroups, 10}, {kLine, 14}, {kAddress, 4},
                                           {kOnline, 10}, {kDrift, 5}, {kWhen, 11}, {kWhat, 9},
                                           {kProgress, 7}};
  for (const auto& [column, ems] : widths) table_->setColumnWidth(column, ems * em);

  const auto button = [this](const QString& caption, const char* name, void (TFleetForm::*slot)()) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    connect(b, &QPushButton::clicked, this, slot);
    return b;
  };
  addButton_ = button(QStringLiteral("&Добавить"), "AddButton", &TFleetForm::AddBoard);
  editButton_ = button(QStringLiteral("&Изменить"), "EditButton", &TFleetForm::EditBoard);
  removeButton_ = button(QStringLiteral("&Удалить"), "RemoveButton", &TFleetForm::RemoveBoard);
  checkButton_ = button(QStringLiteral("Проверить &связь"), "CheckButton", &TFleetForm::CheckLinks);
  sendButton_ = button(QStringLiteral("&Отправить набор"), "SendButton", &TFleetForm::SendSet);
  clockButton_ =
      button(QStringLiteral("Синхронизировать &часы"), "ClockButton", &TFleetForm::SyncClocks);
  interruptButton_ = button(QStringLiteral("&Прервать"), "InterruptButton", &TFleetForm::Interrupt);
  logButton_ = button(QStringLiteral("&Журнал"), "LogButton", &TFleetForm::ShowLog);
  closeButton_ = new QPushButton(QStringLiteral("&Закрыть"), this);
  closeButton_->setObjectName(QStringLiteral("CloseButton"));
  closeButton_->setAutoDefault(false);
  connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {addButton_, editButton_, removeButton_}) buttons->addWidget(b);
  buttons->addSpacing(16);
  for (QPushButton* b : {checkButton_, sendButton_, clockButton_, interruptButton_})
    buttons->addWidget(b);
  buttons->addSpacing(16);
  buttons->addWidget(logButton_);
  buttons->addStretch(1);
  buttons->addWidget(closeButton_);

  totalBar_ = new QProgressBar(this);
  totalBar_->setObjectName(QStringLiteral("TotalBar"));
  totalBar_->setRange(0, 100);
  totalBar_->setValue(0);
  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName(QStringLiteral("StatusLabel"));
  statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* totalRow = new QHBoxLayout;
  totalRow->addWidget(new QLabel(QStringLiteral("Всего:"), this));
  totalRow->addWidget(totalBar_, 1);
  totalRow->addWidget(statusLabel_, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filterRow);
  layout->addWidget(table_, 1);
  layout->addLayout(totalRow);
  layout->addLayout(buttons);
  resize(1320, 560);

  connect(groupBox_, &QComboBox::currentIndexChanged, this, &TFleetForm::Refill);
  connect(searchEdit_, &QLineEdit::textChanged, this, &TFleetForm::Refill);
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { EditBoard(); });
  connect(run_.get(), &TFleetRun::attemptStarts, this, &TFleetForm::AttemptStarts);
  connect(run_.get(), &TFleetRun::progress, this, &TFleetForm::Progress);
  connect(run_.get(), &TFleetRun::attemptEnds, this, &TFleetForm::AttemptEnds);
  connect(run_.get(), &TFleetRun::boardRead, this, &TFleetForm::BoardRead);
  connect(run_.get(), &TFleetRun::delivered, this, &TFleetForm::Delivered);
  connect(run_.get(), &TFleetRun::swept, this, &TFleetForm::Swept);
  connect(run_.get(), &TFleetRun::finished, this, &TFleetForm::RunFinished);
  connect(run_.get(), &TFleetRun::lineBusy, this, [this](const QString& line) {
    statusLabel_->setText(QStringLiteral("Линия «%1» занята другой программой; ожидание").arg(line));
  });
  connect(run_.get(), &TFleetRun::trouble, this, [this](const QString& text) {
    statusLabel_->setText(text);
  });
  Busy(false);
  table_->setFocus();
}

TFleetForm::~TFleetForm() = default;

bool TFleetForm::OpenRegister() {
  if (!Opened()) {
    if (!OpenFleetRegister(this, register_)) return false;
    run_->SetRegister(register_->Path());
  }
  Reload();
  return true;
}

void TFleetForm::Reload() {
  if (!Opened()) return;
  std::string error;
  std::vector<fleet::BoardRecord> boards;
  std::vector<fleet::LogEntry> log;
  if (!register_->List(boards, error) || !register_->ReadLog({}, log, error)) {
    ShowError(error);
    return;
  }
  all_ = std::move(boards);
  lastAttempt_.clear();
  for (auto& entry : log) lastAttempt_[entry.board] = std::move(entry);

  // The group list keeps the group chosen, while it still has boards.
  std::set<std::string> groups;
  for (const auto& b : all_) groups.insert(b.groups.begin(), b.groups.end());
  const QString chosen = groupBox_->currentIndex() > 0 ? groupBox_->currentText() : QString();
  {
    const QSignalBlocker quiet(groupBox_);
    groupBox_->clear();
    groupBox_->addItem(QStringLiteral("Все группы"));
    for (const auto& g : groups) groupBox_->addItem(FromBoardText(g));
    groupBox_->setCurrentIndex(std::max(0, groupBox_->findText(chosen)));
  }
  Refill();
}

void TFleetForm::Refill() {
  const std::string group =
      groupBox_->currentIndex() > 0 ? ToBoardText(groupBox_->currentText()) : std::string();
  const QString search = searchEdit_->text().trimmed();
  std::set<std::string> selected;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows())
    if (index.row() < static_cast<int>(shown_.size())) selected.insert(shown_[index.row()].name);

  shown_.clear();
  for (const auto& b : all_) {
    if (!group.empty() && std::find(b.groups.begin(), b.groups.end(), group) == b.groups.end())
      continue;
    if (!search.isEmpty()) {
      const QString haystack = FromBoardText(b.name) + QLatin1Char('\n') + Joined(b.groups) +
                               QLatin1Char('\n') + FromBoardText(b.line) + QLatin1Char('\n') +
                               FromBoardText(b.note);
      if (!haystack.contains(search, Qt::CaseInsensitive)) continue;
    }
    shown_.push_back(b);
  }

  table_->clearContents();
  table_->setRowCount(static_cast<int>(shown_.size()));
  for (int row = 0; row < static_cast<int>(shown_.size()); ++row) {
    const auto& b = shown_[row];
    SetCell(row, kName, FromBoardText(b.name), FromBoardText(b.note));
    SetCell(row, kGroups, Joined(b.groups));
    SetCell(row, kLine, FromBoardText(b.line));
    SetCell(row, kAddress, AddressText(b.address));
    const auto online = online_.find(b.name);
    if (online != online_.end()) SetCell(row, kOnline, online->second.first, online->second.second);
    const auto drift = drift_.find(b.name);
    if (drift != drift_.end()) SetCell(row, kDrift, drift->second.first, drift->second.second);
    const auto last = lastAttempt_.find(b.name);
    if (last != lastAttempt_.end()) FillLastAttempt(row, last->second);
    const auto percent = std::find_if(running_.begin(), running_.end(),
                                      [&](const fleet::BoardRecord& r) { return r.name == b.name; });
    if (percent != running_.end())
      table_->setCellWidget(row, kProgress,
                            MakeRowBar(table_, percent_[percent - running_.begin()]));
    if (selected.count(b.name)) table_->selectRow(row);
  }
  FitColumns();
  if (!shown_.empty() && !table_->currentIndex().isValid())
    table_->setCurrentCell(0, kName, QItemSelectionModel::NoUpdate);
  Busy(run_->Busy());
}

void TFleetForm::FitColumns() {
  // Every column as wide as what it holds, up to a limit; the result takes
  // the rest of the width.
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  for (int column = kName; column < kResult; ++column) {
    table_->resizeColumnToContents(column);
    table_->setColumnWidth(column, std::min(table_->columnWidth(column), 16 * em));
  }
}

void TFleetForm::SetCell(int row, int column, const QString& text, const QString& tip) {
  auto* item = table_->item(row, column);
  if (!item) {
    item = new QTableWidgetItem;
    table_->setItem(row, column, item);
  }
  item->setText(text);
  item->setToolTip(tip.isEmpty() ? text : tip);
}

void TFleetForm::FillLastAttempt(int row, const fleet::LogEntry& entry) {
  SetCell(row, kWhen, TimeText(entry.finished.empty() ? entry.started : entry.finished));
  const QString file = FromBoardText(entry.setFile);
  SetCell(row, kWhat, QFileInfo(file).fileName(), file);
  fleet::BoardOutcome outcome = fleet::BoardOutcome::Failed;
  for (auto o : {fleet::BoardOutcome::Delivered, fleet::BoardOutcome::Failed,
                 fleet::BoardOutcome::Refused, fleet::BoardOutcome::Skipped,
                 fleet::BoardOutcome::Interrupted})
    if (fleet::OutcomeName(o) == entry.outcome) outcome = o;
  SetCell(row, kResult,
          entry.outcome.empty() ? QStringLiteral("не завершена") : ResultText(outcome, entry.message));
}

int TFleetForm::RowOf(const std::string& name) const {
  for (size_t row = 0; row < shown_.size(); ++row)
    if (shown_[row].name == name) return static_cast<int>(row);
  return -1;
}

std::vector<fleet::BoardRecord> TFleetForm::Chosen() const {
  std::vector<int> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  if (rows.empty()) return shown_;
  std::vector<fleet::BoardRecord> boards;
  for (int row : rows)
    if (row < static_cast<int>(shown_.size())) boards.push_back(shown_[row]);
  return boards;
}

void TFleetForm::Busy(bool busy) {
  for (QWidget* w : std::initializer_list<QWidget*>{addButton_, editButton_, removeButton_,
                                                    checkButton_, sendButton_, clockButton_,
                                                    groupBox_, searchEdit_})
    w->setEnabled(!busy);
  const bool any = !shown_.empty();
  if (!busy) {
    editButton_->setEnabled(any);
    removeButton_->setEnabled(any);
    for (QPushButton* b : {checkButton_, sendButton_, clockButton_}) b->setEnabled(any);
  }
  interruptButton_->setEnabled(busy && !run_->Interrupted());
}

// ---- The register ------------------------------------------------------------------

bool TFleetForm::Store(const std::string& oldName, const fleet::BoardRecord& board) {
  std::string error;
  const bool stored =
      oldName.empty() ? register_->Add(board, error) : register_->Update(oldName, board, error);
  if (!stored) {
    ShowError(error);
    return false;
  }
  if (oldName != board.name) {
    online_.erase(oldName);
    drift_.erase(oldName);
  }
  return true;
}

void TFleetForm::AddBoard() {
  if (run_->Busy() || !Opened()) return;
  fleet::BoardRecord fresh;
  // A new board joins the group being looked at.
  if (groupBox_->currentIndex() > 0) fresh.groups.push_back(ToBoardText(groupBox_->currentText()));
  TBoardEditForm dialog(this, fresh, [this](const fleet::BoardRecord& b) { return Store({}, b); });
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = dialog.Record().name;
  Reload();
  if (const int row = RowOf(name); row >= 0) table_->selectRow(row);
}

void TFleetForm::EditBoard() {
  if (run_->Busy() || !Opened()) return;
  const int row = table_->currentRow();
  if (row < 0 || row >= static_cast<int>(shown_.size())) return;
  const fleet::BoardRecord board = shown_[row];
  TBoardEditForm dialog(this, board,
                        [this, &board](const fleet::BoardRecord& b) { return Store(board.name, b); });
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = dialog.Record().name;
  Reload();
  if (const int at = RowOf(name); at >= 0) table_->selectRow(at);
}

void TFleetForm::RemoveBoard() {
  if (run_->Busy() || !Opened()) return;
  std::vector<fleet::BoardRecord> boards;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows())
    if (index.row() < static_cast<int>(shown_.size())) boards.push_back(shown_[index.row()]);
  if (boards.empty() && table_->currentRow() >= 0 &&
      table_->currentRow() < static_cast<int>(shown_.size()))
    boards.push_back(shown_[table_->currentRow()]);
  if (boards.empty()) return;
  const QString question =
      boards.size() == 1
          ? QStringLiteral("Удалить табло «%1» из реестра?").arg(FromBoardText(boards[0].name))
          : QStringLiteral("Удалить из реестра табло: %1?").arg(boards.size());
  if (OwnedMessageBox(this, QStringLiteral("Подтверждение"), question,
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                      QMessageBox::No) != QMessageBox::Yes)
    return;
  for (const auto& b : boards) {
    std::string error;
    if (!register_->Remove(b.name, error)) {
      ShowError(error);
      break;
    }
    online_.erase(b.name);
    drift_.erase(b.name);
  }
  Reload();
}

// ---- Work on the boards --------------------------------------------------------------

void TFleetForm::StartRun(const std::vector<fleet::BoardRecord>& boards, bool delivery) {
  running_ = boards;
  percent_.assign(boards.size(), 0);
  totalBar_->setValue(0);
  for (const auto& b : boards) {
    const int row = RowOf(b.name);
    if (row < 0) continue;
    if (delivery) {
      SetCell(row, kResult, QStringLiteral("ожидание"));
      table_->setCellWidget(row, kProgress, MakeRowBar(table_, 0));
    } else {
      SetCell(row, kOnline, QStringLiteral("проверка..."));
    }
  }
  if (!delivery) {
    // The gauges of an earlier delivery are put away.
    for (int row = 0; row < table_->rowCount(); ++row) table_->removeCellWidget(row, kProgress);
  }
  statusLabel_->setText(delivery ? QStringLiteral("Отправка набора на табло: %1").arg(boards.size())
                                 : QStringLiteral("Опрос табло: %1").arg(boards.size()));
  Busy(true);
}

void TFleetForm::CheckLinks() {
  const auto boards = Chosen();
  if (boards.empty() || run_->Busy()) return;
  StartRun(boards, false);
  if (!run_->Sweep(boards, false)) RunFinished();
}

void TFleetForm::SyncClocks() {
  const auto boards = Chosen();
  if (boards.empty() || run_->Busy()) return;
  StartRun(boards, false);
  if (!run_->Sweep(boards, true)) RunFinished();
}

void TFleetForm::SendSet() {
  const auto boards = Chosen();
  if (boards.empty() || run_->Busy() || !openSet_) return;
  const FleetSet set = openSet_();
  const QString name =
      set.file.empty() ? QStringLiteral("(не сохранён)") : QFileInfo(FromBoardText(set.file)).fileName();
  if (OwnedMessageBox(this, QStringLiteral("Подтверждение"),
                      QStringLiteral("Отправить набор «%1» на табло: %2?").arg(name).arg(boards.size()),
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                      QMessageBox::Yes) != QMessageBox::Yes)
    return;
  StartRun(boards, true);
  if (!run_->Deliver(boards, set)) {
    running_.clear();
    Busy(false);
  }
}

void TFleetForm::Interrupt() {
  if (!run_->Busy()) return;
  run_->Interrupt();
  interruptButton_->setEnabled(false);
  statusLabel_->setText(QStringLiteral("Прерывание..."));
}

void TFleetForm::UpdateTotal() {
  if (percent_.empty()) return;
  long long sum = 0;
  for (int p : percent_) sum += p;
  totalBar_->setValue(static_cast<int>(sum / static_cast<long long>(percent_.size())));
}

void TFleetForm::AttemptStarts(int board, int attempt) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  percent_[board] = 0;
  const int row = RowOf(running_[board].name);
  if (row < 0) return;
  SetCell(row, kResult, attempt > 1 ? QStringLiteral("попытка %1...").arg(attempt)
                                    : QStringLiteral("отправка..."));
  if (auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgress))) bar->setValue(0);
  UpdateTotal();
}

void TFleetForm::Progress(int board, int percent) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  percent_[board] = std::clamp(percent, 0, 100);
  const int row = RowOf(running_[board].name);
  if (row >= 0)
    if (auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgress)))
      bar->setValue(percent_[board]);
  UpdateTotal();
}

void TFleetForm::AttemptEnds(int board, int, fleet::BoardOutcome outcome, const QString& message) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  // A board done with, whatever the outcome, counts whole in the total.
  percent_[board] = 100;
  const int row = RowOf(running_[board].name);
  if (row >= 0) {
    SetCell(row, kResult, message.isEmpty() ? OutcomeText(outcome) : message);
    if (outcome == fleet::BoardOutcome::Delivered)
      if (auto* bar = qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgress)))
        bar->setValue(100);
  }
  UpdateTotal();
}

void TFleetForm::BoardRead(int board, const fleet::BoardStatus& status) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  const std::string& name = running_[board].name;
  percent_[board] = 100;
  QString online, onlineTip, drift, driftTip;
  if (status.online) {
    online = QStringLiteral("да");
    onlineTip = status.version.empty() ? online
                                       : QStringLiteral("да, версия %1").arg(FromBoardText(status.version));
    if (status.clockRead) {
      drift = DriftText(status.drift);
      if (status.clockSet) drift += QStringLiteral(", поставлены");
    }
  } else {
    online = status.interrupted ? QStringLiteral("не опрошено") : QStringLiteral("нет");
    if (!status.message.empty()) online += QStringLiteral(": ") + FromBoardText(status.message);
  }
  online_[name] = {online, onlineTip};
  drift_[name] = {drift, driftTip};
  if (const int row = RowOf(name); row >= 0) {
    SetCell(row, kOnline, online, onlineTip);
    SetCell(row, kDrift, drift, driftTip);
  }
  UpdateTotal();
}

void TFleetForm::Delivered(const std::vector<fleet::BoardResult>& results, const QString& error) {
  if (!error.isEmpty()) {
    statusLabel_->setText(error);
    ShowError(error);
    return;
  }
  const QString summary = DeliverySummary(results);
  // The results stay in the rows; the log's newest attempts come in beside them.
  std::vector<fleet::LogEntry> log;
  std::string why;
  if (register_->ReadLog({}, log, why)) {
    for (auto& entry : log) lastAttempt_[entry.board] = std::move(entry);
    for (const auto& b : running_)
      if (const int row = RowOf(b.name); row >= 0 && lastAttempt_.count(b.name)) {
        SetCell(row, kWhen, TimeText(lastAttempt_[b.name].finished));
        const QString file = FromBoardText(lastAttempt_[b.name].setFile);
        SetCell(row, kWhat, QFileInfo(file).fileName(), file);
      }
    FitColumns();
  }
  statusLabel_->setText(summary);
}

void TFleetForm::Swept(const std::vector<fleet::BoardStatus>& results) {
  if (results.empty()) {  // the register could not be opened for the sweep
    statusLabel_->clear();
    return;
  }
  int online = 0;
  for (const auto& s : results) online += s.online;
  statusLabel_->setText(QStringLiteral("На связи: %1 из %2").arg(online).arg(results.size()));
}

void TFleetForm::RunFinished() {
  Busy(false);
  if (logForm_) logForm_->Reload();
  if (closeWhenDone_) close();
}

void TFleetForm::ShowLog() {
  if (!Opened()) return;
  if (!logForm_) {
    logForm_ = new TFleetLogForm(this, *register_);
    logForm_->setAttribute(Qt::WA_DeleteOnClose);
  }
  logForm_->Reload();
  logForm_->show();
  logForm_->raise();
  logForm_->activateWindow();
}

// ---- The window ------------------------------------------------------------------

void TFleetForm::closeEvent(QCloseEvent* event) {
  if (run_->Busy()) {
    event->ignore();
    if (closeWhenDone_) return;
    if (OwnedMessageBox(this, QStringLiteral("Подтверждение"),
                        QStringLiteral("Идёт работа с табло. Прервать её и закрыть окно?"),
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                        QMessageBox::No) != QMessageBox::Yes)
      return;
    // The window goes once every line has stopped at a safe point.
    closeWhenDone_ = true;
    Interrupt();
    return;
  }
  if (logForm_) logForm_->close();
  QWidget::closeEvent(event);
}

bool TFleetForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      EditBoard();
      return true;
    }
    if (key == Qt::Key_Delete) {
      RemoveBoard();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace lentar::gui
