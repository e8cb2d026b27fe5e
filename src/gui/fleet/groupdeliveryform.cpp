#include "gui/fleet/groupdeliveryform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "gui/common/messages.h"

namespace lentar::gui {

TGroupDeliveryForm::TGroupDeliveryForm(QWidget* parent, std::function<FleetSet()> openSet)
    : QDialog(parent), openSet_(std::move(openSet)), run_(std::make_unique<TFleetRun>(this)) {
  setObjectName(QStringLiteral("GroupDeliveryForm"));
  setWindowTitle(QStringLiteral("Отправить в группу"));

  groupBox_ = new QComboBox(this);
  groupBox_->setObjectName(QStringLiteral("GroupBox"));
  groupBox_->setMinimumContentsLength(20);
  auto* groupLabel = new QLabel(QStringLiteral("&Группа:"), this);
  groupLabel->setBuddy(groupBox_);
  auto* groupRow = new QHBoxLayout;
  groupRow->addWidget(groupLabel);
  groupRow->addWidget(groupBox_, 1);

  table_ = new QTableWidget(0, kColumns, this);
  table_->setObjectName(QStringLiteral("BoardTable"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Табло"), QStringLiteral("Линия"),
                                     QStringLiteral("Ход"), QStringLiteral("Результат")});
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);
  table_->setFocusPolicy(Qt::NoFocus);
  table_->setWordWrap(false);
  table_->verticalHeader()->setVisible(false);
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  table_->setColumnWidth(kName, 10 * em);
  table_->setColumnWidth(kLine, 13 * em);
  table_->setColumnWidth(kProgress, 7 * em);
  table_->horizontalHeader()->setSectionResizeMode(kResult, QHeaderView::Stretch);

  totalBar_ = new QProgressBar(this);
  totalBar_->setObjectName(QStringLiteral("TotalBar"));
  totalBar_->setRange(0, 100);
  totalBar_->setValue(0);
  summaryLabel_ = new QLabel(this);
  summaryLabel_->setObjectName(QStringLiteral("SummaryLabel"));
  summaryLabel_->setWordWrap(true);
  summaryLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  sendButton_ = new QPushButton(QStringLiteral("&Отправить"), this);
  sendButton_->setObjectName(QStringLiteral("SendButton"));
  sendButton_->setDefault(true);
  interruptButton_ = new QPushButton(QStringLiteral("&Прервать"), this);
  interruptButton_->setObjectName(QStringLiteral("InterruptButton"));
  interruptButton_->setAutoDefault(false);
  closeButton_ = new QPushButton(QStringLiteral("&Закрыть"), this);
  closeButton_->setObjectName(QStringLiteral("CloseButton"));
  closeButton_->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  for (QPushButton* b : {sendButton_, interruptButton_, closeButton_}) buttons->addWidget(b);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groupRow);
  layout->addWidget(table_, 1);
  layout->addWidget(totalBar_);
  layout->addWidget(summaryLabel_);
  layout->addLayout(buttons);
  resize(760, 420);

  connect(groupBox_, &QComboBox::currentIndexChanged, this, &TGroupDeliveryForm::ShowGroup);
  connect(sendButton_, &QPushButton::clicked, this, &TGroupDeliveryForm::Send);
  connect(interruptButton_, &QPushButton::clicked, this, &TGroupDeliveryForm::Interrupt);
  connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
  connect(run_.get(), &TFleetRun::attemptStarts, this, [this](int board, int attempt) {
    if (board < 0 || board >= static_cast<int>(boards_.size())) return;
    percent_[board] = 0;
    sent_[board] = false;
    attempted_[board] = true;
    if (QProgressBar* bar = Bar(board)) {
      bar->setValue(0);
      bar->setTextVisible(false);
    }
    table_->item(board, kResult)->setText(attempt > 1 ? QStringLiteral("попытка %1...").arg(attempt)
                                                      : QStringLiteral("отправка..."));
    UpdateTotal();
  });
  connect(run_.get(), &TFleetRun::progress, this, [this](int board, int percent) {
    if (board < 0 || board >= static_cast<int>(boards_.size())) return;
    percent_[board] = std::clamp(percent, 0, 100);
    sent_[board] = true;
    if (QProgressBar* bar = Bar(board)) {
      bar->setValue(percent_[board]);
      bar->setTextVisible(true);
    }
    UpdateTotal();
  });
  connect(run_.get(), &TFleetRun::attemptEnds, this,
          [this](int board, int, fleet::BoardOutcome outcome, const QString& message) {
            if (board < 0 || board >= static_cast<int>(boards_.size())) return;
            // A board stopped counts what it got, one not started nothing.
            const bool stopped = outcome == fleet::BoardOutcome::Interrupted ||
                                 outcome == fleet::BoardOutcome::NotStarted;
            settled_[board] = !stopped;
            if (outcome == fleet::BoardOutcome::Delivered) {
              percent_[board] = 100;
              sent_[board] = true;
              if (QProgressBar* bar = Bar(board)) {
                bar->setValue(100);
                bar->setTextVisible(true);
              }
            }
            auto* item = table_->item(board, kResult);
            item->setText(stopped && !attempted_[board]
                              ? NotStartedText()
                              : (message.isEmpty() ? OutcomeText(outcome) : message));
            item->setToolTip(item->text());
            UpdateTotal();
          });
  connect(run_.get(), &TFleetRun::lineBusy, this, [this](const QString& line) {
    summaryLabel_->setText(QStringLiteral("Линия «%1» занята другой программой; ожидание").arg(line));
  });
  connect(run_.get(), &TFleetRun::trouble, this,
          [this](const QString& text) { summaryLabel_->setText(text); });
  connect(run_.get(), &TFleetRun::delivered, this,
          [this](const std::vector<fleet::BoardResult>& results, const QString& error) {
            if (!error.isEmpty()) {
              summaryLabel_->setText(error);
              ShowError(error);
              return;
            }
            summaryLabel_->setText(DeliverySummary(results));
          });
  connect(run_.get(), &TFleetRun::finished, this, [this] {
    Busy(false);
    if (closeWhenDone_) reject();
  });
  Busy(false);
}

