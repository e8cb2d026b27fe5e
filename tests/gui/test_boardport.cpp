// Opening the board port from a window (the failure message) and the port
// settings dialog.
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "comm/boardprotocol.h"
#include "core/settings.h"
#include "gui/common/messages.h"
#include "fleet/boardline.h"
#include "gui/common/devicework.h"
#include "gui/control/boardport.h"
#include "gui/control/portconfigform.h"
#include "support/memoryline.h"

using namespace lentar;
using namespace lentar::gui;

class TestBoardPort : public QObject {
  Q_OBJECT

 private slots:
  void failedOpenShowsTheMessageOnlyWhenAsked() {
    Settings().TabPortDevice = "/nonexistent/lentar-board";
    MessageCapture capture;
    comm::BoardSession session;
    QVERIFY(!OpenBoardPort(session, false));
    QCOMPARE(capture.Messages().size(), size_t{0});
    QVERIFY(!OpenBoardPort(session, true));
    QCOMPARE(capture.Messages().size(), size_t{1});
    QCOMPARE(capture.Messages()[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(capture.Messages()[0].text,
             QStringLiteral("Ошибка коммуникационного порта!\n"
                            "/nonexistent/lentar-board: устройство не найдено"));
    QCOMPARE(capture.Messages()[0].icon, QMessageBox::Critical);
    QVERIFY(session.Port().OpenFailed());
    QVERIFY(!session.Port().LastErrorText().empty());
  }

  // A port another program holds is told as busy, not as a missing group
  // membership (whoever runs the test, root included).
  void aPortInUseIsToldAsBusy() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    const std::string device = ptsname(master);
    comm::TComPort first(true, true);
    first.Open(device);
    QVERIFY(first.IsOpen());
    Settings().TabPortDevice = device;
    MessageCapture capture;
    comm::BoardSession session;
    QVERIFY(!OpenBoardPort(session, true));
    QCOMPARE(capture.Texts(),
             QStringList{QStringLiteral("Ошибка: Ошибка коммуникационного порта!\n") +
                         QString::fromStdString(device) +
                         QStringLiteral(": порт занят другой программой")});
    first.Open("");
    comm::CloseBoardPort(session);
    ::close(master);
  }

  void openResetsTheDeadlinesAndCloseCloses() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    Settings().TabPortDevice = ptsname(master);
    comm::BoardSession session;
    session.ReplyTimeout = 10000;
    session.RetryCount = 5;
    MessageCapture capture;
    QVERIFY(OpenBoardPort(session, true));
    QCOMPARE(capture.Messages().size(), size_t{0});
    QVERIFY(session.Port().IsOpen());
    QCOMPARE(session.ReplyTimeout, 2000);
    QCOMPARE(session.RetryCount, 2);
    comm::CloseBoardPort(session);
    QVERIFY(!session.Port().IsOpen());
    ::close(master);
  }

  // The board window's line is taken as a delivery takes it: while another
  // program holds it, the operator is told so and may try again or cancel;
  // cancelled, the line is left alone.
  void aLineAnotherProgramHoldsIsToldAndLeftAlone() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    const std::string device = ptsname(master);
    Settings().TabPortDevice = device;
    Settings().UseModem = false;
    Settings().FleetDatabase.clear();
    auto held = std::make_unique<fleet::LineLock>();
    std::string why;
    QVERIFY(held->Take(fleet::DefaultLockFolder(), fleet::LineKey(device), nullptr, {}, why));

    comm::BoardSession session;
    TDeviceWork work;
    MessageCapture capture;
    capture.QueueAnswer(QMessageBox::Retry);
    capture.QueueAnswer(QMessageBox::Cancel);
    bool opened = false;
    OpenBoardLineThen(work, session, [&] { opened = true; });
    QTRY_VERIFY(capture.Messages().size() == 2 && !work.Busy());
    for (const auto& m : capture.Messages()) {
      QCOMPARE(m.caption, QStringLiteral("Линия занята"));
      QVERIFY2(m.text.startsWith(QStringLiteral("Линия занята: ")), qPrintable(m.text));
      QVERIFY(m.buttons.testFlag(QMessageBox::Retry) && m.buttons.testFlag(QMessageBox::Cancel));
    }
    QVERIFY(!opened);
    QVERIFY(!session.Port().IsOpen());

    // Given back: the line opens, and is held while the window works.
    held.reset();
    bool heldMeanwhile = false;
    OpenBoardLineThen(work, session, [&] {
      opened = session.Port().IsOpen();
      fleet::LineLock other;
      comm::StopFlag stop;
      stop.Request();
      std::string whyNot;
      heldMeanwhile = !other.Take(fleet::DefaultLockFolder(), fleet::LineKey(device), &stop, {},
                                  whyNot);
    });
    QTRY_VERIFY(opened);
    QVERIFY(heldMeanwhile);
    QCOMPARE(capture.Messages().size(), size_t{2});
    comm::CloseBoardPort(session);
    ::close(master);
  }

  void settingsDialogEditsACopyAndAppliesOnOk() {
    auto peer = std::make_shared<comm::MemoryLine::Peer>();
    comm::TComPort port(true, true, [peer] { return std::make_unique<comm::MemoryLine>(peer); });
    port.Open("memory");
    const comm::PortConfig before = port.Config();

    for (const char* button : {"Button2", "Button1"}) {
      QTimer::singleShot(0, [button] {
        QWidget* dialog = QApplication::activeModalWidget();
        QVERIFY(dialog);
        auto* rate = dialog->findChild<QComboBox*>(QStringLiteral("ComboBox1"));
        auto* parity = dialog->findChild<QComboBox*>(QStringLiteral("ComboBox3"));
        auto* flow = dialog->findChild<QComboBox*>(QStringLiteral("ComboBox5"));
        QVERIFY(rate && parity && flow);
        QCOMPARE(rate->currentText(), QStringLiteral("9600"));
        rate->setCurrentIndex(rate->findText(QStringLiteral("57600")));
        parity->setCurrentIndex(2);  // even
        flow->setCurrentIndex(1);    // hardware
        dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
      });
      const bool accepted = ConfigDialog(port, nullptr);
      if (QString::fromLatin1(button) == QStringLiteral("Button2")) {
        QVERIFY(!accepted);
        QVERIFY(port.Config() == before);
      } else {
        QVERIFY(accepted);
      }
    }
    QCOMPARE(port.BaudRate(), 57600);
    QCOMPARE(peer->baudRate, 57600);
    QCOMPARE(port.Config().Parity(), comm::Parity::Even);
    QCOMPARE(port.Config().FlowControl(), comm::FlowControl::Hardware);
    QCOMPARE(port.Config().StopBits(), comm::StopBits::Two);
  }
};

QTEST_MAIN(TestBoardPort)
#include "test_boardport.moc"
