// The board window "Табло" against lentar-boardsim on a pseudo-terminal:
// what it reads on show, every button's work and message, the address byte,
// the upload with its refusals and the password pad, and the automatic
// brightness dialog. The loading-speed switch is checked on the in-memory
// line, where the port's bit rate can be watched at every request.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "core/paths.h"
#include "core/settings.h"
#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "gui/common/progressform.h"
#include "gui/common/tablegrid.h"
#include "gui/control/autobrightform.h"
#include "gui/control/boardport.h"
#include "gui/control/tabloform.h"
#include "markup/fontarchive_writer.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "support/gui_test_support.h"
#include "support/memory_board.h"
#include "support/sim_process.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;
using lentar::comm::testing::Bytes;
using lentar::comm::testing::MemoryBoard;
using lentar::comm::testing::SimProcess;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 13 + 1);
  return image;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QString Text(QWidget& form, const char* label) { return Child<QLabel>(&form, label)->text(); }

// A font with one glyph, enough for the font choice.
TTabFont OneGlyphFont(const std::string& name) {
  GlyphColumnsTable glyphs;
  glyphs['A'] = {0xFF};
  TTabFont font;
  std::string error;
  if (!BuildTabFont(name, 1, 1, glyphs, font, error)) qFatal("font: %s", error.c_str());
  return font;
}

}  // namespace

class TabloFormTest : public QObject {
  Q_OBJECT

 private:
  fs::path dir_;
  SimProcess sim_;
  std::unique_ptr<MessageCapture> messages_;
  std::unique_ptr<TRecProject> project_;
  // The board session the windows under test talk in.
  std::unique_ptr<comm::BoardSession> session_;
  std::unique_ptr<TTabloForm> form_;

  // Starts the simulator (uploads saved in the test folder) and opens the
  // board port on it at the link speed, as the main window does.
  void StartSim(std::vector<std::string> args = {}) {
    dir_ = comm::testing::TestFolder("lentar_tablo", QTest::currentTestFunction());
    RunSim(std::move(args));
  }

  // Starts the simulator in the test folder; started again after it was
  // killed, the board comes back with its memory (both buffers, the buffer
  // on show). The notes of uploads are kept beside the settings: here, in
  // the test's folder.
  void RunSim(std::vector<std::string> args) {
    StartSimProcess(std::move(args));
    QVERIFY(OpenBoardPort(*session_, true));
    comm::PreparePortRate(*session_, Settings().BaseSpeed, 0);
  }

  // The simulator alone, the port left as it is: a board that comes back
  // under a window that lost it.
  void StartSimProcess(std::vector<std::string> args) {
    args.insert(args.end(), {"--save-dir", dir_.string(), "--board-file",
                             (dir_ / "board.mem").string(), "-v"});
    QVERIFY2(sim_.Start(dir_, args), sim_.Log().c_str());
    Settings().TabPortDevice = sim_.Link();
    SetProgramFolder(FromNativePath(dir_.string()) + "/");
  }

