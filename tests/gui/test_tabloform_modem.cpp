// The board window "Табло" in modem mode against lentar-boardsim's Hayes
// modem over RFC 2217, which carries DTR to the simulator and DSR back: the
// call from the dial dialog, the modem password, the streamed upload with
// its repairs, a call lost during an upload, "Дозагрузка" in the next call,
// and "Повесить трубку". The modem's own pauses are shortened.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "comm/boardprotocol.h"
#include "core/paths.h"
#include "core/settings.h"
#include "gui/common/messages.h"
#include "gui/control/boardport.h"
#include "gui/control/tabloform.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "support/gui_test_support.h"
#include "support/sim_process.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;
using lentar::comm::testing::SimProcess;
namespace fs = std::filesystem;

namespace {

// Short DTR pulse and no pause after the call; the modem's answers to the
// reset and to the initialisation line are given time to cross a busy
// machine's loopback, since the dialogue waits for them a fixed time.
const comm::ModemTimings kQuick{0, 20, 20, 800, 400, 0};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 128);
  return image;
}

QString Text(QWidget* w, const char* label) { return Child<QLabel>(w, label)->text(); }

// Runs handle on the modal dialog named name once it is up, looking every
// 20 ms for up to 20 s (a call takes a while to come up).
void WhenDialog(const QString& name, std::function<void(QWidget*)> handle, int tries = 1000) {
  QTimer::singleShot(20, [name, handle, tries] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog && dialog->objectName() == name) handle(dialog);
    else if (tries > 0) WhenDialog(name, handle, tries - 1);
  });
}

}  // namespace

class TabloModemTest : public QObject {
  Q_OBJECT

 private:
  fs::path dir_;
  SimProcess sim_;
  std::unique_ptr<MessageCapture> messages_;
  std::unique_ptr<TRecProject> project_;
  // The board session the window under test talks in.
  std::unique_ptr<comm::BoardSession> session_;
  std::unique_ptr<TTabloForm> form_;
  std::vector<uint8_t> image_ = Pattern(6000);

  // A modem and board behind a serial server; the settings point the modem
  // port at it.
  void StartSim(const QString& name, std::vector<std::string> args) {
    dir_ = comm::testing::TestFolder("lentar_tablo_modem", name.toStdString());
    args.insert(args.end(), {"--modem", "--connect-delay-ms", "100", "--modem-password", "mp",
                             "-v", "--save-dir", dir_.string()});
    QVERIFY2(sim_.StartListening(dir_, true, args), sim_.Log().c_str());
    Settings().ModemPortDevice = sim_.Link();
    // The notes of streamed uploads are kept beside the settings: here, in
    // the test's folder.
    SetProgramFolder(FromNativePath(dir_) + "/");
  }

  TTabloForm& ShowForm() {
    form_ = std::make_unique<TTabloForm>(image_.data(), image_.size(), *project_, *session_);
    form_->SetModemTimings(kQuick);
    form_->show();
    if (!WaitForDeviceWork(form_.get())) qWarning("the board window is still reading the board");
    return *form_;
  }

  // "Звонить", and in the dial dialog "Звонить" again; the dialog closes
  // itself when the call is up. The modem password is confirmed as offered.
  bool Call(TTabloForm& form, QString* passwordOffered = nullptr) {
    WhenDialog(QStringLiteral("DialForm"), [](QWidget* dialog) { Click(dialog, "Button1"); });
    WhenDialog(QStringLiteral("InputForm"), [passwordOffered](QWidget* dialog) {
      if (passwordOffered)
        *passwordOffered = dialog->windowTitle() + " / " +
                           dialog->findChild<QLineEdit*>()->text();
      Click(dialog, "okButton");
    });
    Click(&form, "Button14");
    // The label follows CONNECT at once; the call is set up once the board
    // has been read through it.
    return QTest::qWaitFor(
        [&form] {
          return Text(&form, "Label13") == QStringLiteral("Соединение установлено") &&
                 Text(&form, "Label21") != QStringLiteral("---") && !form.Busy();
        },
        20000);
  }

  QString SimLog() const { return QString::fromStdString(sim_.Log()); }

 private slots:
  void init() {
    Settings() = TSettings{};
    DefaultSettings(Settings());
    Settings().UseModem = 1;
    Settings().ModemInit = "AT&F";
    Settings().DefModemPass = "mp";
    session_ = std::make_unique<comm::BoardSession>();
    messages_ = std::make_unique<MessageCapture>();
    project_ = std::make_unique<TRecProject>();
    project_->DialNumber = "123";
  }

  void cleanup() {
    form_.reset();
    comm::CloseBoardPort(*session_);
    QVERIFY(sim_.Stop());
    if (!dir_.empty()) fs::remove_all(dir_);
    dir_.clear();
    project_.reset();
    messages_.reset();
  }