TGroupDeliveryForm::~TGroupDeliveryForm() = default;

bool TGroupDeliveryForm::OpenRegister() {
  if (!Opened()) {
    if (!OpenFleetRegister(this, register_)) return false;
    run_->SetRegister(register_->Path());
  }
  std::string error;
  std::vector<fleet::BoardRecord> boards;
  if (!register_->List(boards, error)) {
    ShowError(error);
    return false;
  }
  std::set<std::string> groups;
  for (const auto& b : boards) groups.insert(b.groups.begin(), b.groups.end());
  if (groups.empty()) {
    ShowInfo(QStringLiteral("В реестре табло нет ни одной группы. Задайте группы табло в окне "
                            "«Парк табло»."));
    return false;
  }
  {
    const QSignalBlocker quiet(groupBox_);
    groupBox_->clear();
    for (const auto& g : groups) groupBox_->addItem(FromBoardText(g));
  }
  ShowGroup();
  return true;
}

void TGroupDeliveryForm::ShowGroup() {
  if (run_->Busy() || !Opened()) return;
  std::string error;
  boards_.clear();
  if (groupBox_->currentIndex() >= 0 &&
      !register_->List(boards_, error, ToBoardText(groupBox_->currentText()))) {
    ShowError(error);
    boards_.clear();
  }
  percent_.assign(boards_.size(), 0);
  sent_.assign(boards_.size(), false);
  attempted_.assign(boards_.size(), false);
  settled_.assign(boards_.size(), false);
  table_->clearContents();
  table_->setRowCount(static_cast<int>(boards_.size()));
  for (int row = 0; row < static_cast<int>(boards_.size()); ++row) {
    const auto& b = boards_[row];
    QString line = FromBoardText(b.line);
    if (b.address >= 0) line += QStringLiteral(" #%1").arg(b.address);
    table_->setItem(row, kName, new QTableWidgetItem(FromBoardText(b.name)));
    table_->setItem(row, kLine, new QTableWidgetItem(line));
    table_->setItem(row, kResult, new QTableWidgetItem);
  }
  for (int column : {kName, kLine}) table_->resizeColumnToContents(column);
  totalBar_->setValue(0);
  summaryLabel_->setText(QStringLiteral("Табло в группе: %1").arg(boards_.size()));
  Busy(false);
}

QProgressBar* TGroupDeliveryForm::Bar(int board) const {
  return qobject_cast<QProgressBar*>(table_->cellWidget(board, kProgress));
}

void TGroupDeliveryForm::Send() {
  if (run_->Busy() || boards_.empty() || !openSet_) return;
  const FleetSet set = openSet_();
  percent_.assign(boards_.size(), 0);
  sent_.assign(boards_.size(), false);
  attempted_.assign(boards_.size(), false);
  settled_.assign(boards_.size(), false);
  for (int row = 0; row < static_cast<int>(boards_.size()); ++row) {
    auto* bar = new QProgressBar(table_);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);  // no figure until some of the image has gone out
    table_->setCellWidget(row, kProgress, bar);
    table_->item(row, kResult)->setText(QStringLiteral("ожидание"));
  }
  totalBar_->setValue(0);
  summaryLabel_->setText(QStringLiteral("Отправка набора «%1» в группу «%2»")
                             .arg(ShownSetName(set), groupBox_->currentText()));
  Busy(true);
  if (!run_->Deliver(boards_, set)) Busy(false);
}

void TGroupDeliveryForm::Interrupt() {
  if (!run_->Busy()) return;
  run_->Interrupt();
  interruptButton_->setEnabled(false);
  summaryLabel_->setText(QStringLiteral("Прерывание..."));
}

void TGroupDeliveryForm::UpdateTotal() {
  if (percent_.empty()) return;
  long long sum = 0;
  for (size_t i = 0; i < percent_.size(); ++i) sum += settled_[i] ? 100 : percent_[i];
  totalBar_->setValue(static_cast<int>(sum / static_cast<long long>(percent_.size())));
}

void TGroupDeliveryForm::Busy(bool busy) {
  groupBox_->setEnabled(!busy);
  sendButton_->setEnabled(!busy && !boards_.empty());
  interruptButton_->setEnabled(busy && !run_->Interrupted());
}

bool TGroupDeliveryForm::MayClose() {
  if (!run_->Busy()) return true;
  if (closeWhenDone_) return false;
  if (OwnedMessageBox(this, QStringLiteral("Подтверждение"),
                      QStringLiteral("Идёт отправка набора. Прервать её и закрыть окно?"),
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Question,
                      QMessageBox::No) != QMessageBox::Yes)
    return false;
  // The dialog goes once every line has stopped at a safe point.
  closeWhenDone_ = true;
  Interrupt();
  return false;
}

void TGroupDeliveryForm::done(int result) {
  if (!MayClose()) return;
  QDialog::done(result);
}

void TGroupDeliveryForm::closeEvent(QCloseEvent* event) {
  if (!MayClose()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace lentar::gui