  // Uploads image into buffer 1 and starts it: the board shows that set.
  void ShowSetOnTheBoard(const std::vector<uint8_t>& image) {
    TTabloForm& form = ShowForm(image);
    Child<QCheckBox>(&form, "CheckBox3")->setChecked(true);
    Button(form, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Информация: Загрузка успешно завершена!")});
    QCOMPARE(Text(form, "Label4"), QStringLiteral("Текущий буфер: 1"));
    messages_->Clear();
  }

  TTabloForm& ShowForm(const std::vector<uint8_t>& image = {}) {
    form_ = std::make_unique<TTabloForm>(image.empty() ? nullptr : image.data(), image.size(),
                                        *project_, *session_);
    form_->show();
    // The window reads the board as it opens.
    if (!WaitForDeviceWork(form_.get())) qWarning("the board window is still reading the board");
    return *form_;
  }

  // The commands the simulator received since it started, one code a line.
  QString SimLog() const { return QString::fromStdString(sim_.Log()); }

 private slots:
  void init() {
    Settings() = TSettings{};
    DefaultSettings(Settings());
    messages_ = std::make_unique<MessageCapture>();
    project_ = std::make_unique<TRecProject>();
    session_ = std::make_unique<comm::BoardSession>();
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

  void readsTheBoardOnShowWithoutAnImage() {
    StartSim();
    TTabloForm& form = ShowForm();
    QCOMPARE(form.windowTitle(), QStringLiteral("Табло"));
    QVERIFY(!Button(form, "Button5")->isVisible());
    QVERIFY(!Child<QLabel>(&form, "Label5")->isVisible());
    QVERIFY(!Button(form, "Button14")->isVisible());
    QVERIFY(!Child<QRadioButton>(&form, "RadioButton3")->isVisible());
    QVERIFY(Text(form, "Label21") != QStringLiteral("---"));
    QVERIFY(Text(form, "Label23").endsWith(QStringLiteral(" г.")));
    QCOMPARE(Text(form, "Label10"), QStringLiteral("Версия ПО табло: LENTAR-SIM 1.0"));
    QCOMPARE(Text(form, "Label11"), QStringLiteral("Пароль: нет"));
    QCOMPARE(Text(form, "Label8"), QStringLiteral("Всего: 4"));
    QCOMPARE(Text(form, "Label4"), QStringLiteral("Текущий буфер: ---"));
    QCOMPARE(Text(form, "Label6"), QStringLiteral("Позиция: ---"));
    QCOMPARE(Child<QSpinBox>(&form, "SpinEdit2")->value(), 3);
    QCOMPARE(Child<QSpinBox>(&form, "SpinEdit1")->value(), 5);
    Button(form, "Button1")->click();
    QVERIFY(WaitForDeviceWork(&form));
    Button(form, "Button3")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList());

    ShowForm(Pattern(10));
    QVERIFY(Button(*form_, "Button5")->isVisible());
    QCOMPARE(Text(*form_, "Label5"), QStringLiteral("Размер данных: 10 байт."));
  }

  void addressByteFollowsTheAddressField() {
    StartSim({"--address", "5"});
    Settings().DevAddr = 5;
    TTabloForm& form = ShowForm();
    session_->ReplyTimeout = 300;
    struct Case {
      int address;
      uint8_t byte;
      bool answers;
    } cases[] = {{-1, 0x0A, true}, {0, 0x80, false}, {5, 0x85, true}};
    for (const Case& c : cases) {
      messages_->Clear();
      Child<QSpinBox>(&form, "SpinEdit3")->setValue(c.address);
      Button(form, "Button1")->click();
      QVERIFY(WaitForDeviceWork(&form));
      QCOMPARE(session_->AddressByte, c.byte);
      QCOMPARE(messages_->Texts(), c.answers ? QStringList()
                                         : QStringList{QStringLiteral("Ошибка: Ошибка соединения!")});
      QCOMPARE(Text(form, "Label21") == QStringLiteral("---"), !c.answers);
    }
  }

  // The board's end of the line goes away under the window (the simulator
  // killed) and comes back: "Обновить" opens the line again by itself. While
  // the board is away the operator reads that the port does not open and may
  // try again; once it is back the window reads it and says what happened.
  void refreshReopensALineThatWasLost() {
    StartSim();
    TTabloForm& form = ShowForm();
    const QString link = QString::fromStdString(sim_.Link());
    sim_.Kill();
    Button(form, "Button1")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Messages().size(), size_t{1});
    const CapturedMessage away = messages_->Messages()[0];
    QCOMPARE(away.caption, QStringLiteral("Табло не отвечает"));
    QVERIFY2(away.text.startsWith(QStringLiteral("Связь с табло потеряна, и порт не открывается.\n"
                                                 "Ошибка коммуникационного порта!\n") + link),
             qPrintable(away.text));
    QVERIFY2(away.text.endsWith(QStringLiteral("Повторить?")), qPrintable(away.text));
    QCOMPARE(away.buttons, QMessageBox::Retry | QMessageBox::Cancel);
    QCOMPARE(Text(form, "Label21"), QStringLiteral("---"));
    QVERIFY(!Child<QSpinBox>(&form, "SpinEdit1")->isEnabled());

    StartSimProcess({});
    messages_->Clear();
    Button(form, "Button1")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(),
             QStringList{QStringLiteral("Информация: Связь с табло была потеряна. Порт %1 открыт "
                                        "заново, табло отвечает.")
                             .arg(link)});
    QVERIFY(Text(form, "Label21") != QStringLiteral("---"));
    QCOMPARE(Child<QSpinBox>(&form, "SpinEdit1")->value(), 5);
    QVERIFY(Child<QSpinBox>(&form, "SpinEdit1")->isEnabled());

