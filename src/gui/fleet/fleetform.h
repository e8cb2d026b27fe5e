// TFleetForm: "Парк табло", the window over the register of boards.
//
// The boards in a table (name, groups, line, address, whether each answered
// the last check and how far its clock is off, the last attempt of the log:
// when, which set, with what result), narrowed by a group and a search text.
// The register is changed here ("Добавить", "Изменить" or Enter, "Удалить"
// or Del); the boards are checked ("Проверить связь"), get the editor's open
// set ("Отправить набор": the selected boards, or every board shown when
// none is selected), get their clocks set ("Синхронизировать часы"). A
// delivery shows each board's gauge in its row and the whole run's gauge
// under the table; "Прервать" stops every line at its next safe point.
// "Журнал" opens the delivery log.
//
// The window follows the register: boards added, changed or removed by
// another program or operator, and the attempts they log, appear by
// themselves (see TRegisterWatch), the rows chosen staying chosen; "Обновить"
// (F5) reads it again at once. A group is renamed, or merged into another,
// with "Переименовать группу...". The columns are as wide as what they hold;
// when the table is too narrow, the longest texts give way, cut in the middle
// with the whole text in the tooltip. The window's place is kept in the
// settings; Escape closes it.
//
// The device work runs on a worker thread; the window keeps answering. While
// it runs the register is not changed from here, and closing the window asks
// first (and then stops the work before the window goes).
#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fleet/register.h"
#include "gui/fleet/fleetrun.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace lentar::gui {

class TFleetLogForm;
class TRegisterWatch;

class TFleetForm : public QWidget {
  Q_OBJECT

 public:
  // The table columns, in order.
  enum Column {
    kName, kGroups, kLine, kAddress, kOnline, kDrift, kWhen, kWhat, kResult, kProgress, kColumns
  };

  // openSet gives the editor's open set when a delivery starts.
  TFleetForm(QWidget* parent, std::function<FleetSet()> openSet);
  ~TFleetForm() override;

  bool Opened() const { return register_ && register_->IsOpen(); }
  // Opens the register and fills the table; false (after the message) when
  // the register cannot be used.
  bool OpenRegister();
  // Reads the register again (the boards and the log's last attempts).
  void Reload();
  // "Обновить" (F5).
  void Refresh() { Reload(); }
  TFleetRun& Run() { return *run_; }

  // The boards the table shows, in its order.
  const std::vector<fleet::BoardRecord>& Shown() const { return shown_; }

  // The commands.
  void AddBoard();
  void EditBoard();
  void RemoveBoard();
  void CheckLinks();
  void SendSet();
  void SyncClocks();
  void Interrupt();
  void ShowLog();
  // "Переименовать группу...": the group chosen in the filter.
  void RenameGroup();
  // The register's groups, for the dialogs to offer.
  std::vector<std::string> Groups();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What a board's row shows of the last delivery from this window: its
  // gauge, and its result while the log has nothing newer for it.
  struct RunRow {
    QString result;
    int percent = 0;
    bool sent = false;        // some of the image went out
    bool attempted = false;   // an attempt was begun
    bool settled = false;     // done with: delivered, failed, refused or skipped
    bool stopped = false;     // ended by "Прервать"
    long long logId = -1;     // the log's last attempt when the run ended; -1 while it runs
  };
  // The register changed elsewhere: read again when nothing is in the way.
  void RegisterChanged();
  void ScheduleFit();
  void Refill();
  void FitColumns();
  // The boards a command works on: the selected rows, else every row shown.
  std::vector<fleet::BoardRecord> Chosen() const;
  int RowOf(const std::string& name) const;
  void SetCell(int row, int column, const QString& text, const QString& tip = {});
  void FillLastAttempt(int row, const fleet::LogEntry& entry);
  void FillRunRow(int row, const std::string& name);
  QProgressBar* RowBar(int row) const;
  void StartRun(const std::vector<fleet::BoardRecord>& boards, bool delivery);
  void Busy(bool busy);
  void UpdateTotal();
  bool Store(const std::string& oldName, const fleet::BoardRecord& board);

  void AttemptStarts(int board, int attempt);
  void Progress(int board, int percent);
  void AttemptEnds(int board, int attempt, fleet::BoardOutcome outcome, const QString& message);
  void BoardRead(int board, const fleet::BoardStatus& status);
  void Delivered(const std::vector<fleet::BoardResult>& results, const QString& error);
  void Swept(const std::vector<fleet::BoardStatus>& results);
  void RunFinished();

  std::function<FleetSet()> openSet_;
  std::unique_ptr<fleet::Register> register_;
  // After the register: stops listening before the connection goes.
  std::unique_ptr<TRegisterWatch> watch_;
  std::vector<fleet::BoardRecord> all_;
  std::vector<fleet::BoardRecord> shown_;
  // The last attempt of each board in the log, by name.
  std::map<std::string, fleet::LogEntry> lastAttempt_;
  // What the last check found, by name: the cells survive a refill.
  std::map<std::string, std::pair<QString, QString>> online_, drift_;
  // The boards of the run going on (or the last one).
  std::vector<fleet::BoardRecord> running_;
  bool delivering_ = false;
  size_t boardsRead_ = 0;  // of the sweep going on
  // The last delivery's rows, by name, and the set it sent, as shown.
  std::map<std::string, RunRow> runRows_;
  QString runSet_;
  bool closeWhenDone_ = false;
  bool reloadPending_ = false;
  bool placed_ = false;
  QTimer reloadRetry_;
  QTimer fit_;

  QComboBox* groupBox_ = nullptr;
  QLineEdit* searchEdit_ = nullptr;
  QTableWidget* table_ = nullptr;
  QPushButton* addButton_ = nullptr;
  QPushButton* editButton_ = nullptr;
  QPushButton* removeButton_ = nullptr;
  QPushButton* checkButton_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* clockButton_ = nullptr;
  QPushButton* interruptButton_ = nullptr;
  QPushButton* logButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  QPushButton* refreshButton_ = nullptr;
  QPushButton* groupButton_ = nullptr;
  QProgressBar* totalBar_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QPointer<TFleetLogForm> logForm_;
  // Last: destroyed first, stopping and waiting for a run still going.
  std::unique_ptr<TFleetRun> run_;
};

}  // namespace lentar::gui
