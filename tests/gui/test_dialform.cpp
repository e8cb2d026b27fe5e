// The dial dialog "Соединение..." against a scripted modem on the in-memory
// line (which carries DTR and DSR), and the editor of the modem's
// initialisation strings.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QtTest>

#include "comm/boardprotocol.h"
#include "core/settings.h"
#include "gui/common/messages.h"
#include "gui/control/dialform.h"
#include "gui/control/modeminitform.h"
#include "support/gui_test_support.h"
#include "support/scripted_modem.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

// No pauses: the scripted modem answers at once.
const comm::ModemTimings kQuick{0, 0, 0, 0, 0, 0};

QString Status(QWidget* dialog) { return Child<QLabel>(dialog, "Label3")->text(); }

}  // namespace

class DialFormTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    Settings() = TSettings{};
    DefaultSettings(Settings());
    Settings().ModemInit = "ATE0\r\n\r\nATX3";
  }

  void dialsToneOrPulseAndConnectsOnDsr() {
    struct Case {
      int toneDial;
      const char* command;
    } cases[] = {{1, "ATDT123"}, {0, "ATDP123"}};
    for (const Case& c : cases) {
      Settings().ToneDial = c.toneDial;
      ScriptedModem modem;
      comm::BoardSession session(modem.Port());
      QString dialling;
      bool abortEnabled = false;
      OnDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Соединение..."));
        QCOMPARE(Status(dialog), QStringLiteral("------"));
        QVERIFY(!Button(dialog, "Button3")->isEnabled());
        Click(dialog, "Button1");
        QVERIFY(WaitForDeviceWork(dialog));  // the modem is set up on the worker
        dialling = Status(dialog);
        abortEnabled = Button(dialog, "Button3")->isEnabled() && !Button(dialog, "Button1")->isEnabled();
        modem.SetCarrier(true);
      });
      std::string number = "123";
      QVERIFY(DialBoard(nullptr, number, session, kQuick));
      QCOMPARE(dialling, QStringLiteral("Набор номера"));
      QVERIFY(abortEnabled);
      QCOMPARE(modem.Commands(), (std::vector<std::string>{"ATZ", "ATE0", "ATX3", c.command}));
      // The call stays up with the call's deadlines; the port carries frames.
      QVERIFY(modem.Dtr());
      QVERIFY(!modem.Port().LineMode());
      QCOMPARE(session.ReplyTimeout, 10000);
      QCOMPARE(session.RetryCount, 5);
      session.ReplyTimeout = 2000;
      session.RetryCount = 2;
    }
  }

  void failuresShowTheirStatusAndReturnTheEditedNumber() {
    struct Case {
      bool answersReset;
      std::string initReply;
      std::string duringDial;  // said while dialling
      QString status;
      bool dialSent;
    } cases[] = {
        {false, "OK", "", QStringLiteral("Нет отклика от модема"), false},
        {true, "ERROR", "", QStringLiteral("Ошибка инициализации: Ошибка"), false},
        {true, "OK", "BUSY", QStringLiteral("Ошибка соединения: Занято"), true},
        {true, "OK", "NO ANSWER", QStringLiteral("Ошибка соединения: Нет ответа"), true},
    };
    for (const Case& c : cases) {
      ScriptedModem modem;
      comm::BoardSession session(modem.Port());
      modem.Answers().answersReset = c.answersReset;
      modem.Answers().initReply = c.initReply;
      session.ReplyTimeout = 10000;
      session.RetryCount = 5;
      QString status;
      bool idle = false;
      bool bufferEmpty = false;
      OnDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
        Click(dialog, "Button1");
        QVERIFY(WaitForDeviceWork(dialog));  // the modem is set up on the worker
        if (!c.duringDial.empty()) {
          QCOMPARE(Status(dialog), QStringLiteral("Набор номера"));
          modem.Result(c.duringDial);
          QTRY_COMPARE(Status(dialog), c.status);
          std::string line;
          bufferEmpty = !modem.Port().ReadLine(line);
        } else {
          bufferEmpty = true;
        }
        status = Status(dialog);
        idle = Button(dialog, "Button1")->isEnabled() && !Button(dialog, "Button3")->isEnabled();
        Child<QLineEdit>(dialog, "Edit1")->setText(QStringLiteral("8-800"));
        Click(dialog, "Button2");
      });
      std::string number = "123";
      QVERIFY(!DialBoard(nullptr, number, session, kQuick));
      QCOMPARE(status, c.status);
      QVERIFY(idle);
      QVERIFY(bufferEmpty);
      QCOMPARE(number, std::string("8-800"));
      const bool dialSent = !modem.Commands().empty() && modem.Commands().back().rfind("ATD", 0) == 0;
      QCOMPARE(dialSent, c.dialSent);
      // Closed without a call: hung up, the line's deadlines back.
      QVERIFY(!modem.Dtr());
      QCOMPARE(session.ReplyTimeout, 2000);
      QCOMPARE(session.RetryCount, 2);
    }
  }

  void abortAndCancelWhileDialling() {
    ScriptedModem modem;
    comm::BoardSession session(modem.Port());
    session.ReplyTimeout = 10000;
    session.RetryCount = 5;
    bool dtrAfterAbort = true;
    QString aborted;
    bool dialAgain = false;
    bool dtrWhileDialling = false;
    OnDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
      Click(dialog, "Button1");
      QVERIFY(WaitForDeviceWork(dialog));  // the modem is set up on the worker
      Click(dialog, "Button3");
      aborted = Status(dialog);
      dtrAfterAbort = modem.Dtr();
      dialAgain = Button(dialog, "Button1")->isEnabled() && !Button(dialog, "Button3")->isEnabled();
      // A carrier after the abort is no longer watched.
      modem.SetCarrier(true);
      modem.SetCarrier(false);
      Click(dialog, "Button1");
      QVERIFY(WaitForDeviceWork(dialog));  // the modem is set up on the worker
      dtrWhileDialling = modem.Dtr();
      Click(dialog, "Button2");
    });
    std::string number = "77";
    QVERIFY(!DialBoard(nullptr, number, session, kQuick));
    QCOMPARE(aborted, QStringLiteral("Прервано"));
    QVERIFY(!dtrAfterAbort);
    QVERIFY(dialAgain);
    QVERIFY(dtrWhileDialling);
    QVERIFY(!modem.Dtr());
    QCOMPARE(session.ReplyTimeout, 2000);
    QCOMPARE(session.RetryCount, 2);
    QCOMPARE(number, std::string("77"));
  }

  // "Прервать" while the modem is still being reset and initialised (its
  // pauses run on the dialog's worker, the dialog answering meanwhile): the
  // call does not go on, the line is hung up and the dialog offers
  // "Звонить" again.
  void abortWhileTheModemIsSetUp() {
    ScriptedModem modem;
    comm::BoardSession session(modem.Port());
    QString status;
    bool idle = false;
    bool dtrAfter = true;
    int ticks = 0;
    OnDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
      Click(dialog, "Button1");
      QVERIFY(Button(dialog, "Button3")->isEnabled());
      QVERIFY(!Button(dialog, "Button2")->isEnabled());
      QTimer::singleShot(150, dialog, [dialog] { Click(dialog, "Button3"); });
      QTimer timer;
      timer.setInterval(10);
      connect(&timer, &QTimer::timeout, [&] { ++ticks; });
      timer.start();
      QVERIFY(WaitForDeviceWork(dialog));
      timer.stop();
      status = Status(dialog);
      dtrAfter = modem.Dtr();
      idle = Button(dialog, "Button1")->isEnabled() && !Button(dialog, "Button3")->isEnabled();
      Click(dialog, "Button2");
    });
    std::string number = "77";
    QVERIFY(!DialBoard(nullptr, number, session, comm::ModemTimings{300, 300, 300, 0, 0, 0}));
    QVERIFY2(ticks >= 10, "the dialog handled its events while the modem was set up");
    QCOMPARE(status, QStringLiteral("Прервано"));
    QVERIFY(idle);
    QVERIFY(!dtrAfter);
  }

  void modemInitStringsAreEditedOnOkOnly() {
    for (const char* button : {"cancelButton", "okButton"}) {
      std::string strings = "ATZ0\r\nATE0";
      OnDialog(QStringLiteral("ModemInitForm"), [&](QWidget* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Строки инициализации модема"));
        auto* memo = Child<QPlainTextEdit>(dialog, "Memo1");
        QCOMPARE(memo->toPlainText(), QStringLiteral("ATZ0\nATE0"));
        memo->setPlainText(QStringLiteral("AT&F\nATM0\nATX3"));
        Click(dialog, button);
      });
      const bool accepted = EditModemInit(nullptr, strings);
      QCOMPARE(accepted, std::string(button) == "okButton");
      QCOMPARE(strings, std::string(accepted ? "AT&F\r\nATM0\r\nATX3" : "ATZ0\r\nATE0"));
    }
  }
};

QTEST_MAIN(DialFormTest)
#include "test_dialform.moc"
