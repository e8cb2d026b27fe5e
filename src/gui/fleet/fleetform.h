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
// The device work runs on a worker thread; the window keeps answering. While
// it runs the register is not changed from here, and closing the window asks
// first (and then stops the work before the window goes).
#pragma once

#include <QPointer>
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

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Refill();
  void FitColumns();
  // The boards a command works on: the selected rows, else every row shown.
  std::vector<fleet::BoardRecord> Chosen() const;
  int RowOf(const std::string& name) const;
  void SetCell(int row, int column, const QString& text, const QString& tip = {});
  void FillLastAttempt(int row, const fleet::LogEntry& entry);
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
  std::vector<fleet::BoardRecord> all_;
  std::vector<fleet::BoardRecord> shown_;
  // The last attempt of each board in the log, by name.
  std::map<std::string, fleet::LogEntry> lastAttempt_;
  // What the last check found, by name: the cells survive a refill.
  std::map<std::string, std::pair<QString, QString>> online_, drift_;
  // The boards of the run going on, and each one's percent.
  std::vector<fleet::BoardRecord> running_;
  std::vector<int> percent_;
  bool closeWhenDone_ = false;

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
  QProgressBar* totalBar_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QPointer<TFleetLogForm> logForm_;
  // Last: destroyed first, stopping and waiting for a run still going.
  std::unique_ptr<TFleetRun> run_;
};

}  // namespace lentar::gui
