// The loader window "Управление загрузчиком" against lentar-boardsim
// --loader on a pseudo-terminal: the block table, erasing, writing with and
// without the reorganisation, saving a block to a file, the passwords and a
// loader without data memory. The simulated loader keeps its memory in a
// file, which a test seeds and reads back after stopping it.
//
// Built a second time as loadform_screenshots, its screenshotWhenAsked slot
// saves the window with a few blocks as loadform.png in LENTAR_SHOTS_DIR
// (scripts/screenshots.sh runs it under Xvfb).
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <string>
#include <vector>

#include "comm/loaderprotocol.h"
#include "core/atomicfile.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "fleet/boardline.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/common/tablegrid.h"
#include "gui/control/loadform.h"
#include "markup/project.h"
#include "support/gui_test_support.h"
#include "support/sim_process.h"

using namespace lentar;
using namespace lentar::comm;
using namespace lentar::gui;
using namespace lentar::gui::testing;
using lentar::comm::testing::SimProcess;
using lentar::comm::testing::TestFolder;

namespace {

struct Block {
  int entry;
  uint32_t start;
  uint16_t size;
  std::string name;
};

std::string Pattern(size_t size, unsigned seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 11 + seed * 37 + (i >> 8));
  return data;
}

std::string MemoryWith(int type, const std::vector<Block>& blocks) {
  std::string memory(static_cast<size_t>(MemorySize(type)), '\xFF');
  LoaderDirectory d{};
  for (const Block& b : blocks) {
    WriteEntry(d, b.entry, {b.start, b.size, b.name, 1});
    memory.replace(b.start, b.size, Pattern(b.size, static_cast<unsigned>(b.entry)));
  }
  memory.replace(0, d.size(), std::string(d.begin(), d.end()));
  return memory;
}

LoaderDirectory DirectoryIn(const std::string& memory) {
  LoaderDirectory d{};
  std::copy_n(memory.begin(), d.size(), d.begin());
  return d;
}

}  // namespace

class LoadFormTest : public QObject {
  Q_OBJECT

 private:
  std::filesystem::path dir_;
  SimProcess sim_;
  std::unique_ptr<MessageCapture> messages_;
  // The loader session the windows under test talk in.
  std::unique_ptr<LoaderSession> session_;

  std::string MemoryFile() const { return (dir_ / "memory.bin").string(); }

  // Seeds the loader's memory and starts it.
  void StartLoader(int type, const std::vector<Block>& blocks, std::vector<std::string> extra = {}) {
    QVERIFY(WriteFileAtomically(MemoryFile(), MemoryWith(type, blocks)));
    std::vector<std::string> args = {"--loader", "--memory-type", std::to_string(type),
                                     "--memory-file", MemoryFile(), "-v"};
    args.insert(args.end(), extra.begin(), extra.end());
    QVERIFY(sim_.Start(dir_, args));
    Settings().I2CPortDevice = sim_.Link();
  }

  std::string StopAndReadMemory() {
    sim_.Stop();
    std::string memory;
    ReadWholeFile(MemoryFile(), memory);
    return memory;
  }

  // Shows the window and waits until it has read the loader.
  static void ShowAndRead(TLoadForm& form) {
    form.show();
    // The size label is set as the reading begins, in the same turn of the
    // event loop that reads the loader.
    auto* size = form.findChild<QLabel*>(QStringLiteral("Label1"));
    QTRY_VERIFY_WITH_TIMEOUT(!size->text().isEmpty(), 10000);
    // The reading runs on the window's worker.
    QTRY_VERIFY_WITH_TIMEOUT(!form.Busy(), 30000);
  }

