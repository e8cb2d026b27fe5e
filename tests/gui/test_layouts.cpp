// Keyboard layout correction in the windows: typing through the rules (with
// the platform's key, language and Caps Lock injected), pasting with
// recoding, and the four layout dialogs.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QSpinBox>
#include <QtTest>
#include <fstream>

#include "core/atomicfile.h"
#include "core/keycorr.h"
#include "core/textutil.h"
#include "gui/common/tablegrid.h"
#include "gui/editor/settextedit.h"
#include "gui/layouts/keyboardinput.h"
#include "gui/layouts/keyform.h"
#include "gui/layouts/langform.h"
#include "gui/layouts/layoutform.h"
#include "gui/layouts/readkeyform.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

using Native = KeyboardPlatform::Native;

// XKB modifier bits as X11 reports them in a key event's state.
constexpr quint32 kXShift = 1u << 0;
constexpr quint32 kXLock = 1u << 1;

// Installed input languages of a test computer: English and Ukrainian only.
class TwoLanguages : public KeyboardLayoutSource {
 public:
  std::vector<KeyboardLayout> InstalledLayouts() const override {
    return {{"", 0x0409}, {"", 0x0422}};
  }
  std::string SystemLanguageName(uint16_t id) const override { return BuiltInLanguageName(id); }
};

KeyboardPlatform Platform(Native native, uint16_t language) {
  return KeyboardPlatform(native, [language] { return language; },
                          std::make_shared<TwoLanguages>());
}

// One key press as the platform reports it. scanCode is the X11 key code.
void Press(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers, quint32 scanCode,
           quint32 nativeModifiers, const QString& text) {
  QKeyEvent press(QEvent::KeyPress, key, modifiers, scanCode, 0, nativeModifiers, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, scanCode, 0, nativeModifiers, text);
  QApplication::sendEvent(target, &release);
}

TReplaceChar Rule(int32_t key, int32_t byte, int32_t shift, uint16_t unicode) {
  return TReplaceChar{key, shift, byte, unicode};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(NativePath(path), std::ios::binary) << bytes;
}

