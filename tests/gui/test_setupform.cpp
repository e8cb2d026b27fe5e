// The settings dialog "Настройки": loading and storing its controls, roll-back
// on "Отмена", the font reload on "OK", the device fields, and the search for
// a board over pseudo-terminals with lentar-boardsim on one of them.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <functional>
#include <string>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/boardsearch.h"
#include "comm/comport.h"
#include "core/settings.h"
#include "fleet/boardline.h"
#include "gui/control/boardport.h"
#include "gui/control/setupform.h"
#include "support/gui_test_support.h"
#include "support/sim_process.h"

namespace lentar::gui {

using namespace lentar::gui::testing;
using comm::SearchCandidate;
using comm::testing::SimProcess;
using comm::testing::TestFolder;

namespace {

// A pseudo-terminal nobody answers on; the test reads what was sent to it.
class SilentTerminal {
 public:
  SilentTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0) {
      device_ = ptsname(master_);
    }
  }
  ~SilentTerminal() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& Device() const { return device_; }
  // Everything written to the terminal so far.
  std::string Received() {
    std::string bytes;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(master_, buffer, sizeof buffer)) > 0) bytes.append(buffer, size_t(n));
    return bytes;
  }

 private:
  int master_ = -1;
  std::string device_;
};

// Probes without the long waits of a real search, and a short deadline for
// the board's answer in the dialog's session.
void ShortenSearch(TSetupForm& form) {
  form.SearchTimings() = {0, 20, 0, 20, 0};
  form.SearchSession().ReplyTimeout = 300;
  form.SearchSession().RetryCount = 0;
}

}  // namespace