    // The line is up again: nothing more to say.
    messages_->Clear();
    Button(form, "Button1")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList());
  }

  // A board that does not answer as the window opens: the window says so
  // and offers another try ("Отмена", the default, leaves "---" and the
  // controls greyed; "Повторить" reads the board).
  void aBoardSilentAsTheWindowOpensIsToldAndOfferedAnotherTry() {
    const struct Case {
      QMessageBox::StandardButton answer;
      bool read;
    } cases[] = {{QMessageBox::Cancel, false}, {QMessageBox::Retry, true}};
    for (const Case& c : cases) {
      if (c.read) {
        form_.reset();
        comm::CloseBoardPort(*session_);
        QVERIFY(sim_.Stop());
      }
      StartSim({"--ignore", "0x08@1"});  // the first clock request goes unanswered
      messages_->Clear();
      messages_->QueueAnswer(c.answer);
      TTabloForm& form = ShowForm();
      QCOMPARE(messages_->Messages().size(), size_t{1});
      const CapturedMessage& told = messages_->Messages()[0];
      QCOMPARE(told.caption, QStringLiteral("Табло не отвечает"));
      QCOMPARE(told.text,
               QStringLiteral("Табло не ответило (порт %1, без адреса): часы и настройки не "
                              "прочитаны, изменить их нельзя.\nПроверьте питание табло и кабель, "
                              "а в настройках — порт и адрес.\n\nПовторить?")
                   .arg(QString::fromStdString(sim_.Link())));
      QCOMPARE(Text(form, "Label21") != QStringLiteral("---"), c.read);
      QCOMPARE(Child<QSpinBox>(&form, "SpinEdit1")->isEnabled(), c.read);
      QCOMPARE(Button(form, "Button2")->isEnabled(), c.read);
    }
  }

  // The window comes back where the operator left it.
  void comesBackWhereTheOperatorLeftIt() {
    StartSim();
    TTabloForm& form = ShowForm();
    // Down only: the window is nearly as wide as the test screen, and a
    // place off the screen would be fitted back onto it.
    form.move(form.pos() + QPoint(0, 35));
    const IntRect moved = WindowGeometryRect(form);
    QTRY_COMPARE(Settings().TabloCoor, moved);
    form_.reset();
    TTabloForm& again = ShowForm();
    QCOMPARE(WindowGeometryRect(again), moved);
  }

  // A lost status read leaves every box that mirrors the board empty and
  // every button that would write it disabled; nothing reaches the board
  // until a read succeeds, and then the board's own values are shown.
  void valuesNotReadAreNeverWritten() {
    StartSim({"--ignore", "0x08@1"});
    TTabloForm& form = ShowForm(Pattern(10));
    auto* brightness = Child<QSpinBox>(&form, "SpinEdit1");
    auto* speed = Child<QSpinBox>(&form, "SpinEdit2");
    QCOMPARE(brightness->text(), QStringLiteral("---"));
    QCOMPARE(speed->text(), QStringLiteral("---"));
    QCOMPARE(Child<QLineEdit>(&form, "Edit3")->text(), QString());
    for (const char* name : {"Button2", "Button9", "Button10", "Button12"})
      QVERIFY2(!Button(form, name)->isEnabled(), name);
    for (const char* name : {"CheckBox1", "CheckBox2", "CheckBox4"})
      QVERIFY2(!Child<QCheckBox>(&form, name)->isEnabled(), name);
    Button(form, "Button2")->click();
    QVERIFY(WaitForDeviceWork(&form));
    Button(form, "Button9")->click();
    QVERIFY(WaitForDeviceWork(&form));
    Button(form, "Button12")->click();
    QVERIFY(WaitForDeviceWork(&form));
    for (const char* write : {"command 0x17", "command 0x2F", "command 0x0C", "command 0x30",
                              "command 0x05"})
      QVERIFY2(!SimLog().contains(QLatin1String(write)), write);

    Button(form, "Button1")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(brightness->value(), 5);
    QCOMPARE(speed->value(), 3);
    QVERIFY(Button(form, "Button2")->isEnabled());
    QVERIFY(Child<QCheckBox>(&form, "CheckBox4")->isEnabled());
    Button(form, "Button2")->click();
    QVERIFY(WaitForDeviceWork(&form));
    comm::StatusBlock status;
    QVERIFY(comm::CmdReadStatus(*session_, status));
    QCOMPARE(status.Brightness(), 5);
    QCOMPARE(status.Speed(), 3);
  }

  void setsSettingsClockFontAndAutoBrightness() {
    StartSim();
    TTabloForm& form = ShowForm();
    Child<QSpinBox>(&form, "SpinEdit1")->setValue(7);
    Child<QSpinBox>(&form, "SpinEdit2")->setValue(2);
    Child<QCheckBox>(&form, "CheckBox1")->setChecked(true);
    Button(form, "Button2")->click();
    QVERIFY(WaitForDeviceWork(&form));
    Child<QLineEdit>(&form, "Edit3")->setText(QStringLiteral("2"));
    Button(form, "Button9")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(Text(form, "Label9"), QStringLiteral("Текущий: 2"));
    Child<QCheckBox>(&form, "CheckBox2")->setChecked(true);
    Button(form, "Button12")->click();
    QVERIFY(WaitForDeviceWork(&form));
    Button(form, "Button4")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(Text(form, "Label21") != QStringLiteral("---"));
    QCOMPARE(messages_->Texts(), QStringList());

    comm::StatusBlock status;
    QVERIFY(comm::CmdReadStatus(*session_, status));
    QCOMPARE(status.Brightness(), 7);
    QCOMPARE(status.Speed(), 2);
    QVERIFY(status.Flipped());
    QCOMPARE(status.DefaultFont(), 2);
    QVERIFY(status.AutoBrightness());
    QVERIFY(Child<QCheckBox>(&form, "CheckBox2")->isChecked());
    QVERIFY(SimLog().contains(QStringLiteral("command 0x09")));
  }

  void choosesTheDefaultFontFromTheBank() {
    StartSim();
    auto* bank = &project_->Fonts();
    bank->Add(OneGlyphFont("zero"));
    bank->Add(OneGlyphFont("one"));
    bank->SetHeight(1);
    TTabloForm& form = ShowForm();
    Child<QLineEdit>(&form, "Edit3")->setText(QStringLiteral("0"));
    OnDialog(QStringLiteral("BankForm"), [](QWidget* dialog) {
      Child<TTableGrid>(dialog, "FontGrid")->SelectRow(2);
      Click(dialog, "okButton");
    });
    Button(form, "Button10")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(Child<QLineEdit>(&form, "Edit3")->text(), QStringLiteral("1"));
    QVERIFY2(!SimLog().contains(QStringLiteral("command 0x30")), "the choice sends nothing");
  }

  void clearsTheChosenBuffer() {
    StartSim();
    TTabloForm& form = ShowForm();
    Child<QComboBox>(&form, "ComboBox1")->setCurrentIndex(1);
    const QString question =
        QStringLiteral("Подтверждение: Очистить буфер №2 табло? Набор в нём будет стёрт.");
    // Cancel (the default) sends nothing.
    Button(form, "Button8")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{question});
    QVERIFY(!SimLog().contains(QStringLiteral("command 0x2C")));
    messages_->Clear();
    messages_->QueueAnswer(QMessageBox::Ok);
    Button(form, "Button8")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(),
             (QStringList{question, QStringLiteral("Информация: Буфер №2 очищен!")}));
    QVERIFY(SimLog().contains(QStringLiteral("command 0x2C buffer 1 offset 0 data 0")));
  }

  void uploadsTheImageAndRestartsTheBuffer() {
    StartSim();
    const std::vector<uint8_t> image = Pattern(1000);
    TTabloForm& form = ShowForm(image);
    Child<QComboBox>(&form, "ComboBox1")->setCurrentIndex(1);
    Child<QCheckBox>(&form, "CheckBox3")->setChecked(true);
    Button(form, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Информация: Загрузка успешно завершена!")});
    QCOMPARE(ReadFile(dir_ / "upload-1.bin"), std::string(image.begin(), image.end()));
    QCOMPARE(Text(form, "Label4"), QStringLiteral("Текущий буфер: 2"));
    QVERIFY(form.isEnabled());
  }

  // The board shows buffer 1, and buffer 1 is chosen: the operator is asked
  // before anything is changed. "Отмена" sends nothing; "Нет" loads buffer 1
  // as chosen; "Да" loads buffer 2 and switches the board to it at the end.
  void asksBeforeClearingTheBufferOnShow() {
    StartSim();
    ShowSetOnTheBoard(Pattern(300));
    const std::vector<uint8_t> image = Pattern(1000);
    TTabloForm& form = ShowForm(image);
    const QString question =
        QStringLiteral("Внимание: Табло сейчас показывает буфер №1. Загрузка в него сотрёт "
                       "показываемый набор: до конца загрузки табло будет пустым, а при обрыве "
                       "связи так и останется пустым.\n\nЗагрузить набор в буфер №2 и "
                       "переключить табло на него («Рестарт после загрузки»), только когда весь "
                       "набор будет подтверждён? До тех пор табло показывает прежний набор.\n\n"
                       "«Да» — в буфер №2, «Нет» — в буфер №1, «Отмена» — не загружать.");
    const QString done = QStringLiteral("Информация: Загрузка успешно завершена!");
    struct Case {
      QMessageBox::StandardButton answer;
      QStringList messages;
      int uploads;        // completed on the board so far
      const char* shown;  // Label4 afterwards
      int chosen;         // ComboBox1 afterwards
    } cases[] = {
        {QMessageBox::Cancel, {question}, 1, "Текущий буфер: 1", 0},
        {QMessageBox::No, {question, done}, 2, "Текущий буфер: 1", 0},
        {QMessageBox::Yes, {question, done}, 3, "Текущий буфер: 2", 1},
    };
    for (const Case& c : cases) {
      messages_->Clear();
      const size_t logged = sim_.Log().size();
      messages_->QueueAnswer(c.answer);
      Button(form, "Button5")->click();
      QVERIFY(WaitForDeviceWork(&form));
      QCOMPARE(messages_->Texts(), c.messages);
      QCOMPARE(Text(form, "Label4"), QString::fromUtf8(c.shown));
      QCOMPARE(Child<QComboBox>(&form, "ComboBox1")->currentIndex(), c.chosen);
      QVERIFY(!fs::exists(dir_ / ("upload-" + std::to_string(c.uploads + 1) + ".bin")));
      if (c.answer == QMessageBox::Cancel)
        QVERIFY2(sim_.Log().find("command 0x44", logged) == std::string::npos, "nothing changed");
      else
        QCOMPARE(ReadFile(dir_ / ("upload-" + std::to_string(c.uploads) + ".bin")),
                 std::string(image.begin(), image.end()));
    }
    // The set went into buffer 2, the one not on show: no question then.
    messages_->Clear();
    Child<QComboBox>(&form, "ComboBox1")->setCurrentIndex(0);
    Button(form, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{done});
  }

  // The set is loaded into the other buffer, but the board never confirms
  // the switch to it: no success is reported, in the words the fleet uses,
  // and the window shows the buffer the board still shows.
  void aSwitchTheBoardNeverConfirmedIsNoSuccess() {
    StartSim();
    ShowSetOnTheBoard(Pattern(300));
    form_.reset();
    comm::CloseBoardPort(*session_);
    QVERIFY(sim_.Stop());
    RunSim({"--ignore", "0x2D"});  // the board keeps its memory, ignores every start
    const std::vector<uint8_t> image = Pattern(1000);
    TTabloForm& form = ShowForm(image);
    messages_->Clear();
    messages_->QueueAnswer(QMessageBox::Yes);  // into buffer 2, switched to at the end
    Button(form, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts().size(), 2);
    QCOMPARE(messages_->Texts()[1],
             QStringLiteral("Ошибка: Набор загружен в буфер №2, но табло не подтвердило запуск "
                            "буфера 2.\nТабло показывает буфер №1.\nПовторите загрузку или "
                            "проверьте табло."));
    QCOMPARE(Text(form, "Label4"), QStringLiteral("Текущий буфер: 1"));
    QCOMPARE(ReadFile(dir_ / "upload-2.bin"), std::string(image.begin(), image.end()));
  }

  // The board shows buffer 1; a new set goes into buffer 2, and the board
  // dies half way (its memory kept, as after a power cut). Back again, it
  // still shows the old set, and "Дозагрузка" sends only what the board did
  // not confirm, then switches the board to the new set.
  void anUploadIntoTheOtherBufferSurvivesABoardKilledHalfWay() {
    StartSim({"--delay-ms", "20"});
    const std::vector<uint8_t> old = Pattern(3000);
    std::vector<uint8_t> fresh = Pattern(5026);
    for (uint8_t& b : fresh) b ^= 0x5A;
    ShowSetOnTheBoard(old);

    TTabloForm& form = ShowForm(fresh);
    messages_->QueueAnswer(QMessageBox::Yes);  // into buffer 2
    std::thread killer = comm::testing::KillWhenLogged(sim_, "buffer 1 offset 2560");
    Button(form, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&form));
    killer.join();
    QCOMPARE(messages_->Texts().size(), 2);
    QCOMPARE(messages_->Texts()[1],
             QStringLiteral("Ошибка: Ошибка соединения!\nВыберите \"Дозагрузка\" и нажмите "
                            "\"Загрузка\": загрузка продолжится с места обрыва.\nТабло "
                            "по-прежнему показывает свой набор из буфера №1."));
    QCOMPARE(Child<QComboBox>(&form, "ComboBox1")->currentIndex(), 1);
    auto* resume = Child<QRadioButton>(&form, "RadioButton3");
    QVERIFY(resume->isVisibleTo(&form) && resume->isChecked());

    form_.reset();
    comm::CloseBoardPort(*session_);
    RunSim({"--delay-ms", "20"});
    messages_->Clear();
    TTabloForm& again = ShowForm(fresh);
    QCOMPARE(Text(again, "Label4"), QStringLiteral("Текущий буфер: 1"));
    comm::BufferInfo info;
    QVERIFY(comm::CmdReadBufferInfo(*session_, info));
    QCOMPARE(info.DataLength(), 3000);
    resume = Child<QRadioButton>(&again, "RadioButton3");
    QVERIFY2(!resume->isVisibleTo(&again), "nothing to resume in buffer 1");
    Child<QComboBox>(&again, "ComboBox1")->setCurrentIndex(1);
    QVERIFY(resume->isVisibleTo(&again));
    resume->setChecked(true);
    Button(again, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&again));
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Информация: Загрузка успешно завершена!")});
    QCOMPARE(Text(again, "Label4"), QStringLiteral("Текущий буфер: 2"));
    QCOMPARE(ReadFile(dir_ / "upload-2.bin"), std::string(fresh.begin(), fresh.end()));
    QVERIFY2(sim_.Log().find("command 0x2C buffer 1 offset 0 ") == std::string::npos,
             "neither cleared nor sent from the start");
    QVERIFY2(!resume->isVisibleTo(&again), "a completed upload leaves nothing to resume");
  }

  // A full upload of a 5 KB set through the window over a direct line that
  // loses a fifth of the requests: at least nine seeded runs of ten end in
  // "Загрузка успешно завершена!" with the image on the board.
  void uploadGetsThroughALineThatLosesAFifth() {
    const std::vector<uint8_t> image = Pattern(5026);
    const QStringList done{QStringLiteral("Информация: Загрузка успешно завершена!")};
    int delivered = 0;
    for (int seed = 1; seed <= 10; ++seed) {
      if (seed > 1) {
        form_.reset();
        comm::CloseBoardPort(*session_);
        QVERIFY(sim_.Stop());
      }
      StartSim({"--drop", "0.2", "--seed", std::to_string(seed)});
      session_->ReplyTimeout = 100;
      TTabloForm& form = ShowForm(image);
      messages_->Clear();
      Button(form, "Button5")->click();
      QVERIFY(WaitForDeviceWork(&form));
      if (messages_->Texts() != done) continue;
      ++delivered;
      QCOMPARE(ReadFile(dir_ / "upload-1.bin"), std::string(image.begin(), image.end()));
    }
    QVERIFY2(delivered >= 9, std::to_string(delivered).c_str());
  }

  // An upload at 57,600 bit/s over a line paced as a real one takes
  // seconds: all the while the window handles its events. A timer on its
  // thread keeps firing, it repaints when asked and a move reaches it, the
  // progress window follows the blocks, and the controls that would start
  // other device work are disabled until the upload is over. "Прервать"
  // then stops it.
  void staysResponsiveDuringAPacedUploadAndStopsOnInterrupt() {
    Settings().DLSpeed = 4;  // the board is switched to 57,600 bit/s for the transfer
    StartSim({"--pace"});
    const std::vector<uint8_t> image = Pattern(30000);
    TTabloForm& form = ShowForm(image);
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    struct Watch : QObject {
      int paints = 0, moves = 0;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        if (e->type() == QEvent::Move) ++moves;
        return false;
      }
    } watch;
    form.installEventFilter(&watch);
    int ticks = 0;
    QTimer timer;
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start();

    Button(form, "Button5")->click();
    QVERIFY(form.Busy());
    for (const char* name : {"Button1", "Button5", "Button8", "Button11", "Button6"})
      QVERIFY2(!Button(form, name)->isEnabled(), name);
    auto* progress = form.findChild<TProgressForm*>();
    QVERIFY(progress);
    QTRY_VERIFY_WITH_TIMEOUT(progress->isVisible() && progress->Percent() > 0, 20000);
    QVERIFY(Button(progress, "InterruptButton")->isVisible());

    const int ticksBefore = ticks;
    const int paintsBefore = watch.paints;
    const int movesBefore = watch.moves;
    const QPoint moved = form.pos() + QPoint(40, 30);
    form.move(moved);
    form.update();
    QTRY_VERIFY(ticks > ticksBefore + 10 && watch.paints > paintsBefore &&
                watch.moves > movesBefore);
    QCOMPARE(form.pos(), moved);
    QVERIFY2(form.Busy() && progress->Percent() < 100, "all before the upload ended");

    // "Прервать": the upload stops at the next block. The operator reads
    // that he stopped it and how to complete it; nothing is reported done.
    Click(progress, "InterruptButton");
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(),
             QStringList{QStringLiteral("Ошибка: Прервано оператором\nВыберите \"Дозагрузка\" и "
                                        "нажмите \"Загрузка\": загрузка продолжится с места "
                                        "обрыва.")});
    QVERIFY(!fs::exists(dir_ / "upload-1.bin"));
    QVERIFY(form.findChild<TProgressForm*>() == nullptr);
    QVERIFY(Button(form, "Button5")->isEnabled());
    auto* resume = Child<QRadioButton>(&form, "RadioButton3");
    QVERIFY(resume->isVisibleTo(&form) && resume->isChecked());

    // "Дозагрузка" completes it.
    messages_->Clear();
    Button(form, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Информация: Загрузка успешно завершена!")});
    QCOMPARE(ReadFile(dir_ / "upload-1.bin"), std::string(image.begin(), image.end()));
  }

  void refusesAnImageAsLargeAsTheBuffer() {
    StartSim({"--buffer1", "100"});
    TTabloForm& form = ShowForm(Pattern(100));
    Button(form, "Button5")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Ошибка: Недостаточный размер буфера!")});
    // Nothing was changed on the board: no option, no clearing, no block.
    const QString log = SimLog();
    QVERIFY(!log.contains(QStringLiteral("command 0x44")));
    QVERIFY(!log.contains(QStringLiteral("command 0x2C")));
    QVERIFY(!fs::exists(dir_ / "upload-1.bin"));
  }

  void uploadAsksForThePasswordWhenTheBoardDoes() {
    StartSim({"--password", "pw"});
    Settings().Password[0] = "pw";
    Settings().Password[1] = "nope";
    const std::vector<uint8_t> image = Pattern(300);
    TTabloForm& form = ShowForm(image);
    QCOMPARE(Text(form, "Label11"), QStringLiteral("Пароль: установлен"));
    struct Case {
      const char* button;  // on the pad
      QStringList messages;
      bool uploaded;
    } cases[] = {
        {"Button9", {QStringLiteral("Ошибка: Ошибка связи с контроллером!")}, false},
        {"Button2",
         {QStringLiteral("Ошибка: Введен неверный пароль"),
          QStringLiteral("Ошибка: Ошибка связи с контроллером!")},
         false},
        {"Button1", {QStringLiteral("Информация: Загрузка успешно завершена!")}, true},
    };
    for (const Case& c : cases) {
      messages_->Clear();
      bool padShown = false;
      OnDialog(QStringLiteral("PswForm"), [&](QWidget* pad) {
        padShown = true;
        QCOMPARE(pad->findChild<QLabel*>(QStringLiteral("Label2"))->text(),
                 QStringLiteral("Выберите пароль"));
        Click(pad, c.button);
      });
      Button(form, "Button5")->click();
      QVERIFY(WaitForDeviceWork(&form));
      QVERIFY(padShown);
      QCOMPARE(messages_->Texts(), c.messages);
      QCOMPARE(fs::exists(dir_ / "upload-1.bin"), c.uploaded);
    }
  }

  void changesThePassword() {
    StartSim();
    Settings().Password[0] = "";
    Settings().Password[1] = "pw2";
    TTabloForm& form = ShowForm();
    QStringList prompts;
    OnDialog(QStringLiteral("PswForm"), [&](QWidget* pad) {
      prompts << pad->findChild<QLabel*>(QStringLiteral("Label2"))->text();
      Click(pad, "Button1");  // the empty slot: the board has no password yet
      OnDialog(QStringLiteral("PswForm"), [&](QWidget* next) {
        prompts << next->findChild<QLabel*>(QStringLiteral("Label2"))->text();
        Click(next, "Button2");
      });
    });
    Button(form, "Button11")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(prompts, (QStringList{QStringLiteral("Выберите старый пароль"),
                                   QStringLiteral("Выберите новый пароль")}));
    QCOMPARE(Text(form, "Label11"), QStringLiteral("Пароль: установлен"));
    QCOMPARE(messages_->Texts(), QStringList());

    // The old password is now wrong.
    OnDialog(QStringLiteral("PswForm"), [](QWidget* pad) { Click(pad, "Button1"); });
    Button(form, "Button11")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Ошибка: Введен неверный пароль")});
  }

  void autoBrightnessDialogReadsChecksAndWrites() {
    StartSim();
    TTabloForm& form = ShowForm();
    QStringList seen;
    OnDialog(QStringLiteral("AutoBrightForm"), [&](QWidget* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Настройки автояркости"));
      seen << Text(*dialog, "Label2") << Text(*dialog, "Label6")
           << Child<QLineEdit>(dialog, "Edit2")->text() << Child<QLineEdit>(dialog, "Edit1")->text()
           << Child<QLineEdit>(dialog, "Edit3")->text();
      Click(dialog, "Button3");  // the current reading becomes the darkness reading
      Child<QLineEdit>(dialog, "Edit2")->setText(QStringLiteral("256"));
      Click(dialog, "Button5");  // refused before anything is sent
      Child<QLineEdit>(dialog, "Edit2")->setText(QStringLiteral("4"));
      Child<QLineEdit>(dialog, "Edit3")->setText(QStringLiteral("seven"));
      Click(dialog, "Button5");
      Child<QLineEdit>(dialog, "Edit3")->setText(QStringLiteral("950"));
      Click(dialog, "Button5");
      Click(dialog, "Button2");
    });
    Button(form, "Button7")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QCOMPARE(seen, (QStringList{"5", "500", "2", "100", "900"}));
    QCOMPARE(messages_->Texts(),
             (QStringList{QStringLiteral("Ошибка: Яркость в темноте должна быть целым числом от 0 до 255"),
                          QStringLiteral("Ошибка: Показания АЦП должны быть целыми числами от 0 до 65535")}));
    comm::AutoBrightBlock block;
    QVERIFY(comm::CmdReadAutoBright(*session_, block));
    QCOMPARE(block.DarkBrightness(), 4);
    QCOMPARE(block.DarkSensor(), 500);
    QCOMPARE(block.BrightSensor(), 950);
    QCOMPARE(SimLog().count(QStringLiteral("command 0x05")), 1);
  }

  void autoBrightnessDialogWithoutABoard() {
    comm::BoardSession closed;
    TAutoBrightForm dialog(closed);
    dialog.show();
    QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Ошибка: Ошибка связи с контроллером!")});
    QVERIFY(!dialog.Valid());
    QVERIFY(!Button(dialog, "Button5")->isEnabled());
    QVERIFY(!Button(dialog, "Button3")->isEnabled());
    Child<QLineEdit>(&dialog, "Edit2")->setText(QStringLiteral("1"));
    Button(dialog, "Button5")->click();  // disabled: nothing happens
    QCOMPARE(messages_->Messages().size(), size_t{1});
  }

  // The loading speed: the board is told first, then the port follows; after
  // the upload both go back. The in-memory line shows the port's rate at
  // every request.
  void switchesToTheLoadingSpeedAndBack() {
    struct Case {
      int loadSpeed, baseSpeed;
      std::vector<int> rateCommands;
    } cases[] = {{2, 0, {5, 3}}, {1, 1, {}}};
    for (const Case& c : cases) {
      MemoryBoard board;
      std::vector<std::pair<Bytes, int32_t>> seen;
      board.SetResponder([&](const Bytes& r) -> std::optional<Bytes> {
        int32_t rate = 0;
        {
          std::lock_guard guard(board.Peer().lock);
          rate = board.Peer().baudRate;
        }
        seen.emplace_back(r, rate);
        const auto data = [](size_t n, std::initializer_list<std::pair<size_t, uint8_t>> set) {
          Bytes d(n + 2, 0);
          d[0] = 0x03;
          d[1] = 0x01;
          for (auto [at, v] : set) d[2 + at] = v;
          return d;
        };
        switch (r[2]) {
          case 0x01: return Bytes{0x02, 0x01, 'C', 'O', 'N', 'O', 'K'};
          case 0x0D: return data(22, {{20, 1}, {4, 3}, {5, 5}});
          // The board shows buffer 2: loading buffer 1 asks nothing.
          case 0x34: return data(17, {{0, 1}, {3, 0x10}, {14, 0x7D}, {16, 0x7D}});
          case 0x08: return data(8, {{4, 1}, {5, 1}, {6, 0x24}});
          case 0x3F: return data(32, {});
          default: return lentar::comm::testing::Ack();
        }
      });
      Settings().DLSpeed = c.loadSpeed;
      Settings().BaseSpeed = c.baseSpeed;
      board.Port().SetBaudIndex(c.baseSpeed + 3);
      const std::vector<uint8_t> image = Pattern(200);
      comm::BoardSession session(board.Port());
      TTabloForm form(image.data(), image.size(), *project_, session);
      form.show();
      QVERIFY(WaitForDeviceWork(&form));
      seen.clear();
      messages_->Clear();
      Button(form, "Button5")->click();
      QVERIFY(WaitForDeviceWork(&form));
      QCOMPARE(messages_->Texts(), QStringList{QStringLiteral("Информация: Загрузка успешно завершена!")});
      std::vector<int> rateCommands;
      size_t firstBlock = 0, lastBlock = 0;
      for (size_t i = 0; i < seen.size(); ++i) {
        const Bytes& r = seen[i].first;
        if (r[2] == 0x37) rateCommands.push_back(r[3]);
        if (r[2] == 0x2C && r.size() > 6) {
          if (firstBlock == 0) firstBlock = i;
          lastBlock = i;
          QCOMPARE(seen[i].second, comm::RateTable[static_cast<size_t>(c.loadSpeed + 3)]);
        }
      }
      QCOMPARE(rateCommands, c.rateCommands);
      if (!c.rateCommands.empty()) {
        const auto at = [&](uint8_t code, size_t from) {
          for (size_t i = from; i < seen.size(); ++i)
            if (seen[i].first[2] == code) return i;
          return seen.size();
        };
        const size_t before = at(0x37, 0);
        QVERIFY(before < firstBlock);
        QCOMPARE(seen[before].second, comm::RateTable[static_cast<size_t>(c.baseSpeed + 3)]);
        QVERIFY(at(0x37, before + 1) > lastBlock);
      }
      QCOMPARE(board.Port().BaudRate(), comm::RateTable[static_cast<size_t>(c.baseSpeed + 3)]);
    }
  }
};

QTEST_MAIN(TabloFormTest)
#include "test_tabloform.moc"