  void callsReadsTheBoardAndHangsUp_data() {
    QTest::addColumn<int>("toneDial");
    QTest::addColumn<QString>("command");
    QTest::newRow("tone") << 1 << QStringLiteral("modem command ATDT123");
    QTest::newRow("pulse") << 0 << QStringLiteral("modem command ATDP123");
  }

  void callsReadsTheBoardAndHangsUp() {
    QFETCH(int, toneDial);
    QFETCH(QString, command);
    Settings().ToneDial = toneDial;
    StartSim(QTest::currentDataTag(), {});
    TTabloForm& form = ShowForm();
    // No call yet: nothing is sent, nothing complains, the clock reads "---".
    QCOMPARE(Text(&form, "Label21"), QStringLiteral("---"));
    QCOMPARE(Text(&form, "Label4"), QStringLiteral("Текущий буфер: ---"));
    QCOMPARE(Text(&form, "Label9"), QStringLiteral("Текущий: ---"));
    Click(&form, "Button1");
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(messages_->Texts().isEmpty());
    QVERIFY(!SimLog().contains(QStringLiteral("command 0x")));

    QString offered;
    QVERIFY(Call(form, &offered));
    QCOMPARE(offered, QStringLiteral("Пароль на модем / mp"));
    QVERIFY(!Button(&form, "Button14")->isEnabled());
    QTRY_VERIFY(Text(&form, "Label21") != QStringLiteral("---"));
    QTRY_COMPARE(Text(&form, "Label10"), QStringLiteral("Версия ПО табло: LENTAR-SIM 1.0"));
    QVERIFY2(SimLog().contains(QStringLiteral("modem command AT&F")), qPrintable(SimLog()));
    QVERIFY2(SimLog().contains(command), qPrintable(SimLog()));
    QVERIFY2(SimLog().contains(QStringLiteral("command 0x46")), qPrintable(SimLog()));
    QCOMPARE(session_->ReplyTimeout, 10000);
    QCOMPARE(session_->RetryCount, 5);

    Click(&form, "Button15");
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(!session_->Port().DTR());
    QTRY_COMPARE(Text(&form, "Label13"), QStringLiteral("Нет соединения"));
    QVERIFY(Button(&form, "Button14")->isEnabled());
    QTRY_VERIFY2(SimLog().contains(QStringLiteral("modem hung up")), qPrintable(SimLog()));
    QVERIFY(messages_->Texts().isEmpty());
  }

