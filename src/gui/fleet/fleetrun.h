// Work on many boards from a window: the open set delivered to a list of
// boards, the status sweep, the clocks set. It runs on a worker thread (the
// window's TDeviceWork) with a register connection of its own, since a
// register is used by the thread that opened it; what happens to each board
// reaches the window's thread as it happens, as the signals below.
//
// "Прервать" sets the one stop flag every line of the run shares: each line
// ends at its next safe point and its boards not reached are reported as
// interrupted.
#pragma once

#include <QObject>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "comm/stopflag.h"
#include "fleet/boardline.h"
#include "fleet/delivery.h"
#include "fleet/register.h"
#include "fleet/sweep.h"

namespace lentar::gui {

class TDeviceWork;

// The set a delivery sends: the editor's text as its file holds it, and the
// file it is kept in (the log names it).
struct FleetSet {
  std::string text;  // Windows-1251, CR LF line breaks
  std::string file;  // Windows-1251; empty for a set never saved
  // The text was changed since it was saved: the file does not hold what
  // the boards get.
  bool modified = false;
  bool Saved() const { return !file.empty() && !modified; }
};

// What the log notes as the set delivered: the file, when it holds the text
// sent; otherwise "(не сохранён) SHA-256 " and the start of the text's
// digest, which tells one unsaved text from another (Windows-1251).
std::string LoggedSetName(const FleetSet& set);
// The set as a question or a summary names it: the file's name, with
// "(не сохранён)" when the boards get something else.
QString ShownSetName(const FleetSet& set);

// The register the windows work with: the address lentar.ini names
// (FleetDatabase: a register shared on a database server), else the
// operator's own file.
std::string FleetRegisterPath();
// Opens it in a fresh reg. A refusal is shown; when the server of a shared
// register does not answer at all, the operator is told so and offered the
// local register instead. False when no register was opened.
bool OpenFleetRegister(QWidget* owner, std::unique_ptr<fleet::Register>& reg);

// The operator's word for an outcome: "Доставлено", "Сбой линии", ...
QString OutcomeText(fleet::BoardOutcome outcome);
// What a board's result cell shows after an attempt: the exact text the
// board work ended with, or the outcome's word when there is none.
QString ResultText(fleet::BoardOutcome outcome, const std::string& message);
// "+12 с", "-3 с", "0 с".
QString DriftText(long long seconds);
// A board the delivery was stopped before it was tried at all.
bool NotStarted(const fleet::BoardResult& result);
// What a board's result cell says for it.
QString NotStartedText();
// The summary of a finished delivery: "Доставлено: 4, не доставлено: 1,
// пропущено: 0 (всего табло: 5)", with ", прервано: N" and ", не начато: N"
// when a stop came, so that the counts add up to the boards.
QString DeliverySummary(const std::vector<fleet::BoardResult>& results);

class TFleetRun : public QObject {
  Q_OBJECT

 public:
  explicit TFleetRun(QObject* parent = nullptr);
  ~TFleetRun() override;

  bool Busy() const;
  // The line timings of every board (the defaults suit real boards).
  void SetLink(const fleet::LinkOptions& link) { link_ = link; }
  // The register the run notes its attempts in and, when it is shared,
  // locks its lines in: the one the window opened.
  void SetRegister(const std::string& address) { registerAddress_ = address; }
  // Where the lines' lock files are kept; empty: the usual per-user folder.
  void SetLockFolder(const std::string& folder) { lockFolder_ = folder; }
  // The clock the boards' clocks are compared with and set from (the
  // computer's by default).
  void SetClock(comm::ClockSource clock) { clock_ = std::move(clock); }

  // Starts delivering set to boards: compiled with each board's settings
  // file, or with the editor's present settings for a board without one.
  // False when other work runs.
  bool Deliver(const std::vector<fleet::BoardRecord>& boards, const FleetSet& set);
  // Starts reading every board; with setClocks the clock of each board that
  // is off is set from the computer's.
  bool Sweep(const std::vector<fleet::BoardRecord>& boards, bool setClocks);
  // "Прервать".
  void Interrupt();
  bool Interrupted() const;

 signals:
  void started();
  void attemptStarts(int board, int attempt);
  void progress(int board, int percent);
  void attemptEnds(int board, int attempt, lentar::fleet::BoardOutcome outcome,
                   const QString& message);
  // A board of the sweep was read (or found unreachable).
  void boardRead(int board, const lentar::fleet::BoardStatus& status);
  void lineBusy(const QString& line);
  // The run's own trouble (the log not written, the set unreadable).
  void trouble(const QString& text);
  // The delivery ended; error is set when it could not start at all.
  void delivered(const std::vector<lentar::fleet::BoardResult>& results, const QString& error);
  void swept(const std::vector<lentar::fleet::BoardStatus>& results);
  // After delivered or swept.
  void finished();

 private:
  // Writes the editor's settings where the worker reads them; false after
  // the error was reported.
  bool WriteDefaultSettings(std::string& path);

  std::unique_ptr<QTemporaryDir> scratch_;
  fleet::LinkOptions link_;
  std::string registerAddress_;
  std::string lockFolder_;
  comm::ClockSource clock_;
  comm::StopFlagPtr stop_ = std::make_shared<comm::StopFlag>();
  // Last: destroyed first, stopping and waiting for a run still going.
  std::unique_ptr<TDeviceWork> work_;
};

}  // namespace lentar::gui
