// Screenshots of the board window "Табло" on a direct line and through a
// modem (with a call up), of the dial dialog while it dials and of the
// automatic-brightness dialog, against lentar-boardsim, taken on a real X
// display. Skipped unless LENTAR_SHOTS_DIR names the folder for the PNG
// files; run under Xvfb, for example:
//
//   scripts/screenshots.sh /tmp/shots
//
// or by hand (one command line):
//   LENTAR_SHOTS_DIR=/tmp/shots QT_QPA_PLATFORM=xcb
//     xvfb-run -a -s "-screen 0 1280x800x24" build/bin/tabloform_screenshots
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/sim_process.h"
#include "core/project.h"
#include "core/settings.h"
#include "gui/common/messages.h"
#include "gui/control/autobrightform.h"
#include "gui/control/boardport.h"
#include "gui/control/tabloform.h"
#include "gui/gui_test_support.h"
#include "markup/fonts.h"
#include "screenshots/screenshots.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;
using namespace lentar::shots;
using lentar::comm::testing::SimProcess;
namespace fs = std::filesystem;

namespace {

// Runs handle on the modal dialog named name once it is up.
void WhenDialog(const QString& name, std::function<void(QWidget*)> handle, int tries = 1000) {
  QTimer::singleShot(20, [name, handle, tries] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog && dialog->objectName() == name) handle(dialog);
    else if (tries > 0) WhenDialog(name, handle, tries - 1);
  });
}

const comm::ModemTimings kQuick{0, 20, 20, 300, 0, 0};

}  // namespace

class TabloScreenshots : public QObject {
  Q_OBJECT

 private:
  QString shots_;
  std::vector<uint8_t> image_ = std::vector<uint8_t>(1234, 0x55);

 private slots:
  void init() {
    shots_ = ShotsFolder();
    if (shots_.isEmpty())
      QSKIP("set LENTAR_SHOTS_DIR and run on an X display (xvfb-run) for the screenshots");
    Settings() = TSettings{};
    DefaultSettings(Settings());
  }

  void directLineAndAutoBrightness() {
    const fs::path dir = comm::testing::TestFolder("lentar_tablo_shots", "direct");
    SimProcess sim;
    QVERIFY(sim.Start(dir, {}));
    Settings().TabPortDevice = sim.Link();
    QVERIFY(OpenBoardPort(true));
    comm::PreparePortRate(comm::BoardPort(), Settings().BaseSpeed, 0);
    TRecProject project(std::make_unique<TTabFontList>());
    {
      TTabloForm form(image_.data(), image_.size(), project);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      Pump(400);
      QVERIFY(CaptureScreen(shots_ + "/board-window-direct.png"));
      bool captured = false;
      WhenDialog(QStringLiteral("AutoBrightForm"), [&](QWidget* dialog) {
        Pump(400);
        captured = CaptureScreen(shots_ + "/auto-brightness.png");
        Click(dialog, "Button2");
      });
      Click(&form, "Button7");
      QVERIFY(captured);
    }
    CloseBoardPort();
    QVERIFY(sim.Stop());
    fs::remove_all(dir);
  }

  void modemCall() {
    const fs::path dir = comm::testing::TestFolder("lentar_tablo_shots", "modem");
    SimProcess sim;
    QVERIFY(sim.StartListening(dir, true, {"--modem", "--connect-delay-ms", "1500"}));
    Settings().UseModem = 1;
    Settings().ModemPortDevice = sim.Link();
    Settings().ModemInit = "AT&F";
    TRecProject project(std::make_unique<TTabFontList>());
    project.DialNumber = "8-800-555-35-35";
    {
      TTabloForm form(image_.data(), image_.size(), project);
      form.SetModemTimings(kQuick);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      Pump(400);
      QVERIFY(CaptureScreen(shots_ + "/board-window-modem-idle.png"));
      bool captured = false;
      WhenDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
        Click(dialog, "Button1");
        Pump(300);
        captured = CaptureScreen(shots_ + "/dial-dialog.png");
      });
      WhenDialog(QStringLiteral("InputForm"), [](QWidget* dialog) { Click(dialog, "okButton"); });
      Click(&form, "Button14");
      QVERIFY(captured);
      QTRY_COMPARE_WITH_TIMEOUT(form.findChild<QLabel*>("Label13")->text(),
                                QStringLiteral("Соединение установлено"), 20000);
      Pump(1000);
      QVERIFY(CaptureScreen(shots_ + "/board-window-modem-call.png"));
      Click(&form, "Button15");
    }
    CloseBoardPort();
    QVERIFY(sim.Stop());
    fs::remove_all(dir);
  }
};

QTEST_MAIN(TabloScreenshots)
#include "tabloform_screenshots.moc"
