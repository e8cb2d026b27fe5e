#include "gui/fleet/fleetform.h"

#include <QApplication>
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
#include <QScrollBar>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "gui/fleet/boardeditform.h"
#include "gui/fleet/fleetlogform.h"
#include "gui/fleet/grouprenameform.h"
#include "gui/fleet/registerwatch.h"

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

// A row's gauge: empty, without a figure, until some of the image has gone
// out, so that a board still waiting never seems done.
QProgressBar* MakeRowBar(QWidget* parent, int percent, bool sent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setValue(sent ? percent : 0);
  bar->setTextVisible(sent);
  return bar;
}

void ShowOnBar(QProgressBar* bar, int percent, bool sent) {
  if (!bar) return;
  bar->setValue(sent ? percent : 0);
  bar->setTextVisible(sent);
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
  groupButton_ = new QPushButton(QStringLiteral("Пе&реименовать группу..."), this);
  groupButton_->setObjectName(QStringLiteral("GroupButton"));
  groupButton_->setAutoDefault(false);
  groupButton_->setToolTip(
      QStringLiteral("Переименовать выбранную группу или объединить её с другой"));
  connect(groupButton_, &QPushButton::clicked, this, &TFleetForm::RenameGroup);
  refreshButton_ = new QPushButton(QStringLiteral("Обновить"), this);
  refreshButton_->setObjectName(QStringLiteral("RefreshButton"));
  refreshButton_->setAutoDefault(false);
  refreshButton_->setShortcut(QKeySequence(Qt::Key_F5));
  refreshButton_->setToolTip(QStringLiteral("Прочитать реестр заново (F5)"));
  connect(refreshButton_, &QPushButton::clicked, this, &TFleetForm::Refresh);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(groupLabel);
  filterRow->addWidget(groupBox_);
  filterRow->addWidget(groupButton_);
  filterRow->addSpacing(12);
  filterRow->addWidget(searchLabel);
  filterRow->addWidget(searchEdit_, 1);
  filterRow->addSpacing(12);
  filterRow->addWidget(refreshButton_);

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
  // A text cut short keeps its start and its end (a line's port, a
  // message's reason); the tooltip has it whole.
  table_->setTextElideMode(Qt::ElideMiddle);
  table_->verticalHeader()->setVisible(false);
  table_->installEventFilter(this);
  QHeaderView* header = table_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  fit_.setSingleShot(true);
  fit_.setInterval(0);
  connect(&fit_, &QTimer::timeout, this, &TFleetForm::FitColumns);
  reloadRetry_.setSingleShot(true);
  reloadRetry_.setInterval(1000);
  connect(&reloadRetry_, &QTimer::timeout, this, &TFleetForm::RegisterChanged);

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
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);

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
    watch_ = std::make_unique<TRegisterWatch>(*register_, nullptr);
    connect(watch_.get(), &TRegisterWatch::changed, this, &TFleetForm::RegisterChanged);
  }
  Reload();
  return true;
}

void TFleetForm::RegisterChanged() {
  // Not while a dialog of the window is up (it works on the rows as they
  // were), nor during a run (its rows are live already): afterwards.
  if (run_->Busy() || QApplication::activeModalWidget()) {
    reloadPending_ = true;
    if (!run_->Busy()) reloadRetry_.start();
    return;
  }
  Reload();
}

