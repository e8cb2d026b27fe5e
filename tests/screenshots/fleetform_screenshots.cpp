// Screenshots of the fleet window "Парк табло" after a status check (the
// boards' clocks off), after "Синхронизировать часы", during a delivery of
// the open set to a group of five boards (one of them unreachable) and after
// it, after "Прервать" on a bus of three boards, of the delivery log window
// and of "Отправить в группу" during its delivery, against lentar-boardsim,
// taken on a real X display. Skipped unless LENTAR_SHOTS_DIR names the folder for the PNG
// files; run under Xvfb, for example:
//
//   scripts/screenshots.sh /tmp/shots
//
// or by hand (one command line):
//   LENTAR_SHOTS_DIR=/tmp/shots QT_QPA_PLATFORM=xcb
//     xvfb-run -a -s "-screen 0 1366x768x24" build/bin/fleetform_screenshots
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <filesystem>
#include <fstream>

#include "support/sim_process.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "fleet/register.h"
#include "gui/common/devicework.h"
#include "gui/common/messages.h"
#include "gui/common/qttranslations.h"
#include "gui/fleet/fleetform.h"
#include "gui/fleet/fleetlogform.h"
#include "gui/fleet/groupdeliveryform.h"
#include "screenshots/screenshots.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::shots;
using lentar::comm::testing::SimProcess;
namespace fs = std::filesystem;

namespace {

bool WorkDone(QWidget* window, int ms) {
  return QTest::qWaitFor(
      [window] {
        for (const TDeviceWork* work : window->findChildren<TDeviceWork*>())
          if (work->Busy()) return false;
        return true;
      },
      ms);
}

std::vector<std::string> PortLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// The computer's clock moved by seconds.
comm::ClockSource ShiftedClock(int seconds) {
  return [seconds] {
    const QDateTime t = QDateTime::currentDateTime().addSecs(seconds);
    DateTime d;
    d.year = t.date().year();
    d.month = t.date().month();
    d.day = t.date().day();
    d.dayOfWeek = t.date().dayOfWeek() % 7;
    d.hour = t.time().hour();
    d.minute = t.time().minute();
    d.second = t.time().second();
    return d;
  };
}

// Captures the modal dialog that comes up next, once painted, and closes it
// with Cancel; prepare fills it in first.
void CaptureDialog(const QString& file, bool& captured, std::function<void(QWidget*)> prepare = {}) {
  QTimer::singleShot(300, [file, &captured, prepare] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    if (prepare) prepare(dialog);
    Pump(400);
    captured = CaptureScreen(file);
    while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
    dialog->reject();
  });
}

}  // namespace

class FleetFormScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void fleetWindowAndLog() {
    LENTAR_SHOTS_FOLDER_OR_SKIP(shots);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const fs::path folder = dir.path().toStdString();
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((folder / "data").string()));
    Settings() = TSettings{};
    InstallQtTranslations(*QCoreApplication::instance());

    SimProcess sim;
    fs::create_directories(folder / "sim");
    QVERIFY(sim.StartListening(folder / "sim", false, {"--count", "5", "--fail-boards", "1", "--pace"}));
    const std::vector<std::string> lines = PortLines(folder / "sim" / "port");
    QCOMPARE(lines.size(), size_t{5});
    // Three kiosks on one RS-485 bus.
    SimProcess bus;
    fs::create_directories(folder / "bus");
    QVERIFY(bus.StartListening(folder / "bus", false, {"--count", "1", "--addresses", "1,2,3", "--pace"}));
    const std::vector<std::string> busLine = PortLines(folder / "bus" / "port");
    QCOMPARE(busLine.size(), size_t{1});
    {
      fleet::Register reg;
      std::string error;
      QVERIFY(reg.Open(FleetRegisterPath(), error));
      const char8_t* names[] = {u8"Аптека на Мира", u8"Аптека на Ленина", u8"Аптека у вокзала",
                                u8"Аптека в ТЦ «Север»", u8"Аптека на Садовой"};
      for (int i = 0; i < 5; ++i) {
        fleet::BoardRecord b;
        b.name = Utf8ToCp1251(names[i]);
        b.line = lines[i];
        b.groups = {Utf8ToCp1251(u8"Аптеки"), Utf8ToCp1251(i < 2 ? u8"Центр" : u8"Окраины")};
        b.note = Utf8ToCp1251(u8"витрина у входа");
        QVERIFY(reg.Add(b, error));
      }
      fleet::BoardRecord office;
      office.name = Utf8ToCp1251(u8"Офис, приёмная");
      office.line = "rfc2217://10.0.0.15:4001";
      office.address = 3;
      office.groups = {Utf8ToCp1251(u8"Офис")};
      QVERIFY(reg.Add(office, error));
      for (int i = 1; i <= 3; ++i) {
        fleet::BoardRecord kiosk;
        kiosk.name = Utf8ToCp1251(u8"Киоск у перрона ") + std::to_string(i);
        kiosk.line = busLine[0];
        kiosk.address = i;
        kiosk.groups = {Utf8ToCp1251(u8"Киоски")};
        QVERIFY(reg.Add(kiosk, error));
      }
    }

    std::string set;
    for (int i = 0; i < 120; ++i)
      set += Utf8ToCp1251(u8"Скидки на витамины до 20%! ") + std::to_string(i) + "\r\n";
    const FleetSet open{set, Utf8ToCp1251(u8"/home/operator/Наборы/Витрина.txt")};
    MessageCapture capture;  // the question before sending answered Yes
    TFleetForm form(nullptr, [&] { return open; });
    form.Run().SetLockFolder((folder / "locks").string());
    fleet::LinkOptions link;
    link.settleMs = 200;
    link.replyTimeoutMs = 800;
    form.Run().SetLink(link);
    QVERIFY(form.OpenRegister());
    form.move(20, 20);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // The pharmacies' clocks run 72 s fast, as they do after months.
    auto* group = form.findChild<QComboBox*>("GroupBox");
    group->setCurrentIndex(group->findText(QStringLiteral("Аптеки")));
    form.Run().SetClock(ShiftedClock(72));
    form.SyncClocks();
    QVERIFY(WorkDone(&form, 60000));
    form.Run().SetClock(nullptr);
    group->setCurrentIndex(0);

    form.CheckLinks();
    QVERIFY(WorkDone(&form, 60000));
    Pump(400);
    QVERIFY(CaptureScreen(shots + "/fleet-idle.png"));

    form.SyncClocks();
    QVERIFY(WorkDone(&form, 60000));
    Pump(400);
    QVERIFY(CaptureScreen(shots + "/fleet-synced.png"));

    // The edit dialog with the register's groups to choose from, and the
    // group dialog about to merge "Окраины" into "Центр".
    bool dialogCaptured = false;
    form.findChild<QTableWidget*>("BoardTable")->setCurrentCell(0, 0);
    CaptureDialog(shots + "/fleet-board-edit.png", dialogCaptured, [](QWidget* dialog) {
      if (auto* button = dialog->findChild<QToolButton*>("GroupsButton"))
        button->menu()->popup(button->mapToGlobal(QPoint(0, button->height())));
    });
    form.EditBoard();
    QVERIFY(dialogCaptured);
    group->setCurrentIndex(group->findText(QStringLiteral("Окраины")));
    dialogCaptured = false;
    CaptureDialog(shots + "/fleet-group-rename.png", dialogCaptured, [](QWidget* dialog) {
      if (auto* name = dialog->findChild<QComboBox*>("NameBox")) name->setEditText(QStringLiteral("центр"));
    });
    form.RenameGroup();
    QVERIFY(dialogCaptured);
    group->setCurrentIndex(0);

    group->setCurrentIndex(group->findText(QStringLiteral("Аптеки")));
    bool captured = false;
    QTimer::singleShot(2500, [&] { captured = CaptureScreen(shots + "/fleet-delivering.png"); });
    form.SendSet();
    QVERIFY(WorkDone(&form, 120000));
    QVERIFY(captured);
    Pump(400);
    QVERIFY(CaptureScreen(shots + "/fleet-delivered.png"));

    form.ShowLog();
    auto* log = form.findChild<TFleetLogForm*>("FleetLogForm");
    QVERIFY(log);
    log->move(60, 120);
    Pump(600);
    QVERIFY(CaptureScreen(shots + "/fleet-log.png"));
    log->close();

    // "Прервать" while the first kiosk of the bus is being loaded: it stops
    // with what it got, the two after it are not started.
    group->setCurrentIndex(group->findText(QStringLiteral("Киоски")));
    bool moving = false;
    const auto watch = connect(&form.Run(), &TFleetRun::progress, [&](int, int percent) {
      if (percent >= 30 && !moving) {
        moving = true;
        form.Interrupt();
      }
    });
    form.SendSet();
    QVERIFY(WorkDone(&form, 120000));
    disconnect(watch);
    QVERIFY(moving);
    Pump(400);
    QVERIFY(CaptureScreen(shots + "/fleet-aborted.png"));
    form.close();

    TGroupDeliveryForm send(nullptr, [&] { return open; });
    send.Run().SetLockFolder((folder / "locks").string());
    send.Run().SetLink(link);
    QVERIFY(send.OpenRegister());
    send.move(200, 120);
    send.show();
    QVERIFY(QTest::qWaitForWindowExposed(&send));
    auto* sendGroup = send.findChild<QComboBox*>("GroupBox");
    sendGroup->setCurrentIndex(sendGroup->findText(QStringLiteral("Центр")));
    captured = false;
    QTimer::singleShot(2000, [&] { captured = CaptureScreen(shots + "/group-delivering.png"); });
    send.Send();
    QVERIFY(WorkDone(&send, 120000));
    QVERIFY(captured);
    Pump(300);
    QVERIFY(CaptureScreen(shots + "/group-delivered.png"));
  }
};

QTEST_MAIN(FleetFormScreenshots)
#include "fleetform_screenshots.moc"
