// The free-text window "Текст": the main window's "Произвольный текст" with
// FreeText, the minimum size, its placement, "Тест. строка", typing and
// pasting through the shared correction rules, GPRS, "В табло" against
// lentar-boardsim and its own preview.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QKeyEvent>
#include <QTimer>
#include <QLabel>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "comm/boardprotocol.h"
#include "comm/comport.h"
#include "core/atomicfile.h"
#include "core/keycorr.h"
#include "core/textutil.h"
#include "gui/editor/settextedit.h"
#include "gui/editor/textform.h"
#include "gui/layouts/keyboardinput.h"
#include "markup/gprs.h"
#include "markup/tags.h"
#include "support/gui_test_support.h"
#include "support/sim_process.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

TTabFont TinyFont() {
  TTabFont font;
  font.FontName = "Tiny";
  font.HeightBytes = 1;
  font.CharSpacing = 1;
  font.GlyphOffsets.assign(256, 0);
  font.GlyphData = {1, 0x7E};
  return font;
}

SetTextEdit* TextMemo(QWidget* form) { return form->findChild<SetTextEdit*>("Memo1"); }

std::string FileBytes(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace

class TextFormTest : public QObject, private MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    messages_ = std::make_unique<MessageCapture>();
  }
  void cleanup() { TearDown(); }

  void okStoresTheTextAndCancelLeavesIt() {
    ShowMainForm();
    Settings().FreeText = "Before\r\nline";
    OnDialog(QStringLiteral("TextForm"), [](QWidget* form) {
      QCOMPARE(form->windowTitle(), QStringLiteral("Текст"));
      QCOMPARE(TextMemo(form)->toPlainText(), QStringLiteral("Before\nline"));
      TextMemo(form)->setPlainText(Q(u8"Другой текст"));
      Click(form, "cancelButton");
    });
    form_->findChild<QAction*>(QStringLiteral("FreeTextItem"))->trigger();
    QCOMPARE(Settings().FreeText, std::string("Before\r\nline"));

    OnDialog(QStringLiteral("TextForm"), [](QWidget* form) {
      TextMemo(form)->setPlainText(Q(u8"Скидки\nвсем"));
      Click(form, "okButton");
    });
    form_->findChild<QAction*>(QStringLiteral("FreeTextItem"))->trigger();
    QCOMPARE(Settings().FreeText, Utf8ToCp1251(u8"Скидки\r\nвсем"));

    // Written to lentar.ini when the program ends.
    form_->close();
    TSettings stored;
    ReadSettings(stored, SettingsFilePath());
    QCOMPARE(stored.FreeText, Utf8ToCp1251(u8"Скидки\r\nвсем"));
  }

  void keepsItsMinimumSizeAndPlacement() {
    Settings().TextCoor = IntRect{30, 40, 630, 440};
    TTextForm form(*project_, nullptr);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.geometry(), QRect(30, 40, 600, 400));
    form.resize(300, 50);
    QCOMPARE(form.width(), TTextForm::kMinimumWidth);
    QCOMPARE(form.height(), TTextForm::kMinimumHeight);
    form.setGeometry(50, 60, 500, 300);
    form.hide();
    QCOMPARE(Settings().TextCoor, (IntRect{50, 60, 550, 360}));

    // The button panel: four rows, the recoding paste twice as wide.
    TTextForm again(*project_, nullptr);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.findChild<QWidget*>("Panel1")->height(), TTextForm::kButtonPanelHeight);
    const char* captions[][2] = {{"Button1", "Регистр"},     {"Button2", "Изображение"},
                                 {"Button11", "В загрузчик"}, {"Button12", "В табло"},
                                 {"Button3", "Пробелы"},
                                 {"Button4", "Параметр"},    {"Button5", "Эффект"},
                                 {"Button6", "Символы"},     {"Button7", "Шрифт"},
                                 {"Button8", "Цвет"},        {"Button9", "GPRS"},
                                 {"Button10", "Просмотр"},   {"Button14", "Тест. строка"},
                                 {"Button13", "Вставить с перекодировкой"},
                                 {"okButton", "OK"},         {"cancelButton", "Отмена"}};
    for (const auto& [name, caption] : captions) {
      QPushButton* b = Button(again, name);
      QVERIFY2(b, name);
      QCOMPARE(b->text(), QString::fromUtf8(caption));
      QVERIFY2(b->isEnabled(), name);
    }
    QVERIFY(Button(again, "Button13")->width() > Button(again, "Button14")->width() * 3 / 2);
    QVERIFY(Button(again, "Button14")->y() > Button(again, "Button6")->y());
    // Row three: "В загрузчик", "В табло", "Тест. строка", the recoding paste.
    QCOMPARE(Button(again, "Button12")->y(), Button(again, "Button11")->y());
    QVERIFY(Button(again, "Button11")->x() < Button(again, "Button12")->x());
    QVERIFY(Button(again, "Button12")->x() < Button(again, "Button14")->x());
    QVERIFY(Button(again, "Button14")->x() < Button(again, "Button13")->x());
    QVERIFY(Button(again, "okButton")->y() > Button(again, "Button14")->y());
    again.hide();
  }

  void testLineHoldsEveryCodeOnce() {
    TTextForm form(*project_, nullptr);
    form.show();
    Button(form, "Button14")->click();
    const std::string text = TextMemo(&form)->BoardText();
    std::string every;
    for (int code = 1; code <= 255; ++code) every += static_cast<char>(code);
    QCOMPARE(DecodeEntities(text), every);
    QVERIFY(text.starts_with("&#1;&#2;&#3;"));
    QVERIFY(text.find("&#31; !\"#") != std::string::npos);  // 31 entities, then the bytes from 32
    QVERIFY(text.ends_with("\xFD\xFE\xFF"));
    QCOMPARE(TextMemo(&form)->textCursor().position(), static_cast<int>(text.size()));

    // A selection is replaced, the caret goes after the line.
    TextMemo(&form)->setPlainText(QStringLiteral("abcd"));
    QTextCursor c = TextMemo(&form)->textCursor();
    c.setPosition(1);
    c.setPosition(3, QTextCursor::KeepAnchor);
    TextMemo(&form)->setTextCursor(c);
    Button(form, "Button14")->click();
    QCOMPARE(TextMemo(&form)->BoardText(), "a" + TTextForm::TestLine() + "d");
    QCOMPARE(TextMemo(&form)->textCursor().position(), 1 + static_cast<int>(text.size()));
  }

  void typesAndPastesThroughTheSharedRules() {
    TReplaceDefines rules;
    TReplaceCharList* kazakh = rules.AddList();
    kazakh->LangID = 1087;
    *kazakh->AddRule() = TReplaceChar{50, 0, 0xBA, 0x04D9};
    KeyboardPlatformScope platform(KeyboardPlatform(KeyboardPlatform::Native::Xkb, [] {
      return uint16_t{1087};
    }));
    TTextForm form(*project_, &rules);
    form.show();
    SetTextEdit* memo = TextMemo(&form);
    memo->setFocus();
    // The key "2" of the top row (X11 key code 11) typing ә.
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, 11, 0, 0, Q(u8"ә"));
    QApplication::sendEvent(memo, &press);
    QGuiApplication::clipboard()->setText(Q(u8"әa"));
    Button(form, "Button13")->click();
    QCOMPARE(form.Text(), std::string("\xBA\xBA" "a"));
  }

  void gprsWritesThePackageOfTheFreeText() {
    FileDialogCapture files;
    const std::string package = folder_ + "free.txt";
    Settings().LastGprsFile = folder_ + "last.txt";
    Settings().GprsFileVersion = 41;
    Settings().OutDataSize = 64000;
    TTextForm form(*project_, nullptr);
    form.SetText("Hello");
    form.show();
    files.QueueAnswer(package);
    Button(form, "Button9")->click();
    QCOMPARE(files.Requests().size(), size_t{1});
    QCOMPARE(files.Requests()[0].title, QStringLiteral("Сохранить данные для GPRS загрузки"));
    QCOMPARE(files.Requests()[0].proposedName, std::string("last.txt"));
    QCOMPARE(files.Requests()[0].folder, folder_);
    QCOMPARE(Settings().LastGprsFile, package);
    QCOMPARE(Settings().GprsFileVersion, 42u);
    const CompileResult image = CompileBoardData("Hello", project_->FontHeight,
                                                 project_->ColorChannelCount, 64000);
    const std::vector<uint8_t> expected =
        EncodeGprsPackage(kGprsBoardDataType, image.image.data(), image.length(), 42);
    QCOMPARE(FileBytes(package), std::string(expected.begin(), expected.end()));

    // An empty text asks for no file.
    form.SetText("");
    Button(form, "Button9")->click();
    QCOMPARE(files.Requests().size(), size_t{1});
    QVERIFY(messages_->Messages().empty());
  }

  void toLoaderOpensTheLoaderWindowAndLeavesItsPort() {
    Settings().OutDataSize = 64000;
    Settings().I2CPortDevice = folder_ + "no-such-port";
    TTextForm form(*project_, nullptr);
    form.SetText("Hello");
    form.show();
    bool shown = false;
    OnDialog(QStringLiteral("LoadForm"), [&](QWidget* window) {
      shown = true;
      static_cast<QDialog*>(window)->reject();
    });
    Button(form, "Button11")->click();
    QVERIFY(shown);
    QVERIFY(!form.LoaderLink().Port().IsOpen());  // as the loader window left it
    QVERIFY(form.isVisible());
    // The port that would not open was reported by the loader window.
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].text,
             QStringLiteral("Ошибка коммуникационного порта!\n") +
                 QString::fromStdString(folder_) + QStringLiteral("no-such-port: устройство не найдено"));
  }

  void toBoardSendsTheTextThroughTheBoardWindow() {
    comm::testing::SimProcess sim;
    const std::filesystem::path simDir = comm::testing::TestFolder("lentar_textboard", "toBoard");
    QVERIFY(sim.Start(simDir, {"--save-dir", simDir.string()}));
    Settings().OutDataSize = 64000;
    Settings().TabPortDevice = sim.Link();
    TTextForm form(*project_, nullptr);
    form.SetText(Utf8ToCp1251(u8"Скидки"));
    form.show();
    bool portOpen = false;
    QString size;
    OnDialog(QStringLiteral("TabloForm"), [&](QWidget* window) {
      QVERIFY(WaitForDeviceWork(window));  // the board is read as the window opens
      portOpen = form.BoardLink().Port().IsOpen();
      size = window->findChild<QLabel*>(QStringLiteral("Label5"))->text();
      Click(window, "Button5");  // "Загрузка"
      QVERIFY(WaitForDeviceWork(window));
      Click(window, "Button6");
    });
    Button(form, "Button12")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QVERIFY(portOpen);
    QVERIFY(!form.BoardLink().Port().IsOpen());  // closed again, as the main window does
    QVERIFY(form.isVisible());
    QCOMPARE(size, QStringLiteral("Размер данных: 6 байт."));
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].text, QStringLiteral("Загрузка успешно завершена!"));
    std::ifstream in(simDir / "upload-1.bin", std::ios::binary);
    const std::string got{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    QCOMPARE(got, Utf8ToCp1251(u8"Скидки"));

    // A port that does not open stops the command before the board window.
    messages_->Clear();
    Settings().TabPortDevice = folder_ + "no-such-port";
    bool windowShown = false;
    OnDialog(QStringLiteral("TabloForm"), [&](QWidget* window) {
      windowShown = true;
      Click(window, "Button6");
    }, 50);
    Button(form, "Button12")->click();
    QVERIFY(WaitForDeviceWork(&form));
    QTest::qWait(50);
    QVERIFY(!windowShown);
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].text,
             QStringLiteral("Ошибка коммуникационного порта!\n") +
                 QString::fromStdString(folder_) + QStringLiteral("no-such-port: устройство не найдено"));
    form.hide();
    QVERIFY(sim.Stop());
    std::filesystem::remove_all(simDir);
  }

  void previewRunsInTheWindowsOwnEmulationWindow() {
    auto* bank = &project_->Fonts();
    QVERIFY(bank);
    bank->Add(TinyFont());
    bank->SetHeight(1);
    TTextForm form(*project_, nullptr);
    form.SetText(Utf8ToCp1251(u8"Бегущая строка {[Spd:5]}"));
    form.show();
    bool disabledWhileRunning = false;
    bool found = false;
    std::function<void(int)> closeEmulation = [&](int turns) {
      QTimer::singleShot(10, [&, turns] {
        QWidget* window = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
          if (w->objectName() == QStringLiteral("RForm") && w->isVisible()) window = w;
        }
        if (window) {
          found = true;
          disabledWhileRunning = !form.isEnabled();
          window->close();
        } else if (turns > 0) {
          closeEmulation(turns - 1);
        }
      });
    };
    closeEmulation(1000);
    Button(form, "Button10")->click();
    QTRY_VERIFY(found);
    QVERIFY(disabledWhileRunning);
    QVERIFY(form.isEnabled());
    QVERIFY(messages_->Messages().empty());

    // A window left open goes when the free-text window closes.
    QTimer::singleShot(50, [] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QStringLiteral("RForm") && w->isVisible()) {
          w->findChild<QPushButton*>(QStringLiteral("StopButton"))->click();
        }
      }
    });
    Button(form, "Button10")->click();
    QTRY_VERIFY(form.isEnabled());  // stopped
    form.hide();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* w : QApplication::topLevelWidgets()) {
      QVERIFY(w->objectName() != QStringLiteral("RForm"));
    }
  }
};

QTEST_MAIN(TextFormTest)
#include "test_textform.moc"