void TFleetForm::Reload() {
  if (!Opened()) return;
  reloadPending_ = false;
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
  // The rows chosen, the current one and the scrolling survive the refill.
  std::set<std::string> selected;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows())
    if (index.row() < static_cast<int>(shown_.size())) selected.insert(shown_[index.row()].name);
  const int currentRow = table_->currentRow();
  const std::string current = currentRow >= 0 && currentRow < static_cast<int>(shown_.size())
                                  ? shown_[currentRow].name
                                  : std::string();
  const int scrolled = table_->verticalScrollBar()->value();

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
  QItemSelection selection;
  for (int row = 0; row < static_cast<int>(shown_.size()); ++row) {
    const auto& b = shown_[row];
    const QString name = FromBoardText(b.name);
    SetCell(row, kName, name, b.note.empty() ? name : name + QLatin1Char('\n') + FromBoardText(b.note));
    SetCell(row, kGroups, Joined(b.groups));
    SetCell(row, kLine, FromBoardText(b.line));
    SetCell(row, kAddress, AddressText(b.address));
    const auto online = online_.find(b.name);
    if (online != online_.end()) SetCell(row, kOnline, online->second.first, online->second.second);
    const auto drift = drift_.find(b.name);
    if (drift != drift_.end()) SetCell(row, kDrift, drift->second.first, drift->second.second);
    const auto last = lastAttempt_.find(b.name);
    if (last != lastAttempt_.end()) FillLastAttempt(row, last->second);
    FillRunRow(row, b.name);
    if (selected.count(b.name))
      selection.select(table_->model()->index(row, 0),
                       table_->model()->index(row, kColumns - 1));
  }
  table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  const int at = current.empty() ? -1 : RowOf(current);
  if (at >= 0)
    table_->selectionModel()->setCurrentIndex(table_->model()->index(at, kName),
                                              QItemSelectionModel::NoUpdate);
  else if (!shown_.empty())
    table_->selectionModel()->setCurrentIndex(table_->model()->index(0, kName),
                                              QItemSelectionModel::NoUpdate);
  table_->verticalScrollBar()->setValue(scrolled);
  FitColumns();
  Busy(run_->Busy());
}

void TFleetForm::FillRunRow(int row, const std::string& name) {
  const auto it = runRows_.find(name);
  if (it == runRows_.end()) return;
  const RunRow& r = it->second;
  if (r.logId >= 0) {
    // Once the run is over its row gives way to anything newer in the log:
    // another program's delivery to the board.
    const auto last = lastAttempt_.find(name);
    if ((last == lastAttempt_.end() ? 0 : last->second.id) != r.logId) {
      runRows_.erase(it);
      return;
    }
  }
  if (r.stopped && !r.attempted) {
    // Nothing was tried: the log's last attempt is an older one.
    const auto last = lastAttempt_.find(name);
    const QString before =
        last == lastAttempt_.end()
            ? QStringLiteral("Доставок на это табло в журнале нет.")
            : QStringLiteral("Последняя попытка в журнале: %1, «%2».")
                  .arg(TimeText(last->second.finished.empty() ? last->second.started
                                                              : last->second.finished),
                       FromBoardText(last->second.setFile));
    SetCell(row, kWhen, QStringLiteral("—"), before);
    SetCell(row, kWhat, runSet_);
    SetCell(row, kResult, r.result,
            QStringLiteral("Отправка прервана до того, как дошла очередь этого табло.\n") + before);
  } else if (!r.result.isEmpty()) {
    SetCell(row, kResult, r.result);
  }
  if (delivering_ || r.logId >= 0)
    table_->setCellWidget(row, kProgress, MakeRowBar(table_, r.percent, r.sent));
}

QProgressBar* TFleetForm::RowBar(int row) const {
  return row < 0 ? nullptr : qobject_cast<QProgressBar*>(table_->cellWidget(row, kProgress));
}

void TFleetForm::ScheduleFit() { fit_.start(); }

