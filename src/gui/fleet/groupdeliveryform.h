// TGroupDeliveryForm: "Отправить в группу", the editor's open set delivered
// to one group of the register without the fleet window: the group chosen,
// its boards listed, each with its gauge and result as the delivery goes, the
// whole run's gauge and the summary at the end. "Прервать" stops every line
// at its next safe point; closing the dialog while it runs asks first.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "fleet/register.h"
#include "gui/fleet/fleetrun.h"

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace lentar::gui {

class TGroupDeliveryForm : public QDialog {
  Q_OBJECT

 public:
  enum Column { kName, kLine, kProgress, kResult, kColumns };

  TGroupDeliveryForm(QWidget* parent, std::function<FleetSet()> openSet);
  ~TGroupDeliveryForm() override;

  bool Opened() const { return register_ && register_->IsOpen(); }
  // Opens the register and lists its groups; false (after the message) when
  // the register cannot be used or holds no group.
  bool OpenRegister();
  TFleetRun& Run() { return *run_; }
  const std::vector<fleet::BoardRecord>& Boards() const { return boards_; }

  void ShowGroup();
  void Send();
  void Interrupt();

 protected:
  void done(int result) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // True when the dialog may go now; asks and stops the run otherwise.
  bool MayClose();
  void Busy(bool busy);
  void UpdateTotal();
  QProgressBar* Bar(int board) const;

  std::function<FleetSet()> openSet_;
  std::unique_ptr<fleet::Register> register_;
  std::vector<fleet::BoardRecord> boards_;
  // Each board's percent, whether some of its image went out, whether an
  // attempt was begun, and whether it is done with (not stopped).
  std::vector<int> percent_;
  std::vector<char> sent_, attempted_, settled_;
  bool closeWhenDone_ = false;

  QComboBox* groupBox_ = nullptr;
  QTableWidget* table_ = nullptr;
  QProgressBar* totalBar_ = nullptr;
  QLabel* summaryLabel_ = nullptr;
  QPushButton* sendButton_ = nullptr;
  QPushButton* interruptButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;
  // Last: destroyed first, stopping and waiting for a run still going.
  std::unique_ptr<TFleetRun> run_;
};

}  // namespace lentar::gui