  // Clicks a button of the window and waits until the device work it
  // started has finished.
  static void ClickAndWait(TLoadForm& form, const char* name) {
    Button(form, name)->click();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Busy(), 60000);
  }

  static TTableGrid* Table(TLoadForm& form) {
    return form.findChild<TTableGrid*>(QStringLiteral("TableGrid1"));
  }

  QStringList Texts() const {
    QStringList texts;
    for (const CapturedMessage& m : messages_->Messages()) texts << m.caption + " | " + m.text;
    return texts;
  }

 private slots:
  void init() {
    dir_ = TestFolder("lentar_loadform", QTest::currentTestFunction());
    Settings() = TSettings{};
    DefaultSettings(Settings());
    session_ = std::make_unique<LoaderSession>();
    session_->LoaderSwitchPause = 5;
    messages_ = std::make_unique<MessageCapture>();
  }

  void cleanup() {
    messages_.reset();
    session_.reset();
    sim_.Stop();
    std::filesystem::remove_all(dir_);
  }

  // Opened before the loader was plugged in, the window says so; once the
  // loader is there, "Обновить" opens the port afresh and reads it.
  void refreshReachesALoaderPluggedInLater() {
    Settings().I2CPortDevice = (dir_ / "board").string();
    TRecProject project;
    TLoadForm form(nullptr, 0, project, *session_);
    ShowAndRead(form);
    auto* status = form.findChild<QLabel*>(QStringLiteral("Label3"));
    QVERIFY(status);
    QCOMPARE(status->text(), QStringLiteral("Ошибка"));
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QVERIFY(messages_->Messages()[0].text.startsWith(
        QStringLiteral("Ошибка коммуникационного порта!\n")));

    StartLoader(1, {{0, 1152, 100, "first"}});
    messages_->Clear();
    ClickAndWait(form, "Button2");
    QCOMPARE(status->text(), QStringLiteral("OK"));
    QCOMPARE(Table(form)->RowCount(), 2);
    QCOMPARE(Texts(), QStringList());

    // The directory keeps 15 characters of a name: the field takes no more.
    auto* name = form.findChild<QLineEdit*>(QStringLiteral("Edit1"));
    name->clear();
    name->insert(QStringLiteral("Распродажа-зимняя-2026"));  // as typed or pasted
    QCOMPARE(name->text(), QStringLiteral("Распродажа-зимн"));
  }

  // The loader's line is taken as a delivery takes it: while another
  // program holds it, the window says so and, cancelled, leaves the loader
  // alone; "Обновить" takes it once it is free.
  void aLineAnotherProgramHoldsIsToldAndLeftAlone() {
    StartLoader(1, {{0, 1152, 100, "first"}});
    auto held = std::make_unique<fleet::LineLock>();
    std::string why;
    QVERIFY(held->Take(fleet::DefaultLockFolder(), fleet::LineKey(Settings().I2CPortDevice),
                       nullptr, {}, why));
    messages_->QueueAnswer(QMessageBox::Cancel);
    TRecProject project;
    TLoadForm form(nullptr, 0, project, *session_);
    ShowAndRead(form);
    QVERIFY(!form.Connected());
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].caption, QStringLiteral("Линия занята"));
    QVERIFY2(messages_->Messages()[0].text.startsWith(QStringLiteral("Линия занята: ")),
             qPrintable(messages_->Messages()[0].text));
    QVERIFY(!session_->Port().IsOpen());
    QVERIFY(sim_.Log().find("command") == std::string::npos);

    held.reset();
    messages_->Clear();
    ClickAndWait(form, "Button2");
    QVERIFY(form.Connected());
    QCOMPARE(Table(form)->RowCount(), 2);
    QCOMPARE(Texts(), QStringList());
  }

  void loaderWithoutMemoryShowsTheMessageAndCloses() {
    StartLoader(0, {});
    TRecProject project;
    project.LoaderBlockName = "name";
    const std::string image(100, 'x');
    // The window closes by itself: ShowLoaderWindow returns.
    ShowLoaderWindow(reinterpret_cast<const uint8_t*>(image.data()), image.size(), project, *session_);
    // The system's own words, misspelling and all; no memory command is
    // sent to a loader that has no memory.
    QCOMPARE(Texts(), QStringList{QStringLiteral("Ошибка! | Загрузчик не имеет памяди данных!")});
    QCOMPARE(messages_->Messages()[0].icon, QMessageBox::Critical);
    QCOMPARE(project.LoaderBlockName, std::string("name"));
    QVERIFY(sim_.Log().find("command 0x16") == std::string::npos);
    QVERIFY(sim_.Log().find("command 0x15") == std::string::npos);
  }

  void rowsFollowTheDirectoryAndAFailedEraseNamesTheEntry() {
    StartLoader(1, {{0, 1152, 100, "zero"}, {5, 2048, 300, "five"}}, {"--read-only"});
    TRecProject project;
    TLoadForm form(nullptr, 0, project, *session_);
    ShowAndRead(form);
    TTableGrid* table = Table(form);
    QCOMPARE(table->RowCount(), 3);
    QCOMPARE(table->Cell(0, 1), QStringLiteral("1"));
    QCOMPARE(table->Cell(1, 1), QStringLiteral("zero"));
    QCOMPARE(table->Cell(2, 1), QStringLiteral("100"));
    QCOMPARE(table->Cell(0, 2), QStringLiteral("2"));
    QCOMPARE(table->Cell(1, 2), QStringLiteral("five"));
    QVERIFY(!Button(form, "Button5")->isEnabled());  // nothing to store

    table->SelectRow(2);
    messages_->QueueAnswer(QMessageBox::Yes);
    ClickAndWait(form, "Button3");
    QCOMPARE(Texts(), (QStringList{QStringLiteral("Внимание! | Стереть блок №2?"),
                                   QStringLiteral("Ошибка! | Не удалось стереть блок №6!")}));
    QCOMPARE(messages_->Messages()[0].buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY(!form.Connected());
    QVERIFY(!Button(form, "Button3")->isEnabled());
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("Ошибка"));
  }

  void eraseAnsweredNoOrYes() {
    StartLoader(1, {{0, 1152, 100, "zero"}, {5, 2048, 300, "five"}});
    TRecProject project;
    TLoadForm form(nullptr, 0, project, *session_);
    ShowAndRead(form);
    Table(form)->SelectRow(1);
    messages_->QueueAnswer(QMessageBox::No);
    ClickAndWait(form, "Button3");
    QCOMPARE(Table(form)->RowCount(), 3);
    messages_->QueueAnswer(QMessageBox::Yes);
    ClickAndWait(form, "Button3");
    QCOMPARE(Table(form)->RowCount(), 2);
    QCOMPARE(Table(form)->Cell(1, 1), QStringLiteral("five"));
    const std::string memory = StopAndReadMemory();
    QVERIFY(EntryEmpty(DirectoryIn(memory), 0));
    QCOMPARE(ReadEntry(DirectoryIn(memory), 5).name, std::string("five"));
  }

  void anImageLargerThanTheFreeSpaceIsRefusedBeforeSending() {
    const std::vector<Block> blocks = {{0, 1152, 20000, "big"}};
    StartLoader(1, blocks);
    const std::string before = MemoryWith(1, blocks);
    TRecProject project;
    const std::string image(12000, 'i');
    TLoadForm form(reinterpret_cast<const uint8_t*>(image.data()), image.size(), project, *session_);
    ShowAndRead(form);
    ClickAndWait(form, "Button5");
    QCOMPARE(Texts(), QStringList{QStringLiteral(
                          "Ошибка! | Недостаточно места в загрузчике! Удалите какие-либо данные!")});
    QVERIFY(StopAndReadMemory() == before);
    QVERIFY(sim_.Log().find("command 0x15") == std::string::npos);
  }

  void fragmentedSpaceAsksAboutTheReorganisation() {
    // Three gaps of 6400 bytes; 8000 bytes fit only after packing.
    const std::vector<Block> blocks = {
        {0, 7552, 4000, "b"}, {1, 17984, 4000, "c"}, {2, 28416, 4000, "d"}};
    StartLoader(1, blocks);
    const std::string before = MemoryWith(1, blocks);
    TRecProject project;
    const std::string image = Pattern(8000, 99);
    TLoadForm form(reinterpret_cast<const uint8_t*>(image.data()), image.size(), project, *session_);
    form.SetBlockName(Utf8ToCp1251(u8"  Очень длинное имя блока  "));
    ShowAndRead(form);

    messages_->QueueAnswer(QMessageBox::No);
    ClickAndWait(form, "Button5");
    QCOMPARE(Texts(), QStringList{QStringLiteral(
                          "Внимание! | Нет свободного блока достаточного размера! Произвести "
                          "оптимизацию?")});
    QCOMPARE(Table(form)->RowCount(), 4);
    QVERIFY(sim_.Log().find("command 0x15") == std::string::npos);  // nothing written

    messages_->Clear();
    messages_->QueueAnswer(QMessageBox::Yes);
    ClickAndWait(form, "Button5");
    QCOMPARE(Texts().size(), 1);
    QVERIFY(form.Connected());
    QCOMPARE(Table(form)->RowCount(), 5);
    QCOMPARE(Table(form)->Cell(1, 4), QStringLiteral("Очень длинное и"));
    QCOMPARE(Table(form)->Cell(2, 4), QStringLiteral("8000"));

    // The fewest bytes moved: "b" alone, into the gap after it; the new
    // block takes the start.
    const std::string memory = StopAndReadMemory();
    QVERIFY(memory.substr(0, 1152) != before.substr(0, 1152));
    const LoaderDirectory d = DirectoryIn(memory);
    const DirEntry stored = ReadEntry(d, 3);
    QCOMPARE(stored.start, 1152u);
    QCOMPARE(stored.name, Utf8ToCp1251(u8"Очень длинное и"));
    QVERIFY(memory.substr(1152, 8000) == image);
    const uint32_t starts[] = {11584, 17984, 28416};
    for (int i = 0; i < 3; ++i) {
      const DirEntry e = ReadEntry(d, i);
      QCOMPARE(e.start, starts[i]);
      QVERIFY(memory.substr(e.start, 4000) == Pattern(4000, static_cast<unsigned>(i)));
    }
  }

  // Packing that cannot be done names its reason, never the line: a damaged
  // directory (two blocks over each other), and a block that could only move
  // over its own place with no free place as large as itself (refused before
  // anything is read or written).
  void packingThatCannotBeDoneSaysWhy() {
    struct Case {
      std::vector<Block> blocks;
      size_t imageSize;
      QString first, second;  // the start of the message and a part of it
    };
    const Case cases[] = {
        {{{0, 1152, 5000, "a"}, {1, 6000, 900, "b"}, {2, 14016, 3000, "c"}, {3, 24000, 3000, "d"}},
         9000,
         QString::fromUtf8(kDamagedDirectoryText),
         QStringLiteral("«Стереть все»")},
        {{{0, 1216, 20000, "big"}},
         11530,
         QStringLiteral("Место для блока не освободить, не рискуя блоком «big»"),
         QStringLiteral("Свободно 11584 байта в 2 промежутках: с адреса 1152 — 64 байта; с "
                        "адреса 21248 — 11520 байт.")},
    };
    for (const Case& c : cases) {
      messages_->Clear();
      StartLoader(1, c.blocks);
      const std::string before = MemoryWith(1, c.blocks);
      TRecProject project;
      const std::string image = Pattern(c.imageSize, 5);
      TLoadForm form(reinterpret_cast<const uint8_t*>(image.data()), image.size(), project, *session_);
      ShowAndRead(form);
      messages_->QueueAnswer(QMessageBox::Yes);
      ClickAndWait(form, "Button5");
      const QStringList texts = Texts();
      QCOMPARE(texts.size(), 2);
      QVERIFY2(texts[1].startsWith(QStringLiteral("Ошибка! | ") + c.first), qPrintable(texts[1]));
      QVERIFY2(texts[1].contains(c.second), qPrintable(texts[1]));
      QVERIFY(form.Connected());
      QVERIFY(StopAndReadMemory() == before);
      QVERIFY(sim_.Log().find("command 0x15") == std::string::npos);
    }
  }

  void toFileWritesExactlyTheBlock() {
    StartLoader(2, {{3, 1280, 300, "three"}});
    TRecProject project;
    TLoadForm form(nullptr, 0, project, *session_);
    ShowAndRead(form);
    FileDialogCapture dialogs;
    const std::string path = (dir_ / "block.bin").string();
    dialogs.QueueAnswer(path);
    Table(form)->SelectRow(1);
    ClickAndWait(form, "Button7");
    QCOMPARE(dialogs.Requests().size(), size_t{1});
    QCOMPARE(dialogs.Requests()[0].title, QStringLiteral("Сохранить данные в файл"));
    std::string bytes;
    QVERIFY(ReadWholeFile(path, bytes));
    QVERIFY(bytes == Pattern(300, 3));
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("OK"));
  }

  void passwordsOfEightAcceptedNineRefusedAndWritten() {
    StartLoader(1, {});
    TRecProject project;
    TLoadForm form(nullptr, 0, project, *session_);
    ShowAndRead(form);
    const auto change = [&](int slot, const QString& text) {
      WhenModal([slot, text](QWidget* pad) {
        QTimer::singleShot(0, [text] {
          QWidget* input = QApplication::activeModalWidget();
          QVERIFY(input);
          input->findChild<QLineEdit*>(QStringLiteral("Edit1"))->setText(text);
          input->findChild<QLineEdit*>(QStringLiteral("Edit2"))->setText(text);
          input->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
        });
        Click(pad, QString("Button%1").arg(slot).toLatin1().constData());
      });
      ClickAndWait(form, "Button10");
    };
    change(2, QStringLiteral("12345678"));
    QCOMPARE(Settings().Password[1], std::string("12345678"));
    QCOMPARE(Texts(), QStringList{});
    change(3, QStringLiteral("123456789"));
    QCOMPARE(Settings().Password[2], std::string());
    QCOMPARE(Texts(), QStringList{QStringLiteral("Ошибка | Слишком длинный пароль")});

    WhenModal([](QWidget* pad) { Click(pad, "Button10"); });  // "В загрузчик"
    ClickAndWait(form, "Button10");
    QCOMPARE(Texts().size(), 1);
    const std::string memory = StopAndReadMemory();
    QVERIFY(memory.substr(1024 + 16, 9) == "\x08" "12345678");
    QVERIFY(memory.substr(1024, 16) == std::string(16, '\0'));
  }

  // Starts storing a 60000-byte block in a loader that takes every byte at
  // line speed (57,600 bit/s) and waits until a few pages are in.
  void StartASlowWrite(TLoadForm& form) {
    Button(form, "Button5")->click();
    QVERIFY(form.Busy());
    auto* gauge = form.findChild<QProgressBar*>(QStringLiteral("Gauge1"));
    QTRY_VERIFY_WITH_TIMEOUT(gauge->value() >= 5, 30000);
    QVERIFY(form.Busy());
  }

  // The write runs on the window's worker: the window answers while the
  // block goes (a timer on its thread keeps firing, it moves), the controls
  // that start device work wait, and "Прервать" stops it at the next page:
  // the operator reads "Прервано оператором", the loader lists what it held
  // and nothing half written, and answers at its base speed afterwards.
  void aWriteStoppedByTheOperatorListsNothingHalfWritten() {
    const std::vector<Block> blocks = {{0, 1152, 3000, "kept"}};
    StartLoader(3, blocks, {"--pace"});
    Settings().LdSpeed = 4;
    const std::string before = MemoryWith(3, blocks);
    TRecProject project;
    const std::string image = Pattern(60000, 7);
    TLoadForm form(reinterpret_cast<const uint8_t*>(image.data()), image.size(), project, *session_);
    form.SetBlockName("big");
    ShowAndRead(form);
    QCOMPARE(Table(form)->RowCount(), 2);
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(5);

    StartASlowWrite(form);
    for (const char* other : {"Button2", "Button3", "Button4", "Button5", "Button6", "Button7",
                              "Button8", "Button10"})
      QVERIFY2(!Button(form, other)->isEnabled(), other);
    QVERIFY(ticks > 0);
    const QPoint at = form.pos() + QPoint(20, 10);
    form.move(at);
    QTRY_COMPARE(form.pos(), at);
    QVERIFY(form.Busy());

    auto* stop = Button(form, "InterruptButton");
    QVERIFY(stop->isVisible());
    stop->click();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Busy(), 30000);
    QCOMPARE(Texts(), QStringList{QStringLiteral("Внимание! | Прервано оператором")});
    QVERIFY(!stop->isVisible());
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("Прервано"));
    QCOMPARE(Table(form)->RowCount(), 2);
    QVERIFY(Button(form, "Button5")->isEnabled());

    messages_->Clear();
    ClickAndWait(form, "Button2");
    QCOMPARE(form.findChild<QLabel*>(QStringLiteral("Label3"))->text(), QStringLiteral("OK"));
    QCOMPARE(Texts(), QStringList());
    QCOMPARE(Table(form)->RowCount(), 2);
    const std::string memory = StopAndReadMemory();
    QVERIFY(memory.substr(0, 1024) == before.substr(0, 1024));
  }