void TFleetForm::FitColumns() {
  // Every column as wide as what it holds. When that is wider than the
  // table, the columns of long free texts give way, the widest first, down
  // to a floor; what is left over goes to the result.
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  int want[kColumns] = {};
  for (int column = 0; column < kColumns; ++column) {
    if (column == kProgress) {
      want[column] = 7 * em;
      continue;
    }
    table_->resizeColumnToContents(column);
    want[column] = table_->columnWidth(column);
  }
  const Column yielding[] = {kName, kGroups, kLine, kOnline, kWhat, kResult};
  const auto yields = [&](int column) {
    return std::find(std::begin(yielding), std::end(yielding), column) != std::end(yielding);
  };
  int fixed = 0, widest = 0;
  for (int column = 0; column < kColumns; ++column) {
    if (yields(column)) widest = std::max(widest, want[column]);
    else fixed += want[column];
  }
  const int room = table_->viewport()->width();
  // A column gives way down to its floor, or to its own width if that is
  // less: the result, the text the operator reads first, keeps room for most
  // of a "Загрузка успешно завершена! (...)", a line for its address and
  // port, a name for a recognisable start; the rest for a few words.
  const auto floorOf = [&](int column) {
    switch (column) {
      case kResult: return 26 * em;
      case kLine: return 16 * em;
      case kName: return 12 * em;
      default: return 7 * em;
    }
  };
  const int least = 7 * em;
  const auto capped = [&](int column, int cap) {
    return std::min(want[column], std::max(cap, floorOf(column)));
  };
  const auto widthAt = [&](int cap) {
    int total = fixed;
    for (Column column : yielding) total += capped(column, cap);
    return total;
  };
  int width[kColumns];
  std::copy(std::begin(want), std::end(want), width);
  if (widthAt(widest) > room) {
    // The largest cap at which the table fits, or the floor.
    int low = least, high = std::max(least, widest);
    while (low < high) {
      const int mid = (low + high + 1) / 2;
      if (widthAt(mid) <= room) low = mid;
      else high = mid - 1;
    }
    for (Column column : yielding) width[column] = capped(column, low);
  } else {
    width[kResult] += room - widthAt(widest);
  }
  for (int column = 0; column < kColumns; ++column) table_->setColumnWidth(column, width[column]);
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
  const auto named = fleet::OutcomeFromName(entry.outcome);
  const bool known = named.has_value();
  const fleet::BoardOutcome outcome = named.value_or(fleet::BoardOutcome::Failed);
  SetCell(row, kResult,
          entry.outcome.empty()                 ? QStringLiteral("не завершена")
          : known || !entry.message.empty()     ? ResultText(outcome, entry.message)
                                                : FromBoardText(entry.outcome));
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
                                                    groupBox_, searchEdit_, groupButton_})
    w->setEnabled(!busy);
  groupButton_->setEnabled(!busy && groupBox_->currentIndex() > 0);
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

std::vector<std::string> TFleetForm::Groups() {
  std::vector<std::string> groups;
  std::string error;
  if (!register_->ListGroups(groups, error)) groups.clear();
  return groups;
}

void TFleetForm::AddBoard() {
  if (run_->Busy() || !Opened()) return;
  fleet::BoardRecord fresh;
  // A new board joins the group being looked at.
  if (groupBox_->currentIndex() > 0) fresh.groups.push_back(ToBoardText(groupBox_->currentText()));
  TBoardEditForm dialog(this, fresh, [this](const fleet::BoardRecord& b) { return Store({}, b); },
                        Groups());
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string name = dialog.Record().name;
  Reload();
  if (const int row = RowOf(name); row >= 0) table_->selectRow(row);
}

void TFleetForm::RenameGroup() {
  if (run_->Busy() || !Opened() || groupBox_->currentIndex() <= 0) return;
  const std::string group = ToBoardText(groupBox_->currentText());
  const int boards = static_cast<int>(std::count_if(all_.begin(), all_.end(), [&](const auto& b) {
    return std::find(b.groups.begin(), b.groups.end(), group) != b.groups.end();
  }));
  TGroupRenameForm dialog(this, group, boards, Groups(),
                          [this](const std::string& from, const std::string& to) {
                            std::string error;
                            if (register_->RenameGroup(from, to, error)) return true;
                            ShowError(error);
                            return false;
                          });
  if (dialog.exec() != QDialog::Accepted) return;
  const std::string into = dialog.MergedInto().empty() ? dialog.NewName() : dialog.MergedInto();
  Reload();
  // The filter follows the group to its new name.
  if (const int at = groupBox_->findText(FromBoardText(into)); at > 0) groupBox_->setCurrentIndex(at);
}

