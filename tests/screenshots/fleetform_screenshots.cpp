// Screenshots of the fleet window "Парк табло" idle after a status check,
// during a delivery of the open set to a group of five boards (one of them
// unreachable) and after it, of the delivery log window and of "Отправить в
// группу" during its delivery, against lentar-boardsim, taken on a real X
// display. Skipped unless LENTAR_SHOTS_DIR names the folder for the PNG
// files; run under Xvfb, for example:
//
//   scripts/screenshots.sh /tmp/shots
//
// or by hand (one command line):
//   LENTAR_SHOTS_DIR=/tmp/shots QT_QPA_PLATFORM=xcb
//     xvfb-run -a -s "-screen 0 1366x768x24" build/bin/fleetform_screenshots
#include <QApplication>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
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
    std::vector<std::string> lines;
    {
      std::ifstream in(folder / "sim" / "port");
      for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    }
    QCOMPARE(lines.size(), size_t{5});
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

    form.CheckLinks();
    QVERIFY(WorkDone(&form, 60000));
    Pump(400);
    QVERIFY(CaptureScreen(shots + "/fleet-idle.png"));

    auto* group = form.findChild<QComboBox*>("GroupBox");
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
    form.hide();

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
