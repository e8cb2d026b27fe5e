// Screenshots of the board window "Табло" on a direct line and through a
// modem (with a call up), after its line dropped, of the dial dialog while it dials and of the
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
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>
#include <thread>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "core/paths.h"
#include "core/settings.h"
#include "gui/common/messages.h"
#include "gui/common/progressform.h"
#include "gui/common/qttranslations.h"
#include "gui/control/autobrightform.h"
#include "gui/control/boardport.h"
#include "gui/control/tabloform.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "screenshots/screenshots.h"
#include "support/gui_test_support.h"
#include "support/sim_process.h"

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

// Runs handle on the message box once one is up.
void WhenMessageBox(std::function<void(QMessageBox*)> handle, int tries) {
  QTimer::singleShot(20, [handle, tries] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) handle(box);
    else if (tries > 0) WhenMessageBox(handle, tries - 1);
  });
}

// A simulated board on a direct line, in a fresh folder of its own, with the
// session the board window is handed.
struct DirectBoard {
  explicit DirectBoard(const char* name)
      : dir(comm::testing::TestFolder("lentar_tablo_shots", name)) {}
  ~DirectBoard() {
    Close();
    fs::remove_all(dir);
  }

  // Starts the simulator with args and opens the line as the editor does, at
  // the link speed; the folder also serves as the program folder when
  // ownFolder is set.
  bool Open(std::vector<std::string> args, bool ownFolder) {
    if (!sim.Start(dir, std::move(args))) return false;
    if (ownFolder) SetProgramFolder(FromNativePath(dir.string()) + "/");
    Settings().TabPortDevice = sim.Link();
    if (!OpenBoardPort(session, true)) return false;
    comm::PreparePortRate(session, Settings().BaseSpeed, 0);
    return true;
  }
  // Closes the line, then stops the simulator: true when it exited cleanly.
  bool Close() {
    comm::CloseBoardPort(session);
    return sim.Stop();
  }

