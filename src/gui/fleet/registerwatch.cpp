#include "gui/fleet/registerwatch.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QVariant>

#include "fleet/register.h"

namespace lentar::gui {

namespace {

// A delivery writes the log twice per board; a window is told once for a
// burst of such writes.
constexpr int kSettleMs = 300;

}  // namespace

TRegisterWatch::TRegisterWatch(fleet::Register& reg, QObject* parent)
    : QObject(parent), connection_(reg.ConnectionName()), shared_(reg.Shared()) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &TRegisterWatch::changed);
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (!db.isOpen()) return;
  if (shared_) {
    QSqlDriver* driver = db.driver();
    connect(driver, &QSqlDriver::notification, this,
            [this](const QString& name, QSqlDriver::NotificationSource source, const QVariant&) {
              // The window's own writes are shown by the window already.
              if (name == QLatin1String(fleet::Register::kChangeChannel) &&
                  source != QSqlDriver::SelfSource)
                Heard();
            });
    driver->subscribeToNotification(QLatin1String(fleet::Register::kChangeChannel));
    return;
  }
  poll_.setInterval(kPollMs);
  connect(&poll_, &QTimer::timeout, this, &TRegisterWatch::Poll);
  Poll();
  poll_.start();
}

TRegisterWatch::~TRegisterWatch() {
  if (!shared_) return;
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (db.isOpen())
    db.driver()->unsubscribeFromNotification(QLatin1String(fleet::Register::kChangeChannel));
}

void TRegisterWatch::Poll() {
  QSqlDatabase db = QSqlDatabase::database(QString::fromStdString(connection_), false);
  if (!db.isOpen()) return;
  QSqlQuery q(db);
  if (!q.exec(QStringLiteral("PRAGMA data_version")) || !q.next()) return;
  const long long version = q.value(0).toLongLong();
  q.finish();
  // The first answer is where the window's reading started.
  if (version_ >= 0 && version != version_) Heard();
  version_ = version;
}

void TRegisterWatch::Heard() {
  if (!settle_.isActive()) settle_.start();
}

}  // namespace lentar::gui
