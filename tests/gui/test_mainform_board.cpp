// The main window's board commands against lentar-boardsim: "В табло" and
// "Загрузка" / "Табло" compile the set and open the board window with it on
// an open line, "Настройки" / "Табло" opens it without data; the port is
// closed afterwards, and a port that does not open stops the command.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "comm/boardprotocol.h"
#include "core/settings.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "support/gui_test_support.h"
#include "support/sim_process.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;
using lentar::comm::testing::SimProcess;
namespace fs = std::filesystem;

class MainFormBoardTest : public QObject, private MainWindowFixture {
  Q_OBJECT

 private:
  SimProcess sim_;
  fs::path simDir_;

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    messages_ = std::make_unique<MessageCapture>();
    noDialogs_ = std::make_unique<FileDialogCapture>();
    simDir_ = comm::testing::TestFolder("lentar_mainboard", QTest::currentTestFunction());
    QVERIFY(sim_.Start(simDir_, {"--save-dir", simDir_.string()}));
  }

  void cleanup() {
    TearDown();
    QVERIFY(sim_.Stop());
    fs::remove_all(simDir_);
  }

  void uploadsTheCompiledSetThroughTheBoardWindow() {
    ShowMainForm();
    Settings().TabPortDevice = sim_.Link();
    Memo(*form_)->setPlainText(QStringLiteral("Привет"));
    struct Case {
      const char* trigger;  // an action or the panel button
      bool withImage;
    } cases[] = {{"Button12", true}, {"UploadBoardItem", true}, {"BoardWindowItem", false}};
    int uploads = 0;
    for (const Case& c : cases) {
      bool portOpen = false;
      QString size;
      bool uploadVisible = true;
      OnDialog(QStringLiteral("TabloForm"), [&](QWidget* window) {
        QVERIFY(WaitForDeviceWork(window));  // the board is read as the window opens
        portOpen = form_->BoardLink().Port().IsOpen();
        uploadVisible = Button(window, "Button5")->isVisible();
        size = Child<QLabel>(window, "Label5")->text();
        // Each set goes into the buffer the board is not showing: loading
        // the one on show would ask first.
        Child<QComboBox>(window, "ComboBox1")->setCurrentIndex(uploads % 2);
        if (uploadVisible) {
          Click(window, "Button5");
          QVERIFY(WaitForDeviceWork(window));
        }
        Click(window, "Button6");
      });
      messages_->Clear();
      if (QAction* action = form_->findChild<QAction*>(QLatin1String(c.trigger))) {
        action->trigger();
      } else {
        Button(*form_, c.trigger)->click();
      }
      QVERIFY(WaitForDeviceWork(form_.get()));
      QVERIFY2(portOpen, c.trigger);
      QCOMPARE(uploadVisible, c.withImage);
      QVERIFY(!form_->BoardLink().Port().IsOpen());
      if (c.withImage) {
        QCOMPARE(size, QStringLiteral("Размер данных: 6 байт."));
        QCOMPARE(messages_->Texts(),
                 QStringList{QStringLiteral("Информация: Загрузка успешно завершена!")});
        std::ifstream in(simDir_ / ("upload-" + std::to_string(++uploads) + ".bin"),
                         std::ios::binary);
        const std::string got{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        QCOMPARE(QString::fromStdString(Cp1251ToUtf8(got)), QStringLiteral("Привет"));
      } else {
        QCOMPARE(messages_->Texts(), QStringList());
      }
    }
  }

  void aPortThatDoesNotOpenStopsTheCommand() {
    ShowMainForm();
    Settings().TabPortDevice = "/nonexistent/lentar-board";
    bool windowShown = false;
    OnDialog(QStringLiteral("TabloForm"), [&](QWidget* window) {
      windowShown = true;
      Click(window, "Button6");
    }, 50);
    Button(*form_, "Button12")->click();
    QVERIFY(WaitForDeviceWork(form_.get()));
    QTest::qWait(50);
    QVERIFY(!windowShown);
    QCOMPARE(messages_->Texts(),
             QStringList{QStringLiteral("Ошибка: Ошибка коммуникационного порта!\n"
                                        "/nonexistent/lentar-board: устройство не найдено")});
  }

  void throughAModemTheWindowDialsItself() {
    ShowMainForm();
    Settings().UseModem = true;
    Settings().TabPortDevice = sim_.Link();
    bool portOpen = true;
    bool callVisible = false;
    QString clock;
    OnDialog(QStringLiteral("TabloForm"), [&](QWidget* window) {
      QVERIFY(WaitForDeviceWork(window));
      portOpen = form_->BoardLink().Port().IsOpen();
      callVisible = Button(window, "Button14")->isVisible();
      clock = Child<QLabel>(window, "Label21")->text();
      Click(window, "Button1");  // no call: nothing is sent, no message
      Click(window, "Button6");
    });
    form_->findChild<QAction*>(QStringLiteral("BoardWindowItem"))->trigger();
    // The modem's line is taken on the worker before the window shows.
    QTRY_VERIFY(callVisible);
    QVERIFY(!portOpen);
    QCOMPARE(clock, QStringLiteral("---"));
    QCOMPARE(messages_->Texts(), QStringList());
  }
};

QTEST_MAIN(MainFormBoardTest)
#include "test_mainform_board.moc"