  const fs::path dir;
  SimProcess sim;
  comm::BoardSession session;
};

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
    InstallQtTranslations(*QCoreApplication::instance());  // as the editor does
    Settings() = TSettings{};
    DefaultSettings(Settings());
  }

  void directLineAndAutoBrightness() {
    DirectBoard board("direct");
    QVERIFY(board.Open({}, false));
    TRecProject project;
    {
      TTabloForm form(image_.data(), image_.size(), project, board.session);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QVERIFY(WaitForDeviceWork(&form));
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
    QVERIFY(board.Close());
  }

  // The question before the buffer on show is cleared, the message of an
  // upload into the other buffer broken off by a board killed half way, and
  // the window offering "Дозагрузка" afterwards.
  void otherBufferAndResume() {
    DirectBoard board("other");
    QVERIFY(board.Open(
        {"--board-file", (board.dir / "board.mem").string(), "--delay-ms", "20", "-v"}, true));
    comm::UploadOptions shown;
    shown.restart = true;
    QVERIFY(comm::UploadImage(board.session, image_.data(), 300, shown).outcome ==
            comm::UploadOutcome::Done);
    TRecProject project;
    const std::vector<uint8_t> image(5026, 0x33);
    {
      TTabloForm form(image.data(), image.size(), project, board.session);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QVERIFY(WaitForDeviceWork(&form));
      Pump(400);
      int captured = 0;
      std::thread killer;
      // The question: "Да"; then the error once the board is gone.
      std::function<void(QMessageBox*)> answer = [&](QMessageBox* box) {
        Pump(300);
        if (CaptureScreen(shots_ + (captured == 0 ? "/upload-buffer-on-show.png"
                                                   : "/upload-broken-off.png")))
          ++captured;
        if (captured == 1) {
          killer = comm::testing::KillWhenLogged(board.sim, "buffer 1 offset 2560");
          box->button(QMessageBox::Yes)->click();
          WhenMessageBox(answer, 3000);
        } else {
          box->button(QMessageBox::Ok)->click();
        }
      };
      WhenMessageBox(answer, 1000);
      Click(&form, "Button5");
      QVERIFY(WaitForDeviceWork(&form));
      if (killer.joinable()) killer.join();
      QCOMPARE(captured, 2);
      Pump(400);
      QVERIFY(CaptureScreen(shots_ + "/board-window-resume-offered.png"));
    }
  }

  // An upload at 57,600 bit/s on a line paced as a real one: the board
  // window and its progress window while the blocks go out, then after
  // "Прервать" with the message the operator reads.
  void uploadRunningAndInterrupted() {
    Settings().DLSpeed = 4;
    DirectBoard board("paced");
    QVERIFY(board.Open({"--pace"}, true));
    TRecProject project;
    const std::vector<uint8_t> image(30000, 0x3C);
    {
      TTabloForm form(image.data(), image.size(), project, board.session);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QVERIFY(WaitForDeviceWork(&form));
      Click(&form, "Button5");
      auto* progress = form.findChild<TProgressForm*>();
      QVERIFY(progress);
      QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible() && progress->Percent() >= 25, 30000);
      Pump(300);
      QVERIFY(CaptureScreen(shots_ + "/upload-running.png"));
      bool captured = false;
      WhenMessageBox(
          [&](QMessageBox* box) {
            Pump(300);
            captured = CaptureScreen(shots_ + "/upload-interrupted.png");
            box->button(QMessageBox::Ok)->click();
          },
          3000);
      Click(progress, "InterruptButton");
      QVERIFY(WaitForDeviceWork(&form));
      QVERIFY(captured);
      Pump(300);
      QVERIFY(CaptureScreen(shots_ + "/board-window-after-interrupt.png"));
    }
    QVERIFY(board.Close());
  }

  // The line drops under the window (the board's end killed): "Обновить"
  // while the board is away (the question with "Повторить"), then once it
  // is back (the line opened again, the message that says so), and the
  // window read again afterwards.
  void droppedLine() {
    DirectBoard board("dropped");
    QVERIFY(board.Open({}, true));
    TRecProject project;
    {
      TTabloForm form(image_.data(), image_.size(), project, board.session);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QVERIFY(WaitForDeviceWork(&form));
      board.sim.Kill();
      bool away = false;
      WhenMessageBox(
          [&](QMessageBox* box) {
            Pump(300);
            away = CaptureScreen(shots_ + "/board-window-line-lost.png");
            box->button(QMessageBox::Cancel)->click();
          },
          3000);
      Click(&form, "Button1");
      QVERIFY(WaitForDeviceWork(&form));
      QVERIFY(away);
      QVERIFY(board.sim.Start(board.dir, {}));
      bool back = false;
      WhenMessageBox(
          [&](QMessageBox* box) {
            Pump(300);
            back = CaptureScreen(shots_ + "/board-window-line-reopened.png");
            box->button(QMessageBox::Ok)->click();
          },
          3000);
      Click(&form, "Button1");
      QVERIFY(WaitForDeviceWork(&form));
      QVERIFY(back);
      Pump(300);
      QVERIFY(CaptureScreen(shots_ + "/board-window-after-reconnect.png"));
    }
    QVERIFY(board.Close());
  }

  void modemCall() {
    const fs::path dir = comm::testing::TestFolder("lentar_tablo_shots", "modem");
    SimProcess sim;
    QVERIFY(sim.StartListening(dir, true, {"--modem", "--connect-delay-ms", "1500"}));
    Settings().UseModem = 1;
    Settings().ModemPortDevice = sim.Link();
    Settings().ModemInit = "AT&F";
    TRecProject project;
    project.DialNumber = "8-800-555-35-35";
    comm::BoardSession session;
    {
      TTabloForm form(image_.data(), image_.size(), project, session);
      form.SetModemTimings(kQuick);
      form.show();
      QVERIFY(QTest::qWaitForWindowExposed(&form));
      QVERIFY(WaitForDeviceWork(&form));
      Pump(400);
      QVERIFY(CaptureScreen(shots_ + "/board-window-modem-idle.png"));
      bool captured = false;
      WhenDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
        Click(dialog, "Button1");
        QVERIFY(WaitForDeviceWork(dialog));
        Pump(300);
        captured = CaptureScreen(shots_ + "/dial-dialog.png");
      });
      WhenDialog(QStringLiteral("InputForm"), [](QWidget* dialog) { Click(dialog, "okButton"); });
      Click(&form, "Button14");
      QVERIFY(WaitForDeviceWork(&form));
      QVERIFY(captured);
      QTRY_COMPARE_WITH_TIMEOUT(form.findChild<QLabel*>("Label13")->text(),
                                QStringLiteral("Соединение установлено"), 20000);
      Pump(1000);
      QVERIFY(CaptureScreen(shots_ + "/board-window-modem-call.png"));
      Click(&form, "Button15");
    }
    comm::CloseBoardPort(session);
    QVERIFY(sim.Stop());
    fs::remove_all(dir);
  }
};

QTEST_MAIN(TabloScreenshots)
#include "tabloform_screenshots.moc"
