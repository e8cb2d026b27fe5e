#include "gui/fleet/fleetrun.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include "core/folders.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/devicework.h"
#include "gui/common/messages.h"

namespace lentar::gui {

namespace {

// Lines served at once: a window delivers to a shop chain's boards in one go,
// each line on its own.
constexpr int kJobs = 8;

}  // namespace

std::string FleetRegisterPath() {
  return Settings().FleetDatabase.empty() ? FleetDatabasePath() : Settings().FleetDatabase;
}

bool OpenFleetRegister(QWidget* owner, std::unique_ptr<fleet::Register>& reg) {
  reg = std::make_unique<fleet::Register>();
  std::string error;
  if (reg->Open(FleetRegisterPath(), error)) return true;
  if (!reg->ServerUnreachable()) {
    ShowError(error);
    return false;
  }
  // The office's server is down or out of reach: the operator may still
  // work with the boards of his own register.
  const std::string local = FleetDatabasePath();
  if (OwnedMessageBox(owner, QStringLiteral("Реестр табло"),
                      QStringLiteral("Общий реестр табло недоступен.\n%1\n\nОткрыть локальный "
                                     "реестр «%2»?")
                          .arg(FromBoardText(error), FromBoardText(local)),
                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning,
                      QMessageBox::Yes) != QMessageBox::Yes)
    return false;
  reg = std::make_unique<fleet::Register>();
  if (reg->Open(local, error)) return true;
  ShowError(error);
  return false;
}

QString NotStartedText() { return QStringLiteral("не начато"); }

QString OutcomeText(fleet::BoardOutcome outcome) {
  switch (outcome) {
    case fleet::BoardOutcome::Delivered: return QStringLiteral("Доставлено");
    case fleet::BoardOutcome::Failed: return QStringLiteral("Сбой линии");
    case fleet::BoardOutcome::Refused: return QStringLiteral("Отказ");
    case fleet::BoardOutcome::Skipped: return QStringLiteral("Пропущено");
    case fleet::BoardOutcome::Interrupted: return QStringLiteral("Прервано");
    case fleet::BoardOutcome::NotStarted: return QStringLiteral("Не начато");
  }
  return {};
}

QString ResultText(fleet::BoardOutcome outcome, const std::string& message) {
  return message.empty() ? OutcomeText(outcome) : FromBoardText(message);
}

QString DriftText(long long seconds) {
  return (seconds > 0 ? QStringLiteral("+") : QString()) + QString::number(seconds) +
         QStringLiteral(" с");
}

std::string LoggedSetName(const FleetSet& set) {
  if (set.Saved()) return set.file;
  const QByteArray digest = QCryptographicHash::hash(
      QByteArrayView(set.text.data(), static_cast<qsizetype>(set.text.size())),
      QCryptographicHash::Sha256);
  return Utf8ToCp1251(u8"(не сохранён) SHA-256 ") + digest.toHex().left(12).toStdString();
}

QString ShownSetName(const FleetSet& set) {
  const QString name = QFileInfo(FromBoardText(set.file)).fileName();
  if (name.isEmpty()) return QStringLiteral("(не сохранён)");
  return set.modified ? name + QStringLiteral(" (не сохранён)") : name;
}

bool NotStarted(const fleet::BoardResult& result) {
  return result.outcome == fleet::BoardOutcome::NotStarted ||
         (result.outcome == fleet::BoardOutcome::Interrupted && result.attempts == 0);
}

QString DeliverySummary(const std::vector<fleet::BoardResult>& results) {
  int delivered = 0, failed = 0, skipped = 0, interrupted = 0, notStarted = 0;
  for (const auto& r : results) {
    if (NotStarted(r)) {
      ++notStarted;
      continue;
    }
    switch (r.outcome) {
      case fleet::BoardOutcome::Delivered: ++delivered; break;
      case fleet::BoardOutcome::Skipped: ++skipped; break;
      case fleet::BoardOutcome::Interrupted: ++interrupted; break;
      default: ++failed; break;
    }
  }
  QString text = QStringLiteral("Доставлено: %1, не доставлено: %2, пропущено: %3")
                     .arg(delivered)
                     .arg(failed)
                     .arg(skipped);
  if (interrupted) text += QStringLiteral(", прервано: %1").arg(interrupted);
  if (notStarted) text += QStringLiteral(", не начато: %1").arg(notStarted);
  return text + QStringLiteral(" (всего табло: %1)").arg(results.size());
}

TFleetRun::TFleetRun(QObject* parent)
    : QObject(parent), work_(std::make_unique<TDeviceWork>(this)) {
  work_->setObjectName(QStringLiteral("FleetWork"));
  work_->SetStop(stop_.get());
  connect(work_.get(), &TDeviceWork::started, this, &TFleetRun::started);
  connect(work_.get(), &TDeviceWork::finished, this, &TFleetRun::finished);
}

TFleetRun::~TFleetRun() = default;

bool TFleetRun::Busy() const { return work_->Busy(); }

void TFleetRun::Interrupt() { work_->Interrupt(); }

bool TFleetRun::Interrupted() const { return work_->Interrupted(); }

bool TFleetRun::WriteDefaultSettings(std::string& path) {
  // The boards without a settings file of their own get the set as the
  // editor compiles it now, with the settings in force, saved or not.
  if (!scratch_) scratch_ = std::make_unique<QTemporaryDir>();
  path = scratch_->isValid() ? FromNativePath(scratch_->filePath(QStringLiteral("lentar.ini"))
                                                  .toStdString())
                             : std::string();
  if (path.empty() || !WriteSettings(Settings(), path)) {
    ShowError(QStringLiteral("Не удалось записать настройки во временную папку: %1")
                  .arg(scratch_->path()));
    return false;
  }
  return true;
}

bool TFleetRun::Deliver(const std::vector<fleet::BoardRecord>& boards, const FleetSet& set) {
  if (Busy()) return false;
  fleet::DeliveryOptions o;
  if (!WriteDefaultSettings(o.defaultSettings)) return false;
  // The text goes as the editor holds it; the log names the file only when
  // the file holds that text.
  o.source = LoggedSetName(set);
  o.sourceText = set.text;
  o.jobs = kJobs;
  o.replyTimeoutMs = link_.replyTimeoutMs;
  o.settleMs = link_.settleMs;
  o.dialTimeoutMs = link_.dialTimeoutMs;
  o.modemTimings = link_.modemTimings;
  o.stop = stop_;
  o.lockFolder = lockFolder_;
  TDeviceWork* work = work_.get();
  const std::string registerPath = registerAddress_.empty() ? FleetRegisterPath() : registerAddress_;
  struct Outcome {
    std::vector<fleet::BoardResult> results;
    std::string error;
  };
  return work->Run<Outcome>(
      [this, work, registerPath, boards, o] {
        Outcome out;
        fleet::Register reg;
        std::string why;
        // Without the register nothing goes out: the log would miss the
        // attempts, and a shared register's lines could not be locked.
        if (!reg.Open(registerPath, why)) {
          out.error = why;
          return out;
        }
        fleet::DeliveryEvents events;
        events.attemptStarts = [this, work](size_t b, int attempt) {
          work->Post([this, b, attempt] { emit attemptStarts(static_cast<int>(b), attempt); });
        };
        events.progress = [this, work](size_t b, int percent) {
          work->Post([this, b, percent] { emit progress(static_cast<int>(b), percent); });
        };
        events.attemptEnds = [this, work](size_t b, int attempt, fleet::BoardOutcome outcome,
                                          const std::string& message) {
          const QString text = FromBoardText(message);
          work->Post([this, b, attempt, outcome, text] {
            emit attemptEnds(static_cast<int>(b), attempt, outcome, text);
          });
        };
        events.lineBusy = [this, work](const std::string& line) {
          const QString text = FromBoardText(line);
          work->Post([this, text] { emit lineBusy(text); });
        };
        events.logFailed = [this, work](const std::string& error) {
          const QString text = FromBoardText(error);
          work->Post([this, text] {
            emit trouble(QStringLiteral("Журнал доставок не записан: %1").arg(text));
          });
        };
        fleet::Deliver(boards, o, &reg, events, out.results, out.error);
        return out;
      },
      [this](Outcome out) { emit delivered(out.results, FromBoardText(out.error)); });
}

bool TFleetRun::Sweep(const std::vector<fleet::BoardRecord>& boards, bool setClocks) {
  if (Busy()) return false;
  fleet::SweepOptions o;
  if (!WriteDefaultSettings(o.defaultSettings)) return false;
  o.jobs = kJobs;
  o.link = link_;
  // Every clock that is off by a second or more.
  o.setClockOver = setClocks ? 0 : -1;
  if (clock_) o.now = clock_;
  o.stop = stop_;
  o.lockFolder = lockFolder_;
  TDeviceWork* work = work_.get();
  const std::string registerPath = registerAddress_.empty() ? FleetRegisterPath() : registerAddress_;
  return work->Run<std::vector<fleet::BoardStatus>>(
      [this, work, registerPath, boards, o] {
        fleet::Register reg;
        std::string why;
        std::vector<fleet::BoardStatus> results;
        if (!reg.Open(registerPath, why)) {
          work->Post([why] { ShowError(why); });
          return results;
        }
        fleet::Sweep(boards, o, &reg,
                     [this, work](size_t b, const fleet::BoardStatus& status) {
                       work->Post([this, b, status] { emit boardRead(static_cast<int>(b), status); });
                     },
                     results);
        return results;
      },
      [this](std::vector<fleet::BoardStatus> results) { emit swept(results); });
}

}  // namespace lentar::gui