std::string FileBytes(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace

class LayoutsTest : public QObject, public MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    EnsureFolder(LangsFolder());
    messages_ = std::make_unique<MessageCapture>();
  }
  void cleanup() { TearDown(); }

  void typingAppliesTheRuleOfTheUpperCaseState() {
    // Rule: key A types byte 200 when the upper-case state is off. Caps Lock
    // with Shift held is off (Shift XOR Caps Lock); Caps Lock alone is on.
    TReplaceDefines rules;
    TReplaceCharList* russian = rules.AddList();
    russian->LangID = 1049;
    *russian->AddRule() = Rule(65, 200, kShiftReleased, 0);
    struct Case {
      const char* name;
      Native native;
      Qt::KeyboardModifiers modifiers;
      quint32 nativeModifiers;
      QString typed;
      std::string expected;
    };
    const Case cases[] = {
        {"xkb caps+shift", Native::Xkb, Qt::ShiftModifier, kXLock | kXShift, Q(u8"ф"), "\xC8"},
        {"xkb caps", Native::Xkb, Qt::NoModifier, kXLock, Q(u8"Ф"), "\xD4"},
        {"xkb plain", Native::Xkb, Qt::NoModifier, 0, Q(u8"ф"), "\xC8"},
        {"xkb shift", Native::Xkb, Qt::ShiftModifier, kXShift, Q(u8"Ф"), "\xD4"},
        // No Caps Lock from the platform: the letter's case tells it.
        {"case caps+shift", Native::None, Qt::ShiftModifier, 0, QStringLiteral("a"), "\xC8"},
        {"case caps", Native::None, Qt::NoModifier, 0, QStringLiteral("A"), "A"},
        {"case plain", Native::None, Qt::NoModifier, 0, QStringLiteral("a"), "\xC8"},
    };
    for (const Case& c : cases) {
      KeyboardPlatformScope platform(Platform(c.native, 1049));
      SetTextEdit editor;
      editor.SetCorrections(&rules);
      // X11 key code 38 is the key right of Caps Lock: "A" on Windows.
      Press(&editor, Qt::Key_A, c.modifiers, 38, c.nativeModifiers, c.typed);
      QVERIFY2(editor.BoardText() == c.expected, c.name);
      QCOMPARE(editor.PendingChar(), 0);
    }

    // Another input language, or no rules at all: the key types as it is.
    KeyboardPlatformScope english(Platform(Native::Xkb, 1033));
    SetTextEdit editor;
    editor.SetCorrections(&rules);
    Press(&editor, Qt::Key_A, Qt::NoModifier, 38, 0, QStringLiteral("a"));
    editor.SetCorrections(nullptr);
    Press(&editor, Qt::Key_A, Qt::NoModifier, 38, 0, QStringLiteral("b"));
    QCOMPARE(editor.BoardText(), std::string("ab"));
  }

  void shortcutsAndControlKeysAreNotCorrected() {
    TReplaceDefines rules;
    TReplaceCharList* list = rules.AddList();
    list->LangID = 1049;
    *list->AddRule() = Rule(65, 200, kShiftAny, 0);
    *list->AddRule() = Rule(13, 201, kShiftAny, 0);
    KeyboardPlatformScope platform(Platform(Native::Xkb, 1049));
    SetTextEdit editor;
    editor.SetCorrections(&rules);
    editor.setPlainText(QStringLiteral("xy"));
    Press(&editor, Qt::Key_A, Qt::ControlModifier, 38, 1u << 2, QStringLiteral("\x01"));
    QVERIFY(editor.textCursor().hasSelection());  // Ctrl+A still selects all
    QCOMPARE(editor.PendingChar(), 0);
    Press(&editor, Qt::Key_Return, Qt::NoModifier, 36, 0, QStringLiteral("\r"));
    QCOMPARE(editor.BoardText(), std::string("\n"));
  }

  void windowsMadeFileWorksWithThePhysicalKeys() {
    // A Kazakh file made on Windows: the digit keys 2 and 3 carry ә/Ә and і/І
    // under the Kazakh layout; on Windows they are the keys "2" and "3"
    // whatever the layout types there.
    WriteFile(LangsFolder() + "kaz.lng",
              "[Settings]\r\nLangID=1087\r\nKeyCount=3\r\n\r\n[Keys]\r\n"
              "KeyParams1=50,186,0,1241\r\nKeyParams2=50,170,1,1240\r\n"
              "KeyParams3=51,179,2,1110\r\n\r\n");
    WriteFile(LangsFolder() + "broken.lng", "[Settings]\r\nKeyCount=1\r\n");
    KeyboardPlatformScope platform(Platform(Native::Xkb, 1087));
    ShowMainForm();
    QCOMPARE(form_->Corrections().Count(), 1);
    QPlainTextEdit* memo = Memo(*form_);
    memo->setFocus();
    // X11 key codes 11 and 12: the keys 2 and 3 of the top row.
    Press(memo, Qt::Key_unknown, Qt::NoModifier, 11, 0, Q(u8"ә"));
    Press(memo, Qt::Key_unknown, Qt::ShiftModifier, 11, kXShift, Q(u8"Ә"));
    Press(memo, Qt::Key_unknown, Qt::ShiftModifier, 12, kXShift, Q(u8"І"));
    // A character of the layout without a rule is still refused.
    Press(memo, Qt::Key_unknown, Qt::NoModifier, 13, 0, Q(u8"ғ"));
    QCOMPARE(form_->SetText(), std::string("\xBA\xAA\xB3"));

    // Pasting with recoding takes the same file's Unicode column.
    QGuiApplication::clipboard()->setText(Q(u8"ӘәЖ\r\nі😀"));
    SetCaret(*form_, 1);
    Button(*form_, "Button13")->click();
    QCOMPARE(form_->SetText(), std::string("\xBA\xAA\xBA\xC6\r\n\xB3?\xAA\xB3"));
    QCOMPARE(Caret(*form_), 1 + 6);

    // Nothing on the clipboard: nothing happens.
    QGuiApplication::clipboard()->clear();
    Button(*form_, "Button13")->click();
    QCOMPARE(form_->SetText(), std::string("\xBA\xAA\xBA\xC6\r\n\xB3?\xAA\xB3"));
    QVERIFY(messages_->Messages().empty());
  }

  void readKeyWaitsForAPlainKey() {
    KeyboardPlatformScope platform(Platform(Native::None, 1049));
    struct Case {
      Qt::Key key;
      int expected;
    };
    const Case cases[] = {{Qt::Key_A, 65}, {Qt::Key_Escape, 0}, {Qt::Key_F2, 113}};
    for (const Case& c : cases) {
      bool stayedOpen = false;
      OnDialog(QStringLiteral("ReadKeyForm"), [&](QWidget* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Ожидание..."));
        QTest::keyClick(dialog, Qt::Key_A, Qt::ShiftModifier);
        QTest::keyClick(dialog, Qt::Key_B, Qt::ControlModifier);
        QTest::keyClick(dialog, Qt::Key_Shift, Qt::ShiftModifier);
        stayedOpen = dialog->isVisible();
        QTest::keyClick(dialog, c.key);
      });
      QCOMPARE(ReadKey(nullptr), c.expected);
      QVERIFY(stayedOpen);
    }
    // Closing the window is no key.
    OnDialog(QStringLiteral("ReadKeyForm"), [](QWidget* dialog) { dialog->close(); });
    QCOMPARE(ReadKey(nullptr), 0);
  }

  void keyFormEditsACopy() {
    KeyboardPlatformScope platform(Platform(Native::None, 1049));
    // Values outside the fields' ranges show clamped; a shift state nobody
    // edits shows as "Не имеет значения".
    TReplaceChar rule = Rule(0, 300, 7, 1040);
    OnDialog(QStringLiteral("KeyForm"), [](QWidget* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Коррекция клавиши"));
      QCOMPARE(Child<QSpinBox>(dialog, "SpinEdit1")->value(), 1);
      QCOMPARE(Child<QComboBox>(dialog, "ComboBox1")->currentText(),
               QStringLiteral("Не имеет значения"));
      QCOMPARE(Child<QSpinBox>(dialog, "SpinEdit2")->value(), 255);
      Child<QSpinBox>(dialog, "SpinEdit1")->setValue(90);
      Click(dialog, "cancelButton");
    });
    QVERIFY(!EditRule(nullptr, rule));
    QCOMPARE(rule, Rule(0, 300, 7, 1040));

    OnDialog(QStringLiteral("KeyForm"), [](QWidget* dialog) {
      auto* table = Child<TTableGrid>(dialog, "StringGrid1");
      QCOMPARE(table->columnCount(), 17);
      QCOMPARE(table->RowCount(), 17);
      QCOMPARE(table->horizontalHeaderItem(16)->text(), QStringLiteral("0F"));
      QCOMPARE(table->Cell(0, 13), QStringLiteral("C0"));
      QCOMPARE(table->Cell(16, 13), Q(u8"П"));
      // Row "C0", column "0F": code 207.
      const QRect cell = table->visualItemRect(table->item(12, 16));
      QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
      QCOMPARE(Child<QSpinBox>(dialog, "SpinEdit2")->value(), 207);
      // The row titles are no characters.
      QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                        table->visualItemRect(table->item(3, 0)).center());
      QCOMPARE(Child<QSpinBox>(dialog, "SpinEdit2")->value(), 207);
      // A typed code selects its cell.
      Child<QSpinBox>(dialog, "SpinEdit2")->setValue(0x41);
      QCOMPARE(table->currentRow(), 4);
      QCOMPARE(table->currentColumn(), 2);

      // The clipboard's first character gives the Unicode value.
      QGuiApplication::clipboard()->clear();
      Click(dialog, "Button2");
      QGuiApplication::clipboard()->setText(Q(u8"Әә"));
      Click(dialog, "Button2");
      QCOMPARE(Child<QSpinBox>(dialog, "SpinEdit3")->value(), 0x04D8);

      Child<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(1);
      // The key from the keyboard: Escape keeps the field, a key sets it.
      OnDialog(QStringLiteral("ReadKeyForm"),
               [](QWidget* read) { QTest::keyClick(read, Qt::Key_Escape); });
      Click(dialog, "Button1");
      QCOMPARE(Child<QSpinBox>(dialog, "SpinEdit1")->value(), 1);
      OnDialog(QStringLiteral("ReadKeyForm"),
               [](QWidget* read) { QTest::keyClick(read, Qt::Key_Q); });
      Click(dialog, "Button1");
      QCOMPARE(Child<QSpinBox>(dialog, "SpinEdit1")->value(), 81);
      Click(dialog, "okButton");
    });
    QVERIFY(EditRule(nullptr, rule));
    QCOMPARE(rule, Rule(81, 0x41, kShiftPressed, 0x04D8));
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].caption, QStringLiteral("Ошибка"));
    QCOMPARE(messages_->Messages()[0].text, QStringLiteral("Буфер обмена пуст!"));
  }

  void layoutFormKeepsALanguageThisComputerLacks() {
    KeyboardPlatformScope platform(Platform(Native::None, 1049));
    TReplaceCharList list;
    list.LangID = 1049;
    list.FileName = "ru.lng";
    *list.AddRule() = Rule(65, 192, kShiftReleased, 1040);
    *list.AddRule() = Rule(66, 193, kShiftPressed, 0);
    *list.AddRule() = Rule(67, 194, 5, 0);
    OnDialog(QStringLiteral("LayoutForm"), [](QWidget* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Коррекция раскладки"));
      auto* languages = Child<QComboBox>(dialog, "ComboBox1");
      QCOMPARE(languages->count(), 3);
      QCOMPARE(languages->itemText(1), Q(u8"Украинский"));
      QCOMPARE(languages->currentText(), QStringLiteral("00000419"));
      auto* grid = Child<TShowGrid>(dialog, "StringGrid1");
      QCOMPARE(grid->RowCount(), 4);
      const QStringList rows[3] = {{"65", " ", "192", Q(u8"А"), "1040"},
                                   {"66", Q(u8"Да"), "193", Q(u8"Б"), "0"},
                                   {"67", "x", "194", Q(u8"В"), "0"}};
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 5; ++c) QCOMPARE(grid->Cell(c, r + 1), rows[r][c]);
      }
      QVERIFY(grid->ColumnFont(TShowGrid::kCharacterColumn) == grid->CellFont());
      QVERIFY(grid->ColumnFont(0) == grid->HeaderFont());
      Click(dialog, "okButton");
    });
    QVERIFY(EditLayout(nullptr, list));
    QCOMPARE(list.LangID, 1049);
    QCOMPARE(list.Count(), 3);
    QCOMPARE(list.FileName, std::string("ru.lng"));
  }

  void layoutFormAddsEditsAndDeletesRules() {
    KeyboardPlatformScope platform(Platform(Native::None, 1049));
    TReplaceCharList list;  // a new layout: the first language is chosen
    OnDialog(QStringLiteral("LayoutForm"), [](QWidget* dialog) {
      QCOMPARE(Child<QComboBox>(dialog, "ComboBox1")->currentIndex(), 0);
      Child<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(1);
      auto* grid = Child<TShowGrid>(dialog, "StringGrid1");
      // With no rules "Изменить" and "Удалить" do nothing.
      Click(dialog, "Button2");
      Click(dialog, "Button3");
      for (int key : {70, 71, 72}) {
        OnDialog(QStringLiteral("KeyForm"), [key](QWidget* keyForm) {
          // A new rule: all fields 0, shown as key 1 and "Отжата".
          QCOMPARE(Child<QSpinBox>(keyForm, "SpinEdit1")->value(), 1);
          QCOMPARE(Child<QComboBox>(keyForm, "ComboBox1")->currentIndex(), 0);
          Child<QSpinBox>(keyForm, "SpinEdit1")->setValue(key);
          Child<QSpinBox>(keyForm, "SpinEdit2")->setValue(key + 100);
          Click(keyForm, "okButton");
        });
        Click(dialog, "Button1");
        QCOMPARE(grid->CurrentRow(), grid->RowCount() - 1);  // the new rule is selected
      }
      OnDialog(QStringLiteral("KeyForm"), [](QWidget* keyForm) { Click(keyForm, "cancelButton"); });
      Click(dialog, "Button1");
      QCOMPARE(grid->RowCount(), 4);

      grid->SelectRow(2);
      OnDialog(QStringLiteral("KeyForm"), [](QWidget* keyForm) {
        QCOMPARE(Child<QSpinBox>(keyForm, "SpinEdit1")->value(), 71);
        Child<QComboBox>(keyForm, "ComboBox1")->setCurrentIndex(2);
        Click(keyForm, "okButton");
      });
      Click(dialog, "Button2");
      QCOMPARE(grid->Cell(1, 2), QStringLiteral("x"));
      QCOMPARE(grid->CurrentRow(), 2);

      grid->SelectRow(3);
      Click(dialog, "Button3");  // no question
      QCOMPARE(grid->RowCount(), 3);
      QCOMPARE(grid->CurrentRow(), 2);  // the selection stays within the rows
      Click(dialog, "okButton");
    });
    QVERIFY(EditLayout(nullptr, list));
    QCOMPARE(list.LangID, 0x0422);
    QCOMPARE(list.Count(), 2);
    QCOMPARE(*list.ItemAt(0), Rule(70, 170, kShiftReleased, 0));
    QCOMPARE(*list.ItemAt(1), Rule(71, 171, kShiftAny, 0));

    // "Отмена" changes nothing.
    OnDialog(QStringLiteral("LayoutForm"), [](QWidget* dialog) {
      Child<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(0);
      Child<TShowGrid>(dialog, "StringGrid1")->SelectRow(1);
      Click(dialog, "Button3");
      Click(dialog, "cancelButton");
    });
    QVERIFY(!EditLayout(nullptr, list));
    QCOMPARE(list.LangID, 0x0422);
    QCOMPARE(list.Count(), 2);
  }

  void langFormAddsSavesAndDeletesLayoutFiles() {
    KeyboardPlatformScope platform(Platform(Native::None, 0x0422));
    FileDialogCapture files;
    TReplaceDefines defines;
    TReplaceCharList* russian = defines.AddList();
    russian->LangID = 1049;
    *russian->AddRule() = Rule(65, 192, kShiftAny, 0);
    QVERIFY(russian->SaveToFile(LangsFolder() + "ru.lng"));

    auto acceptLayout = [](QWidget* layout) {
      Child<QComboBox>(layout, "ComboBox1")->setCurrentIndex(1);  // Ukrainian
      OnDialog(QStringLiteral("KeyForm"), [](QWidget* keyForm) {
        Child<QSpinBox>(keyForm, "SpinEdit1")->setValue(83);
        Child<QSpinBox>(keyForm, "SpinEdit2")->setValue(0xB2);
        Click(keyForm, "okButton");
      });
      Click(layout, "Button1");
      Click(layout, "okButton");
    };

    OnDialog(QStringLiteral("LangForm"), [&](QWidget* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Корректируемые раскладки ввода"));
      auto* grid = Child<TTableGrid>(dialog, "StringGrid1");
      QCOMPARE(grid->Cell(0, 1), Q(u8"Русский"));
      QCOMPARE(grid->Cell(1, 1), QStringLiteral("ru.lng"));

      // An accepted layout whose save dialog is cancelled adds nothing.
      files.QueueCancel();
      OnDialog(QStringLiteral("LayoutForm"), acceptLayout);
      Click(dialog, "Button1");
      QCOMPARE(defines.Count(), 1);
      QCOMPARE(grid->RowCount(), 2);
      QCOMPARE(files.Requests().size(), size_t{1});
      QCOMPARE(files.Requests()[0].title, QStringLiteral("Сохранить файл раскладки"));
      QCOMPARE(files.Requests()[0].folder, LangsFolder());
      QCOMPARE(files.Requests()[0].proposedName, std::string());
      QCOMPARE(files.Requests()[0].defaultExtension, QStringLiteral("lng"));

      // A cancelled layout asks for no file.
      OnDialog(QStringLiteral("LayoutForm"), [](QWidget* layout) { Click(layout, "cancelButton"); });
      Click(dialog, "Button1");
      QCOMPARE(files.Requests().size(), size_t{1});

      // Saved: the new list types at once and its file is written.
      files.QueueAnswer(LangsFolder() + "ua.lng");
      OnDialog(QStringLiteral("LayoutForm"), acceptLayout);
      Click(dialog, "Button1");
      QCOMPARE(defines.Count(), 2);
      QCOMPARE(defines.FindChar(0x0422, 83, 0), 0xB2);
      QCOMPARE(FileBytes(LangsFolder() + "ua.lng"),
               std::string("[Settings]\r\nLangID=1058\r\nKeyCount=1\r\n\r\n[Keys]\r\n"
                           "KeyParams1=83,178,0,0\r\n\r\n"));
      QCOMPARE(grid->Cell(0, 2), Q(u8"Украинский"));
      QCOMPARE(grid->Cell(1, 2), QStringLiteral("ua.lng"));
      QCOMPARE(grid->CurrentRow(), 2);

      // A save that fails keeps the list and says so.
      const std::string bad = LangsFolder() + "missing/x.lng";
      files.QueueAnswer(bad);
      OnDialog(QStringLiteral("LayoutForm"), acceptLayout);
      Click(dialog, "Button1");
      QCOMPARE(defines.Count(), 3);
      QCOMPARE(messages_->Messages().size(), size_t{1});
      QCOMPARE(messages_->Messages()[0].text,
               QStringLiteral("Ошибка сохранения файла ") + FromBoardText(bad));
      messages_->Clear();

      // "Редактировать" saves to the list's own file.
      grid->SelectRow(1);
      OnDialog(QStringLiteral("LayoutForm"), [](QWidget* layout) {
        Child<TShowGrid>(layout, "StringGrid1")->SelectRow(1);
        Click(layout, "Button3");
        Click(layout, "okButton");
      });
      Click(dialog, "Button2");
      QCOMPARE(defines.ItemAt(0)->Count(), 0);
      QCOMPARE(FileBytes(LangsFolder() + "ru.lng"),
               std::string("[Settings]\r\nLangID=1049\r\nKeyCount=0\r\n\r\n[Keys]\r\n\r\n"));

      // "Удалить": asked first; Cancel keeps it, OK removes list and file.
      grid->SelectRow(2);
      messages_->QueueAnswer(QMessageBox::Cancel);
      Click(dialog, "Button3");
      QCOMPARE(defines.Count(), 3);
      messages_->QueueAnswer(QMessageBox::Ok);
      Click(dialog, "Button3");
      QCOMPARE(messages_->Messages().size(), size_t{2});
      QCOMPARE(messages_->Messages()[0].caption, QStringLiteral("Внимание!"));
      QCOMPARE(messages_->Messages()[0].text,
               QStringLiteral("Удалить корректировку раскладки ") + Q(u8"Украинский"));
      QCOMPARE(defines.Count(), 2);
      QVERIFY(!QFile::exists(QString::fromStdString(NativePath(LangsFolder() + "ua.lng").string())));
      QCOMPARE(grid->RowCount(), 3);
      Click(dialog, "Button4");
    });
    ManageLayouts(nullptr, defines);
  }

  void mainWindowOpensTheLayoutList() {
    ShowMainForm();
    bool shown = false;
    OnDialog(QStringLiteral("LangForm"), [&](QWidget* dialog) {
      shown = true;
      Click(dialog, "Button4");
    });
    QAction* item = form_->findChild<QAction*>(QStringLiteral("LayoutsItem"));
    QVERIFY(item && item->isEnabled());
    item->trigger();
    QVERIFY(shown);
  }
};

QTEST_MAIN(LayoutsTest)
#include "test_layouts.moc"