#ifdef LENTAR_SCREENSHOT_SLOTS
  // The window during a write and after "Прервать".
  void screenshotsOfAWriteAndACancel() {
    const QString shots = qEnvironmentVariable("LENTAR_SHOTS_DIR");
    if (shots.isEmpty()) QSKIP("LENTAR_SHOTS_DIR not set");
    StartLoader(3, {{0, 1152, 2300, Utf8ToCp1251(u8"Акция недели")}, {1, 4096, 812, Utf8ToCp1251(u8"Погода")}},
                {"--pace"});
    Settings().LdSpeed = 4;
    TRecProject project;
    const std::string image = Pattern(60000, 7);
    TLoadForm form(reinterpret_cast<const uint8_t*>(image.data()), image.size(), project, *session_);
    form.SetBlockName(Utf8ToCp1251(u8"Новости"));
    ShowAndRead(form);
    StartASlowWrite(form);
    QTest::qWait(1500);
    QVERIFY(form.grab().save(shots + QStringLiteral("/loadform-writing.png")));
    Button(form, "InterruptButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Busy(), 30000);
    QTest::qWait(200);
    QVERIFY(form.grab().save(shots + QStringLiteral("/loadform-cancelled.png")));
  }

  void screenshotWhenAsked() {
    const QString shots = qEnvironmentVariable("LENTAR_SHOTS_DIR");
    if (shots.isEmpty()) QSKIP("LENTAR_SHOTS_DIR not set");
    StartLoader(3, {{0, 1152, 2300, Utf8ToCp1251(u8"Акция недели")},
                    {1, 4096, 812, Utf8ToCp1251(u8"Погода")},
                    {4, 8192, 17040, Utf8ToCp1251(u8"Меню ресторана")}});
    TRecProject project;
    const std::string image(4217, 'x');
    TLoadForm form(reinterpret_cast<const uint8_t*>(image.data()), image.size(), project, *session_);
    form.SetBlockName(Utf8ToCp1251(u8"Новости"));
    ShowAndRead(form);
    QTest::qWait(200);
    QVERIFY(form.grab().save(shots + QStringLiteral("/loadform.png")));
  }
#endif

  void mainWindowCommandsOpenTheLoaderWindow() {
    StartLoader(1, {});
    QTemporaryDir folder;
    SetProgramFolder(FromNativePath(folder.path().toStdString()) + "/");
    EnsureFolder(FontsFolder());
    TRecProject project;
    TMainLentarForm main(project, std::string());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    messages_->Clear();  // no font archive in the new folder
    // The main window read its (missing) settings file when it was shown.
    Settings().I2CPortDevice = sim_.Link();
    main.LoaderLink().LoaderSwitchPause = 5;
    Memo(main)->setPlainText(QStringLiteral("Привет"));
    project.LoaderBlockName = "hello";
    for (const char* command : {"button", "menu"}) {
      OnDialog(QStringLiteral("LoadForm"), [](QWidget* window) {
        auto* size = window->findChild<QLabel*>(QStringLiteral("Label1"));
        QTRY_VERIFY_WITH_TIMEOUT(!size->text().isEmpty(), 10000);
        QCOMPARE(window->findChild<QLabel*>(QStringLiteral("Label1"))->text(),
                 QStringLiteral("Размер данных: 6"));
        QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("Edit1"))->text(),
                 QStringLiteral("hello"));
        auto* form = qobject_cast<TLoadForm*>(window);
        QTRY_VERIFY_WITH_TIMEOUT(!form->Busy(), 30000);
        Click(window, "Button5");
        QTRY_VERIFY_WITH_TIMEOUT(!form->Busy(), 30000);
        Click(window, "Button1");
      });
      if (QString(command) == QStringLiteral("button")) {
        Button(main, "Button11")->click();
      } else {
        main.findChild<QAction*>(QStringLiteral("UploadLoaderItem"))->trigger();
      }
      QVERIFY(!main.LoaderLink().Port().IsOpen());
    }
    QCOMPARE(Texts(), QStringList{});
    const LoaderDirectory d = DirectoryIn(StopAndReadMemory());
    QCOMPARE(BlockEntries(d).size(), size_t{2});
    QCOMPARE(ReadEntry(d, 0).name, std::string("hello"));
  }
};

QTEST_MAIN(LoadFormTest)
#include "test_loadform.moc"