class SetupFormTest : public QObject, public MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    DefaultSettings(Settings());
    messages_ = std::make_unique<MessageCapture>();
  }
  void cleanup() {
    SetBoardSearchCandidateSource({});
    TearDown();
  }

  void ControlsLoadByTheirRules() {
    Settings().DLSpeed = 7;
    Settings().LdSpeed = -1;
    Settings().DefFontHeight = 3;
    TSetupForm form(*project_);
    ShortenSearch(form);
    QCOMPARE(Child<QComboBox>(&form, "ComboBox5")->currentText(), QStringLiteral("9600"));
    QCOMPARE(Child<QComboBox>(&form, "ComboBox6")->currentText(), QStringLiteral("38400"));
    QCOMPARE(Child<QComboBox>(&form, "ComboBox7")->currentText(), QStringLiteral("24"));
    form.StoreControls();
    QCOMPARE(Settings().DefFontHeight, 3);
    QCOMPARE(Settings().DLSpeed, 0);
    QCOMPARE(Settings().LdSpeed, 3);
  }

  void CancelPutsEverySettingBack() {
    const std::string before = SettingsFileImage(Settings());
    OnDialog(QStringLiteral("SetupForm"), [](QWidget* d) {
      Child<QComboBox>(d, "ComboBox1")->setCurrentIndex(5);
      Child<QComboBox>(d, "BoardDeviceBox")->setEditText(QStringLiteral("/dev/ttyUSB3"));
      Child<QSpinBox>(d, "SpinEdit11")->setValue(42);
      Child<QLineEdit>(d, "Edit1")->setText(QStringLiteral("84951234567"));
      Child<QComboBox>(d, "ComboBox7")->setCurrentIndex(1);
      Child<QLineEdit>(d, "Edit5")->setText(QStringLiteral("5000"));
      Child<QSpinBox>(d, "SpinEdit8")->setValue(300);
      Click(d, "cancelButton");
    });
    QVERIFY(!ShowSettings(nullptr, *project_, 1));
    QCOMPARE(SettingsFileImage(Settings()), before);
  }

  void OkKeepsTheKeysAndReportsAFontArchiveThatFails() {
    const std::string missing = folder_ + "нет.tfa";
    OnDialog(QStringLiteral("SetupForm"), [&](QWidget* d) {
      QCOMPARE(Child<QTabWidget>(d, "PageControl1")->currentIndex(), 1);
      Child<QLineEdit>(d, "Edit6")->setText(FromBoardText(missing));
      Child<QComboBox>(d, "ComboBox7")->setCurrentIndex(1);
      Child<QSpinBox>(d, "SpinEdit8")->setValue(300);
      Click(d, "okButton");
    });
    QVERIFY(ShowSettings(nullptr, *project_, 1));
    QCOMPARE(Settings().DefFontArc, missing);
    QCOMPARE(Settings().DefFontHeight, 2);
    QCOMPARE(Settings().DispLen, 300);
    QCOMPARE(project_->DisplayLength, 300);
    QCOMPARE(messages_->Messages().size(), size_t(1));
    QCOMPARE(messages_->Messages()[0].text, FromBoardText(project_->FontError));
    QVERIFY(!project_->FontError.empty());
  }

  void AMalformedNetworkPortIsRefusedBeforeItIsStored() {
    OnDialog(QStringLiteral("SetupForm"), [this](QWidget* d) {
      Child<QComboBox>(d, "LoaderDeviceBox")->setEditText(QStringLiteral("socket://board"));
      Click(d, "okButton");
      QVERIFY(d->isVisible());  // the dialog stays open
      QCOMPARE(messages_->Messages().size(), size_t(1));
      QVERIFY(messages_->Messages()[0].text.contains(QStringLiteral("socket://board")));
      Child<QComboBox>(d, "LoaderDeviceBox")
          ->setEditText(QStringLiteral("rfc2217://board.example:2217"));
      Click(d, "okButton");
    });
    QVERIFY(ShowSettings(nullptr, *project_, 0));
    QCOMPARE(Settings().I2CPortDevice, std::string("rfc2217://board.example:2217"));
  }

  // "Настройки" → OK again and again leaves the dialog where it was.
  void ThePlaceStaysThroughManyRounds() {
    Settings().SetCoor = IntRect{200, 150, 700, 550};
    IntRect first{};
    for (int round = 0; round < 5; ++round) {
      OnDialog(QStringLiteral("SetupForm"), [&](QWidget* d) { Click(d, "okButton"); });
      QVERIFY(ShowSettings(nullptr, *project_, 0));
      if (round == 0) first = Settings().SetCoor;
      QCOMPARE(Settings().SetCoor.left, first.left);
      QCOMPARE(Settings().SetCoor.top, first.top);
    }
    QCOMPARE(first.left, 200);
    QCOMPARE(first.top, 150);
  }

  void TheDeviceFieldChoosesTheBoardsDevice() {
    const auto dir = TestFolder("lentar_setup", "device");
    SimProcess sim;
    QVERIFY(sim.Start(dir, {}));
    const QString link = QString::fromStdString(sim.Link());
    OnDialog(QStringLiteral("SetupForm"), [&](QWidget* d) {
      Child<QComboBox>(d, "BoardDeviceBox")->setEditText(link);
      Click(d, "okButton");
    });
    QVERIFY(ShowSettings(nullptr, *project_, 0));
    QCOMPARE(Settings().TabPortDevice, sim.Link());
    // The board is now reached on that device.
    comm::BoardSession session;
    QVERIFY(OpenBoardPort(session, false));
    QCOMPARE(session.Port().PortName(), sim.Link());
    QVERIFY(comm::CmdConnect(session));
  }

  void SearchFindsTheBoardOnTheThirdPort() {
    const auto dir = TestFolder("lentar_setup", "search");
    SimProcess sim;
    QVERIFY(sim.Start(dir, {}));
    SilentTerminal first, second;
    QVERIFY(!first.Device().empty() && !second.Device().empty());
    SetBoardSearchCandidateSource([&] {
      return std::vector<SearchCandidate>{
          {first.Device(), 0}, {second.Device(), 1}, {sim.Link(), -1}};
    });
    Settings().TabPort = 6;
    TSetupForm form(*project_);
    ShortenSearch(form);
    messages_->QueueAnswer(QMessageBox::Ok);  // "Продолжить?"
    form.SearchBoard();
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(!first.Received().empty());   // probed, no answer
    QVERIFY(!second.Received().empty());
    const auto& messages = messages_->Messages();
    QCOMPARE(messages.size(), size_t(2));
    QCOMPARE(messages[0].caption, QStringLiteral("Внимание"));
    QCOMPARE(messages[1].text,
             QStringLiteral("Табло обнаружено на порту ") + QString::fromStdString(sim.Link()));
    // A device outside the COM list: the device field shows it, the number stays.
    QCOMPARE(TSetupForm::DeviceOfField(Child<QComboBox>(&form, "BoardDeviceBox")), sim.Link());
    QCOMPARE(Child<QComboBox>(&form, "ComboBox1")->currentIndex(), 6);
    QVERIFY(!form.SearchSession().Port().IsOpen());
    QCOMPARE(form.SearchSession().AddressByte, uint8_t(0x80));
  }

  // A line another program holds (a delivery's turn) is not probed: the
  // search passes it over and names it with what it did not find.
  void SearchPassesOverALineAnotherProgramHolds() {
    const auto dir = TestFolder("lentar_setup", "search_busy");
    SimProcess sim;
    QVERIFY(sim.Start(dir, {"-v"}));
    SilentTerminal first;
    QVERIFY(!first.Device().empty());
    SetBoardSearchCandidateSource([&] {
      return std::vector<SearchCandidate>{{first.Device(), 0}, {sim.Link(), -1}};
    });
    fleet::LineLock held;
    std::string why;
    QVERIFY(held.Take(fleet::DefaultLockFolder(), fleet::LineKey(sim.Link()), nullptr, {}, why));
    TSetupForm form(*project_);
    ShortenSearch(form);
    messages_->QueueAnswer(QMessageBox::Ok);  // "Продолжить?"
    form.SearchBoard();
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(!first.Received().empty());
    QVERIFY(sim.Log().find("command") == std::string::npos);
    const auto& messages = messages_->Messages();
    QCOMPARE(messages.size(), size_t(2));
    QVERIFY2(messages[1].text.startsWith(QStringLiteral("Табло не обнаружено!\nЛиния занята: ")),
             qPrintable(messages[1].text));
  }

  // The device typed into the board's device field is probed before any
  // other: the board is found there without a word to the other ports. A
  // terminal's path and a network port (raw TCP and RFC 2217) alike.
  void SearchProbesTheTypedDeviceFirst() {
    enum class Line { Terminal, Raw, Rfc2217 };
    for (const Line line : {Line::Terminal, Line::Raw, Line::Rfc2217}) {
      const auto dir = TestFolder("lentar_setup", "typed" + std::to_string(static_cast<int>(line)));
      SimProcess sim;
      QVERIFY(line == Line::Terminal ? sim.Start(dir, {})
                                     : sim.StartListening(dir, line == Line::Rfc2217, {}));
      SilentTerminal first;
      SetBoardSearchCandidateSource(
          [&] { return std::vector<SearchCandidate>{{first.Device(), 0}}; });
      Settings().TabPortDevice = sim.Link();
      TSetupForm form(*project_);
      ShortenSearch(form);
      messages_->QueueAnswer(QMessageBox::Ok);  // "Продолжить?"
      form.SearchBoard();
      QVERIFY(WaitForDeviceWork(&form));
      QVERIFY2(first.Received().empty(), sim.Link().c_str());
      QCOMPARE(messages_->Messages().back().text,
               QStringLiteral("Табло обнаружено на порту ") + QString::fromStdString(sim.Link()));
      QCOMPARE(TSetupForm::DeviceOfField(Child<QComboBox>(&form, "BoardDeviceBox")), sim.Link());
      QVERIFY(sim.Stop());
      std::filesystem::remove_all(dir);
    }
  }

  void SearchWithoutABoardRestoresTheComNumber() {
    SilentTerminal first, second;
    SetBoardSearchCandidateSource([&] {
      return std::vector<SearchCandidate>{{first.Device(), 2}, {second.Device(), 3}};
    });
    Settings().TabPort = 1;
    TSetupForm form(*project_);
    ShortenSearch(form);
    messages_->QueueAnswer(QMessageBox::Ok);
    form.SearchBoard();
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(!first.Received().empty());
    QVERIFY(!second.Received().empty());
    QCOMPARE(messages_->Messages().back().text, QStringLiteral("Табло не обнаружено!"));
    QCOMPARE(messages_->Messages().back().caption, QStringLiteral("Ошибка"));
    QCOMPARE(Child<QComboBox>(&form, "ComboBox1")->currentIndex(), 1);
    QVERIFY(!form.SearchSession().Port().IsOpen());
  }

  void CancellingTheQuestionLeavesTheBoardPortClosed() {
    SilentTerminal terminal;
    Settings().TabPortDevice = terminal.Device();
    SetBoardSearchCandidateSource([&] { return std::vector<SearchCandidate>{{terminal.Device(), 0}}; });
    TSetupForm form(*project_);
    ShortenSearch(form);
    QVERIFY(OpenBoardPort(form.SearchSession(), false));
    messages_->QueueAnswer(QMessageBox::Cancel);
    form.SearchBoard();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Messages().size(), size_t(1));
    QVERIFY(!form.SearchSession().Port().IsOpen());
    QVERIFY(terminal.Received().empty());  // nothing probed
  }

  void AbortEndsTheSearchAfterTheCurrentPort() {
    SilentTerminal first, second, third;
    SetBoardSearchCandidateSource([&] {
      return std::vector<SearchCandidate>{
          {first.Device(), 0}, {second.Device(), 1}, {third.Device(), 2}};
    });
    TSetupForm form(*project_);
    ShortenSearch(form);
    messages_->QueueAnswer(QMessageBox::Ok);
    // Press "Прервать" while the first port is being probed: once the probe
    // has reached it (however slowly the worker starts under load).
    std::string firstReceived;
    int tries = 500;
    std::function<void()> abortWhenProbed = [&] {
      auto* search = form.findChild<QWidget*>(QStringLiteral("SearchForm"));
      if (search) firstReceived += first.Received();
      if ((!search || firstReceived.empty()) && --tries > 0) {
        QTimer::singleShot(10, abortWhenProbed);
        return;
      }
      QVERIFY(search);
      QVERIFY(search->findChild<QLabel*>(QStringLiteral("PortLabel"))
                  ->text()
                  .contains(QString::fromStdString(first.Device())));
      Click(search, "AbortButton");
    };
    QTimer::singleShot(10, abortWhenProbed);
    form.SearchBoard();
    QVERIFY(WaitForDeviceWork(&form));
    firstReceived += first.Received();
    QVERIFY(!firstReceived.empty());
    QVERIFY(second.Received().empty());
    QVERIFY(third.Received().empty());
    // Stopped, not searched through: the operator is told so.
    QCOMPARE(messages_->Messages().back().text, QStringLiteral("Прервано оператором"));
  }
};

}  // namespace lentar::gui

QTEST_MAIN(lentar::gui::SetupFormTest)
#include "test_setupform.moc"
