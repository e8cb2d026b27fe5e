#include "gui/fleet/fleetlogform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <set>

#include "core/atomicfile.h"
#include "core/textutil.h"
#include "fleet/reports.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/fleet/fleetrun.h"

namespace lentar::gui {

namespace {

enum Column { kStarted, kFinished, kBoard, kGroups, kLine, kAttempt, kOutcome, kMessage, kSet,
              kSize, kOperator, kColumns };

QString OutcomeOf(const std::string& name) {
  if (const auto outcome = fleet::OutcomeFromName(name)) return OutcomeText(*outcome);
  // An attempt still running (or whose program was killed) has none; a
  // word this program does not know is shown as the log holds it.
  return name.empty() ? QStringLiteral("не завершена") : QString::fromStdString(name);
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const auto& t : texts) joined += (joined.empty() ? "" : ", ") + t;
  return joined;
}

}  // namespace

TFleetLogForm::TFleetLogForm(QWidget* parent, fleet::Register& reg)
    : QWidget(parent, Qt::Window), register_(reg) {
  setObjectName(QStringLiteral("FleetLogForm"));
  setWindowTitle(QStringLiteral("Журнал доставок"));

  boardBox_ = new QComboBox(this);
  boardBox_->setObjectName(QStringLiteral("BoardBox"));
  boardBox_->setMinimumContentsLength(14);
  groupBox_ = new QComboBox(this);
  groupBox_->setObjectName(QStringLiteral("GroupBox"));
  groupBox_->setMinimumContentsLength(14);
  periodBox_ = new QCheckBox(QStringLiteral("&Период с"), this);
  periodBox_->setObjectName(QStringLiteral("PeriodBox"));
  fromEdit_ = new QDateEdit(QDate::currentDate().addDays(-7), this);
  fromEdit_->setObjectName(QStringLiteral("FromEdit"));
  toEdit_ = new QDateEdit(QDate::currentDate(), this);
  toEdit_->setObjectName(QStringLiteral("ToEdit"));
  for (QDateEdit* e : {fromEdit_, toEdit_}) {
    e->setCalendarPopup(true);
    e->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  }
  auto* boardLabel = new QLabel(QStringLiteral("&Табло:"), this);
  boardLabel->setBuddy(boardBox_);
  auto* groupLabel = new QLabel(QStringLiteral("&Группа:"), this);
  groupLabel->setBuddy(groupBox_);
  auto* filterRow = new QHBoxLayout;
  filterRow->addWidget(boardLabel);
  filterRow->addWidget(boardBox_);
  filterRow->addSpacing(12);
  filterRow->addWidget(groupLabel);
  filterRow->addWidget(groupBox_);
  filterRow->addSpacing(12);
  filterRow->addWidget(periodBox_);
  filterRow->addWidget(fromEdit_);
  filterRow->addWidget(new QLabel(QStringLiteral("по"), this));
  filterRow->addWidget(toEdit_);
  filterRow->addStretch(1);

  table_ = new QTableWidget(0, kColumns, this);
  table_->setObjectName(QStringLiteral("LogTable"));
  table_->setHorizontalHeaderLabels(
      {QStringLiteral("Начало"), QStringLiteral("Конец"), QStringLiteral("Табло"),
       QStringLiteral("Группы"), QStringLiteral("Линия"), QStringLiteral("Попытка"),
       QStringLiteral("Итог"), QStringLiteral("Сообщение"), QStringLiteral("Набор"),
       QStringLiteral("Размер"), QStringLiteral("Оператор")});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);
  table_->setWordWrap(false);
  // A path keeps its file name, a message its reason; the tooltip has all.
  table_->setTextElideMode(Qt::ElideMiddle);
  table_->verticalHeader()->setVisible(false);
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  const std::pair<Column, int> widths[] = {{kStarted, 11}, {kFinished, 11}, {kBoard, 9},
                                           {kGroups, 8}, {kLine, 11}, {kAttempt, 4},
                                           {kOutcome, 7}, {kMessage, 18}, {kSet, 9},
                                           {kSize, 5}, {kOperator, 6}};
  for (const auto& [column, ems] : widths) table_->setColumnWidth(column, ems * em);
  table_->horizontalHeader()->setSectionResizeMode(kMessage, QHeaderView::Stretch);

  countLabel_ = new QLabel(this);
  countLabel_->setObjectName(QStringLiteral("CountLabel"));
  auto* exportButton = new QPushButton(QStringLiteral("&Экспорт в CSV..."), this);
  exportButton->setObjectName(QStringLiteral("ExportButton"));
  auto* closeButton = new QPushButton(QStringLiteral("&Закрыть"), this);
  closeButton->setObjectName(QStringLiteral("CloseButton"));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(countLabel_, 1);
  buttons->addWidget(exportButton);
  buttons->addWidget(closeButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filterRow);
  layout->addWidget(table_, 1);
  layout->addLayout(buttons);
  resize(1300, 520);

  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
  connect(exportButton, &QPushButton::clicked, this, &TFleetLogForm::Export);
  connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
  const auto refilter = [this] {
    if (!filling_) Reload();
  };
  connect(boardBox_, &QComboBox::currentIndexChanged, this, refilter);
  connect(groupBox_, &QComboBox::currentIndexChanged, this, refilter);
  connect(periodBox_, &QCheckBox::toggled, this, [this, refilter] {
    fromEdit_->setEnabled(periodBox_->isChecked());
    toEdit_->setEnabled(periodBox_->isChecked());
    refilter();
  });
  connect(fromEdit_, &QDateEdit::dateChanged, this, refilter);
  connect(toEdit_, &QDateEdit::dateChanged, this, refilter);
  fromEdit_->setEnabled(false);
  toEdit_->setEnabled(false);
}