  void failedCallsLeaveTheWindowReady_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("dialSent");
    QTest::newRow("busy") << QStringList{"--dial-result", "busy"}
                          << QStringLiteral("Ошибка соединения: Занято") << true;
    QTest::newRow("init error") << QStringList{"--init-error"}
                                << QStringLiteral("Ошибка инициализации: Ошибка") << false;
  }

  void failedCallsLeaveTheWindowReady() {
    QFETCH(QStringList, simArgs);
    QFETCH(QString, status);
    QFETCH(bool, dialSent);
    std::vector<std::string> args;
    for (const QString& a : simArgs) args.push_back(a.toStdString());
    StartSim(QTest::currentDataTag(), args);
    TTabloForm& form = ShowForm();
    QString shown;
    bool idle = false;
    WhenDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
      Click(dialog, "Button1");
      // The dialog is closed whatever it shows, so that a failure cannot hang the test.
      (void)QTest::qWaitFor([&] { return Text(dialog, "Label3") == status; }, 10000);
      shown = Text(dialog, "Label3");
      idle = Button(dialog, "Button1")->isEnabled() && !Button(dialog, "Button3")->isEnabled();
      Child<QLineEdit>(dialog, "Edit1")->setText(QStringLiteral("555"));
      Click(dialog, "Button2");
    });
    Click(&form, "Button14");
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(shown, status);
    QVERIFY(idle);
    QCOMPARE(project_->DialNumber, std::string("555"));
    QCOMPARE(SimLog().contains(QStringLiteral("ATD")), dialSent);
    QVERIFY(!session_->Port().DTR());
    QCOMPARE(session_->ReplyTimeout, 2000);
    QCOMPARE(session_->RetryCount, 2);
    QVERIFY(Button(&form, "Button14")->isEnabled());
    QCOMPARE(Text(&form, "Label13"), QStringLiteral("Нет соединения"));
    QVERIFY(messages_->Texts().isEmpty());
  }

  void cancelWhileDiallingHangsUp() {
    StartSim(QStringLiteral("cancel"), {"--connect-delay-ms", "10000"});
    TTabloForm& form = ShowForm();
    session_->ReplyTimeout = 10000;
    session_->RetryCount = 5;
    bool dtrWhileDialling = false;
    WhenDialog(QStringLiteral("DialForm"), [&](QWidget* dialog) {
      Click(dialog, "Button1");
      QVERIFY(WaitForDeviceWork(dialog));  // the modem is set up on the worker
      dtrWhileDialling = session_->Port().DTR() &&
                         Text(dialog, "Label3") == QStringLiteral("Набор номера");
      Click(dialog, "Button2");
    });
    Click(&form, "Button14");
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(dtrWhileDialling);
    QVERIFY(!session_->Port().DTR());
    QCOMPARE(session_->ReplyTimeout, 2000);
    QCOMPARE(session_->RetryCount, 2);
    // The simulator is a process of its own: its log may trail the window.
    QTRY_VERIFY_WITH_TIMEOUT(SimLog().contains(QStringLiteral("modem command ATDT123")), 10000);
    QVERIFY(!SimLog().contains(QStringLiteral("command 0x")));
  }

  // A modem behind a raw TCP port (socket://) is no modem the window can
  // watch: its DSR would read as on at once, a call seemingly up. "Звонить"
  // refuses it before the modem hears a word, and no dial dialog opens.
  void aModemBehindARawSocketIsRefused() {
    dir_ = comm::testing::TestFolder("lentar_tablo_modem", "raw");
    QVERIFY2(sim_.StartListening(dir_, false, {"--modem", "--connect-delay-ms", "100", "-v"}),
             sim_.Log().c_str());
    Settings().ModemPortDevice = sim_.Link();
    QVERIFY(QString::fromStdString(sim_.Link()).startsWith(QStringLiteral("socket://")));
    TTabloForm& form = ShowForm();
    bool dialOpened = false;
    WhenDialog(
        QStringLiteral("DialForm"),
        [&dialOpened](QWidget* dialog) {
          dialOpened = true;
          Click(dialog, "Button2");
        },
        50);
    Click(&form, "Button14");
    QVERIFY(WaitForDeviceWork(&form));
    QTest::qWait(1200);
    QVERIFY(!dialOpened);
    QCOMPARE(messages_->Texts(),
             QStringList{QStringLiteral("Ошибка: Порт модема ") +
                         QString::fromStdString(sim_.Link()) +
                         QStringLiteral(" не передаёт сигналы модема (DTR, DSR): позвонить через "
                                        "него нельзя. Укажите в настройках последовательный порт "
                                        "или rfc2217://узел:порт.")});
    QCOMPARE(Text(&form, "Label13"), QStringLiteral("Нет соединения"));
    QVERIFY(Button(&form, "Button14")->isEnabled());
    QVERIFY2(!SimLog().contains(QStringLiteral("modem command")), qPrintable(SimLog()));
  }

  // Before a call, the board's buttons say that a call is needed, at once
  // and without a word on the line.
  void boardWorkBeforeACallAsksForTheCall() {
    StartSim(QStringLiteral("nocall"), {});
    TTabloForm& form = ShowForm();
    for (const char* button : {"Button5", "Button8"}) {
      messages_->Clear();
      Click(&form, button);
      QCOMPARE(messages_->Texts(),
               QStringList{QStringLiteral(
                   "Ошибка: Нет соединения с табло. Сначала позвоните: кнопка \"Звонить\".")});
    }
    QVERIFY(!SimLog().contains(QStringLiteral("command 0x")));
  }

  void streamedUploadRepairsLostBlocks() {
    // Two blocks of the stream never reach the board; the block map shows
    // them missing and they are sent again.
    StartSim(QStringLiteral("repairs"), {"--ignore", "0x4F@3", "--ignore", "0x4F@20"});
    TTabloForm& form = ShowForm();
    QVERIFY(Call(form));
    QVERIFY(Child<QRadioButton>(&form, "RadioButton2")->isChecked());
    Click(&form, "Button5");
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Информация: Загрузка успешно завершена!")});
    QVERIFY(ReadFile(dir_ / "upload-1.bin") ==
            std::string(image_.begin(), image_.end()));
  }

  void aCallLostDuringTheUploadFailsItAndResumeCompletesIt() {
    // The carrier goes after 4000 bytes of a call: part way through the
    // image, and not again before the rest is through in the next call.
    StartSim(QStringLiteral("lost"), {"--drop-call-after", "4000"});
    TTabloForm& form = ShowForm();
    QVERIFY(Call(form));
    Click(&form, "Button5");
    QVERIFY(WaitForDeviceWork(&form));
    const QString lost = QStringLiteral(
        "Ошибка: Ошибка соединения!\nПозвоните снова и выберите \"Дозагрузка\": загрузка "
        "продолжится с места обрыва.");
    QCOMPARE(messages_->Texts(), QStringList{lost});
    QVERIFY(!fs::exists(dir_ / "upload-1.bin"));
    QTRY_COMPARE(Text(&form, "Label13"), QStringLiteral("Нет соединения"));
    QVERIFY(Button(&form, "Button14")->isEnabled());

    QVERIFY(Call(form));
    Child<QRadioButton>(&form, "RadioButton3")->setChecked(true);
    Click(&form, "Button5");
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(),
             (QStringList{lost, QStringLiteral("Информация: Загрузка успешно завершена!")}));
    QVERIFY(ReadFile(dir_ / "upload-1.bin") ==
            std::string(image_.begin(), image_.end()));
  }
};

QTEST_MAIN(TabloModemTest)
#include "test_tabloform_modem.moc"