void TFleetForm::EditBoard() {
  if (run_->Busy() || !Opened()) return;
  const int row = table_->currentRow();
  if (row < 0 || row >= static_cast<int>(shown_.size())) return;
  const fleet::BoardRecord board = shown_[row];
  TBoardEditForm dialog(this, board,
                        [this, &board](const fleet::BoardRecord& b) { return Store(board.name, b); },
                        Groups());
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
  delivering_ = delivery;
  totalBar_->setValue(0);
  boardsRead_ = 0;
  if (delivery) {
    // A new delivery: the rows of the last one go back to what the log says.
    runRows_.clear();
    for (const auto& b : boards) runRows_[b.name].result = QStringLiteral("ожидание");
    for (int row = 0; row < table_->rowCount(); ++row) table_->removeCellWidget(row, kProgress);
    Refill();
  } else {
    for (const auto& b : boards)
      if (const int row = RowOf(b.name); row >= 0) SetCell(row, kOnline, QStringLiteral("проверка..."));
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
  QString question;
  if (set.Saved()) {
    question = QStringLiteral("Отправить набор «%1» на табло: %2?")
                   .arg(QFileInfo(FromBoardText(set.file)).fileName())
                   .arg(boards.size());
  } else {
    // The boards get the editor's text, which no file holds: the log names
    // it by its digest.
    const QString what =
        set.file.empty()
            ? QStringLiteral("Набор не сохранён в файл")
            : QStringLiteral("Набор «%1» изменён и не сохранён")
                  .arg(QFileInfo(FromBoardText(set.file)).fileName());
    question = QStringLiteral("%1: на табло уйдёт текст из редактора, в журнале он будет записан "
                              "как «%2».\n\nОтправить его на табло: %3?")
                   .arg(what, FromBoardText(LoggedSetName(set)))
                   .arg(boards.size());
  }
  if (OwnedMessageBox(this, QStringLiteral("Подтверждение"), question,
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                      QMessageBox::Yes) != QMessageBox::Yes)
    return;
  runSet_ = ShownSetName(set);
  StartRun(boards, true);
  if (!run_->Deliver(boards, set)) {
    running_.clear();
    runRows_.clear();
    Refill();
  }
}

void TFleetForm::Interrupt() {
  if (!run_->Busy()) return;
  run_->Interrupt();
  interruptButton_->setEnabled(false);
  statusLabel_->setText(QStringLiteral("Прерывание..."));
}

void TFleetForm::UpdateTotal() {
  if (!delivering_ || running_.empty()) return;
  // A board done with, whatever the outcome, counts whole; one stopped
  // counts what it got, one not started nothing: after "Прервать" the
  // gauge shows how much of the work was done.
  long long sum = 0;
  for (const auto& b : running_) {
    const RunRow& r = runRows_[b.name];
    sum += r.settled ? 100 : r.percent;
  }
  totalBar_->setValue(static_cast<int>(sum / static_cast<long long>(running_.size())));
}

void TFleetForm::AttemptStarts(int board, int attempt) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  RunRow& r = runRows_[running_[board].name];
  r.percent = 0;
  r.sent = false;
  r.attempted = true;
  r.result = attempt > 1 ? QStringLiteral("попытка %1...").arg(attempt) : QStringLiteral("отправка...");
  const int row = RowOf(running_[board].name);
  if (row >= 0) {
    SetCell(row, kResult, r.result);
    ShowOnBar(RowBar(row), 0, false);
  }
  UpdateTotal();
}

void TFleetForm::Progress(int board, int percent) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  RunRow& r = runRows_[running_[board].name];
  r.percent = std::clamp(percent, 0, 100);
  r.sent = true;
  ShowOnBar(RowBar(RowOf(running_[board].name)), r.percent, true);
  UpdateTotal();
}

void TFleetForm::AttemptEnds(int board, int, fleet::BoardOutcome outcome, const QString& message) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  RunRow& r = runRows_[running_[board].name];
  r.stopped = outcome == fleet::BoardOutcome::Interrupted ||
              outcome == fleet::BoardOutcome::NotStarted;
  r.settled = !r.stopped;
  if (outcome == fleet::BoardOutcome::Delivered) {
    r.percent = 100;
    r.sent = true;
  }
  r.result = r.stopped && !r.attempted ? NotStartedText()
                                       : (message.isEmpty() ? OutcomeText(outcome) : message);
  const int row = RowOf(running_[board].name);
  if (row >= 0) {
    if (r.stopped && !r.attempted) FillRunRow(row, running_[board].name);
    else SetCell(row, kResult, r.result);
    ShowOnBar(RowBar(row), r.percent, r.sent);
  }
  UpdateTotal();
  ScheduleFit();
}