void TFleetLogForm::FillChoices() {
  std::vector<fleet::BoardRecord> boards;
  std::vector<fleet::LogEntry> all;
  std::string error;
  std::set<std::string> names, groups;
  if (register_.List(boards, error))
    for (const auto& b : boards) {
      names.insert(b.name);
      groups.insert(b.groups.begin(), b.groups.end());
    }
  // Boards since removed keep their lines in the log.
  if (register_.ReadLog({}, all, error))
    for (const auto& e : all) names.insert(e.board);
  filling_ = true;
  for (auto [box, items, everything] :
       {std::tuple{boardBox_, &names, QStringLiteral("Все табло")},
        std::tuple{groupBox_, &groups, QStringLiteral("Все группы")}}) {
    const QString chosen = box->currentIndex() > 0 ? box->currentText() : QString();
    box->clear();
    box->addItem(everything);
    for (const auto& item : *items) box->addItem(FromBoardText(item));
    box->setCurrentIndex(std::max(0, box->findText(chosen)));
  }
  filling_ = false;
}

void TFleetLogForm::Reload() {
  if (!filling_) FillChoices();
  fleet::LogFilter filter;
  if (boardBox_->currentIndex() > 0) filter.board = ToBoardText(boardBox_->currentText());
  if (groupBox_->currentIndex() > 0) filter.group = ToBoardText(groupBox_->currentText());
  // The period is this computer's local days, compared with each attempt's
  // instant.
  long long untilMs = 0;
  if (periodBox_->isChecked()) {
    filter.since = fromEdit_->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
    untilMs = QDateTime(toEdit_->date().addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
  }
  std::vector<fleet::LogEntry> entries;
  std::string error;
  if (!register_.ReadLog(filter, entries, error)) {
    ShowError(error);
    return;
  }
  entries_.clear();
  for (auto& e : entries)
    if (untilMs == 0 || e.startedMs < untilMs) entries_.push_back(std::move(e));

  table_->clearContents();
  table_->setRowCount(static_cast<int>(entries_.size()));
  for (int row = 0; row < static_cast<int>(entries_.size()); ++row) {
    const auto& e = entries_[row];
    const QString texts[kColumns] = {
        FromBoardText(e.started.substr(0, 19)),
        FromBoardText(e.finished.substr(0, std::min<size_t>(e.finished.size(), 19))),
        FromBoardText(e.board),
        FromBoardText(Joined(e.groups)),
        FromBoardText(e.line) + (e.address >= 0 ? QStringLiteral(" #%1").arg(e.address) : QString()),
        QString::number(e.attempt),
        e.outcome.empty() ? QStringLiteral("не завершена") : OutcomeOf(e.outcome),
        FromBoardText(e.message),
        FromBoardText(e.setFile),
        QString::number(e.size),
        FromBoardText(e.operatorName)};
    for (int column = 0; column < kColumns; ++column) {
      auto* item = new QTableWidgetItem(texts[column]);
      item->setToolTip(column == kSize ? QStringLiteral("SHA-256: %1").arg(QString::fromStdString(e.sha256))
                                       : texts[column]);
      table_->setItem(row, column, item);
    }
  }
  const int em = fontMetrics().horizontalAdvance(QLatin1Char('M'));
  for (int column = 0; column < kColumns; ++column) {
    if (column == kMessage) continue;
    table_->resizeColumnToContents(column);
    table_->setColumnWidth(column, std::min(table_->columnWidth(column), (column == kSet ? 12 : 20) * em));
  }
  countLabel_->setText(QStringLiteral("Попыток: %1").arg(entries_.size()));
}

std::string TFleetLogForm::CsvText() const { return fleet::LogCsv(entries_); }

void TFleetLogForm::Export() {
  std::string file = Utf8ToCp1251(u8"журнал.csv");
  std::string folder;
  if (!ChooseSaveFile(this, QStringLiteral("Экспорт журнала доставок"),
                      QStringLiteral("Файлы CSV (*.csv)|*.csv|Все файлы|*.*"), QStringLiteral("csv"),
                      0, file, true, true, folder))
    return;
  if (!WriteFileAtomically(file, CsvText()))
    ShowError(QStringLiteral("Не удалось записать файл «%1»: %2")
                  .arg(FromBoardText(file), QString::fromLocal8Bit(std::strerror(errno))));
}

}  // namespace lentar::gui