void TFleetForm::BoardRead(int board, const fleet::BoardStatus& status) {
  if (board < 0 || board >= static_cast<int>(running_.size())) return;
  const std::string& name = running_[board].name;
  QString online, onlineTip, drift, driftTip;
  if (status.online) {
    online = QStringLiteral("да");
    // What was asked and not read is said so, never left blank.
    const QString unread = QStringLiteral("не прочитано");
    onlineTip = status.version
                    ? QStringLiteral("да, версия %1").arg(FromBoardText(*status.version))
                    : QStringLiteral("да, версия: %1").arg(unread);
    if (!status.shownBuffer || !status.capacity)
      onlineTip += QStringLiteral("; буферы: %1").arg(unread);
    if (!status.drift) {
      drift = unread;
      driftTip = QStringLiteral("Часы табло не прочитаны");
    } else {
      drift = DriftText(*status.drift);
      driftTip = QStringLiteral("Часы табло расходятся с часами компьютера на %1").arg(drift);
      if (status.clockSet && status.driftAfter) {
        // What the board's clock says now, not what it said before.
        drift = QStringLiteral("%1 (было %2)").arg(DriftText(*status.driftAfter), DriftText(*status.drift));
        driftTip = QStringLiteral("Часы поставлены по компьютеру: теперь расхождение %1, было %2")
                       .arg(DriftText(*status.driftAfter), DriftText(*status.drift));
      } else if (status.clockSet) {
        drift = QStringLiteral("поставлены (было %1)").arg(DriftText(*status.drift));
        driftTip = QStringLiteral("Часы поставлены по компьютеру, но заново не прочитаны; было %1")
                       .arg(DriftText(*status.drift));
      }
    }
  } else {
    online = status.interrupted ? QStringLiteral("не опрошено") : QStringLiteral("нет");
    if (!status.message.empty()) online += QStringLiteral(": ") + FromBoardText(status.message);
  }
  online_[name] = {online, onlineTip};
  drift_[name] = {drift, driftTip};
  ++boardsRead_;
  totalBar_->setValue(static_cast<int>(boardsRead_ * 100 / running_.size()));
  if (const int row = RowOf(name); row >= 0) {
    SetCell(row, kOnline, online, onlineTip);
    SetCell(row, kDrift, drift, driftTip);
  }
  ScheduleFit();
}

void TFleetForm::Delivered(const std::vector<fleet::BoardResult>& results, const QString& error) {
  if (!error.isEmpty()) {
    statusLabel_->setText(error);
    runRows_.clear();
    Refill();
    ShowError(error);
    return;
  }
  // The results stay in the rows until the log has something newer for a
  // board; the log's newest attempts come in beside them.
  std::vector<fleet::LogEntry> log;
  std::string why;
  if (register_->ReadLog({}, log, why))
    for (auto& entry : log) lastAttempt_[entry.board] = std::move(entry);
  for (const auto& b : running_) {
    const auto last = lastAttempt_.find(b.name);
    runRows_[b.name].logId = last == lastAttempt_.end() ? 0 : last->second.id;
  }
  Refill();
  UpdateTotal();
  statusLabel_->setText(DeliverySummary(results));
}

void TFleetForm::Swept(const std::vector<fleet::BoardStatus>& results) {
  if (results.empty()) {  // the register could not be opened for the sweep
    statusLabel_->clear();
    return;
  }
  int online = 0, set = 0;
  for (const auto& s : results) {
    online += s.online;
    set += s.clockSet;
  }
  QString text = QStringLiteral("На связи: %1 из %2").arg(online).arg(results.size());
  if (set) text += QStringLiteral(", часы поставлены: %1").arg(set);
  statusLabel_->setText(text);
}

void TFleetForm::RunFinished() {
  Busy(false);
  if (logForm_) logForm_->Reload();
  if (reloadPending_) Reload();
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

void TFleetForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous() || placed_) return;
  placed_ = true;
  RestoreWindowGeometry(*this, Settings().FleetCoor);
  ScheduleFit();
}

// The place is noted as it changes, so that the settings written when the
// editor ends have it even while the window is still open.
void TFleetForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (placed_ && isVisible()) Settings().FleetCoor = WindowGeometryRect(*this);
}

void TFleetForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (placed_ && isVisible()) Settings().FleetCoor = WindowGeometryRect(*this);
}

void TFleetForm::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  if (event->spontaneous()) return;  // minimised, not closed
  Settings().FleetCoor = WindowGeometryRect(*this);
}

bool TFleetForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == table_ && event->type() == QEvent::Resize) ScheduleFit();
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
