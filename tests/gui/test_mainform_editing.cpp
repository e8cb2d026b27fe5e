// The main window's editing side: the tag buttons with their caret rules,
// "Регистр", "Пароли", the font bank, the about box and the preview. The
// modal dialogs are driven from the event loop as the operator would: a timer
// finds the dialog (QApplication::activeModalWidget) and fills it in.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/atomicfile.h"
#include "core/folders.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/editor/mainlentarform.h"
#include "gui/markup/bankform.h"
#include "markup/compiler.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

// A one-byte-high font in which every character is one lit column.
TTabFont TinyFont() {
  TTabFont font;
  font.FontName = "Tiny";
  font.HeightBytes = 1;
  font.CharSpacing = 1;
  font.GlyphOffsets.assign(256, 0);
  font.GlyphData = {1, 0x7E};
  return font;
}

}  // namespace

class MainFormEditingTest : public QObject, private MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    messages_ = std::make_unique<MessageCapture>();
    noDialogs_ = std::make_unique<FileDialogCapture>();
    ShowMainForm();
  }

  void cleanup() { TearDown(); }

  // ---- "Пробелы" -------------------------------------------------------------------

  void spacesEditTheTagAroundTheCaretAndLeaveTheCaretInsideIt() {
    TMainLentarForm& form = *form_;
    Memo(form)->setPlainText(QStringLiteral("ab{[Sp:5]}cd"));
    SetCaret(form, 6);
    QString offered, title, prompt;
    OnDialog("InputForm", [&](QWidget* d) {
      title = d->windowTitle();
      prompt = d->findChild<QLabel*>("Label1")->text();
      offered = d->findChild<QLineEdit*>("Edit1")->text();
      d->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("7"));
      Click(d, "okButton");
    });
    Button(form, "Button3")->click();
    QCOMPARE(title, Q(u8"Вставить пробелы"));
    QCOMPARE(prompt, Q(u8"Количество:"));
    QCOMPARE(offered, QStringLiteral("5"));
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("ab{[Sp:7]}cd"));
    QCOMPARE(Caret(form), 2 + 3);
    QVERIFY(!Memo(form)->textCursor().hasSelection());

    // The caret stands inside the new tag: pressing again edits it again.
    OnDialog("InputForm", [&](QWidget* d) {
      offered = d->findChild<QLineEdit*>("Edit1")->text();
      d->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("12"));
      Click(d, "okButton");
    });
    Button(form, "Button3")->click();
    QCOMPARE(offered, QStringLiteral("7"));
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("ab{[Sp:12]}cd"));
    QVERIFY(form.Modified());
  }

  void spacesInsertNewTagsAndLeaveOtherTagsAlone() {
    TMainLentarForm& form = *form_;
    QString offered;
    auto answer = [&](const QString& value) {
      OnDialog("InputForm", [&offered, value](QWidget* d) {
        offered = d->findChild<QLineEdit*>("Edit1")->text();
        d->findChild<QLineEdit*>("Edit1")->setText(value);
        Click(d, "okButton");
      });
    };
    // Inside a speed tag (its name starts like SP): a new tag at the caret.
    Memo(form)->setPlainText(QStringLiteral("{[Spd:3]}x"));
    SetCaret(form, 4);
    answer(QStringLiteral("10"));
    Button(form, "Button3")->click();
    QCOMPARE(offered, QStringLiteral("10"));
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("{[Sp{[Sp:10]}d:3]}x"));
    QCOMPARE(Caret(form), 4 + 9);

    // A selection is replaced whatever it holds; its number is not read.
    Memo(form)->setPlainText(QStringLiteral("one {[Sp:5]} two"));
    SetCaret(form, 12, 4);
    answer(QStringLiteral("3"));
    Button(form, "Button3")->click();
    QCOMPARE(offered, QStringLiteral("10"));
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("one {[Sp:3]} two"));
    QCOMPARE(Caret(form), 4 + 8);

    // A negative count and Cancel change nothing.
    answer(QStringLiteral("-4"));
    Button(form, "Button3")->click();
    OnDialog("InputForm", [](QWidget* d) { Click(d, "cancelButton"); });
    Button(form, "Button3")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("one {[Sp:3]} two"));
  }

  // The byte count in the status bar follows every change of the text as it
  // happens, whatever made it: a paste, an undo and a redo, a tag from a
  // button. Nothing waits for the next key.
  void theByteCountFollowsEveryChangeAtOnce() {
    TMainLentarForm& form = *form_;
    auto* size = form.findChild<QLabel*>(QStringLiteral("SizeLabel"));
    QVERIFY(size);
    const auto bytes = [&form] {
      return CompileBoardData(Memo(form)->toPlainText().toStdString(), 1, 1, 1 << 20).length();
    };
    const auto shown = [size] {
      QCoreApplication::processEvents();  // the change's own signals, no key
      return size->text().section(QLatin1Char(' '), 0, 0).toInt();
    };
    // The window's own commands, as the menu and its keys give them.
    const auto command = [&form](const char* name) {
      return [&form, name] { form.findChild<QAction*>(QLatin1String(name))->trigger(); };
    };
    QApplication::clipboard()->setText(QStringLiteral("paste"));
    const struct Step {
      const char* what;
      std::function<void()> change;
    } steps[] = {
        {"paste", command("PasteItem")},
        {"undo", command("UndoItem")},
        {"redo", command("RedoItem")},
        {"paste with recoding", command("RecodePasteItem")},
        {"spaces tag",
         [&form] {
           OnDialog("InputForm", [](QWidget* d) {
             d->findChild<QLineEdit*>("Edit1")->setText(QStringLiteral("4"));
             Click(d, "okButton");
           });
           Button(form, "Button3")->click();
         }},
        {"undo of the tag", [&form] { Memo(form)->undo(); }},
    };
    int last = -1;
    for (const Step& step : steps) {
      step.change();
      const int now = shown();
      QVERIFY2(now == static_cast<int>(bytes()), step.what);
      QVERIFY2(now != last, step.what);
      last = now;
    }
  }

  // ---- "Регистр" --------------------------------------------------------------------

  void caseChangesTheSelectionOrTheWholeTextInThreeModes() {
    TMainLentarForm& form = *form_;
    const QString text = Q(u8"привет, МИР. новая Строка\nёлка");
    bool preselected = false;
    QString title;
    auto choose = [&](int option) {
      OnDialog("RBForm", [&, option](QWidget* d) {
        title = d->windowTitle();
        preselected = d->findChild<QRadioButton*>("RadioButton3")->isChecked();
        d->findChild<QRadioButton*>(QStringLiteral("RadioButton%1").arg(option + 1))->click();
        Click(d, "okButton");
      });
      Button(form, "Button1")->click();
    };

    Memo(form)->setPlainText(text);
    SetCaret(form, 3);
    choose(1);
    QCOMPARE(title, Q(u8"Изменить регистр"));
    QVERIFY(preselected);
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"ПРИВЕТ, МИР. НОВАЯ СТРОКА\nЁЛКА"));
    QCOMPARE(Caret(form), text.size());

    choose(0);
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"привет, мир. новая строка\nёлка"));

    choose(2);
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"Привет, мир. Новая строка\nёлка"));

    // With a selection only the selection changes; the caret follows it.
    SetCaret(form, 11, 8);  // "мир"
    choose(1);
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"Привет, МИР. Новая строка\nёлка"));
    QCOMPARE(Caret(form), 11);

    // Cancel leaves the text.
    OnDialog("RBForm", [](QWidget* d) { Click(d, "cancelButton"); });
    Button(form, "Button1")->click();
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"Привет, МИР. Новая строка\nёлка"));
  }

  // ---- "Шрифт" and the font bank ----------------------------------------------------------

  void fontWithTheRestoreBoxInsertsTheDefaultFontTag() {
    TMainLentarForm& form = *form_;
    Memo(form)->setPlainText(QStringLiteral("ab"));
    SetCaret(form, 1);
    bool boxShown = false;
    OnDialog("BankForm", [&](QWidget* d) {
      auto* box = d->findChild<QCheckBox*>("RestoreDefaultBox");
      boxShown = box && box->isVisible();
      box->setChecked(true);
      Click(d, "okButton");
    });
    Button(form, "Button7")->click();
    QVERIFY(boxShown);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Font:255]}b"));
    QCOMPARE(Caret(form), 1 + 12);

    // Inside a font tag: the tag is replaced and the caret stays in it.
    SetCaret(form, 5);
    OnDialog("BankForm", [](QWidget* d) {
      d->findChild<QCheckBox*>("RestoreDefaultBox")->setChecked(true);
      Click(d, "okButton");
    });
    Button(form, "Button7")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Font:255]}b"));
    QCOMPARE(Caret(form), 1 + 3);

    OnDialog("BankForm", [](QWidget* d) { Click(d, "cancelButton"); });
    Button(form, "Button7")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Font:255]}b"));
  }

  void fontStartsFromTheTagAtTheCaretOrTheDefaultFont() {
    auto* bank = &project_->Fonts();
    QVERIFY(bank);
    for (int i = 0; i < 3; ++i) bank->Add(TinyFont());
    bank->SetHeight(1);
    Settings().DefFont = 2;
    TMainLentarForm& form = *form_;
    Memo(form)->setPlainText(QStringLiteral("x{[Font:1]}y"));
    int offered = -1;
    auto choose = [&](int row) {
      OnDialog("BankForm", [&offered, row](QWidget* d) {
        auto* bankForm = qobject_cast<TBankForm*>(d);
        offered = bankForm->SelectedNumber();
        auto* grid = d->findChild<QTableWidget*>();
        if (grid && row >= 0) grid->setCurrentCell(row + grid->rowCount() - bankForm->ListedCount(), 0);
        Click(d, "okButton");
      });
      Button(form, "Button7")->click();
    };
    SetCaret(form, 4);
    choose(0);
    QCOMPARE(offered, 1);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("x{[Font:0]}y"));
    QCOMPARE(Caret(form), 1 + 3);

    SetCaret(form, 12);  // after the tag: a new one, starting from DefFont
    choose(-1);
    QCOMPARE(offered, 2);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("x{[Font:0]}y{[Font:2]}"));
    QCOMPARE(Caret(form), 12 + 10);
  }

  void fontBankBrowserHasNoCancelAndNoRestoreBox() {
    for (const char* item : {"DefaultFontsItem", "ProjectFontsItem"}) {
      bool cancelShown = true;
      bool boxShown = true;
      OnDialog("BankForm", [&](QWidget* d) {
        auto* cancel = d->findChild<QPushButton*>("cancelButton");
        cancelShown = cancel && cancel->isVisible();
        auto* box = d->findChild<QCheckBox*>("RestoreDefaultBox");
        boxShown = box && box->isVisible();
        Click(d, "okButton");
      });
      form_->findChild<QAction*>(QLatin1String(item))->trigger();
      QVERIFY(!cancelShown);
      QVERIFY(!boxShown);
    }
    QVERIFY(Memo(*form_)->toPlainText().isEmpty());
  }

  // ---- "Пароли" ------------------------------------------------------------------------

  void passwordsRefuseAMismatchAndNineCharactersAndStoreEight() {
    Settings().Password[2] = "old";
    QString prompt, title;
    auto change = [&](int slot, const QString& first, const QString& second) {
      OnDialog("PswForm", [&, slot, first, second](QWidget* pad) {
        prompt = pad->findChild<QLabel*>("Label2")->text();
        OnDialog("InputForm", [&, first, second](QWidget* d) {
          title = d->windowTitle();
          d->findChild<QLineEdit*>("Edit1")->setText(first);
          d->findChild<QLineEdit*>("Edit2")->setText(second);
          Click(d, "okButton");
        });
        Click(pad, QStringLiteral("Button%1").arg(slot).toLatin1().constData());
      });
      form_->findChild<QAction*>("PasswordsItem")->trigger();
    };

    change(3, QStringLiteral("abc"), QStringLiteral("abd"));
    QCOMPARE(prompt, Q(u8"Номер изменяемого пароля?"));
    QCOMPARE(title, Q(u8"Сменить пароль №3"));
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].caption, Q(u8"Ошибка"));
    QCOMPARE(messages_->Messages()[0].text, Q(u8"Пароль и подтверждение не совпадают"));
    QCOMPARE(messages_->Messages()[0].icon, QMessageBox::Critical);
    QCOMPARE(Settings().Password[2], std::string("old"));

    messages_->Clear();
    change(3, Q(u8"абвгдеёжз"), Q(u8"абвгдеёжз"));
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].text, Q(u8"Слишком длинный пароль"));
    QCOMPARE(Settings().Password[2], std::string("old"));

    messages_->Clear();
    change(3, Q(u8"абвгдеёж"), Q(u8"абвгдеёж"));
    QVERIFY(messages_->Messages().empty());
    QCOMPARE(Settings().Password[2], Utf8ToCp1251(u8"абвгдеёж"));

    // Closing the pad changes nothing.
    OnDialog("PswForm", [](QWidget* pad) { Click(pad, "Button9"); });
    form_->findChild<QAction*>("PasswordsItem")->trigger();
    QCOMPARE(Settings().Password[2], Utf8ToCp1251(u8"абвгдеёж"));
    QVERIFY(messages_->Messages().empty());
  }

  // ---- About box and preview ---------------------------------------------------------------

  void aboutOpensTheAboutBox() {
    bool shown = false;
    OnDialog("AboutForm", [&](QWidget* d) {
      shown = true;
      static_cast<QDialog*>(d)->reject();
    });
    form_->findChild<QAction*>("AboutItem")->trigger();
    QVERIFY(shown);
  }

  void previewDisablesTheWindowUntilTheEmulationWindowCloses() {
    auto* bank = &project_->Fonts();
    QVERIFY(bank);
    bank->Add(TinyFont());
    bank->SetHeight(1);
    Memo(*form_)->setPlainText(Q(u8"Бегущая строка {[Spd:5]}"));
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
          disabledWhileRunning = !form_->isEnabled();
          window->close();
        } else if (turns > 0) {
          closeEmulation(turns - 1);
        }
      });
    };
    closeEmulation(1000);
    Button(*form_, "Button10")->click();
    QTRY_VERIFY(found);
    QVERIFY(disabledWhileRunning);
    QVERIFY(form_->isEnabled());
    QVERIFY(messages_->Messages().empty());
    // The closed window is released; the next preview makes a new one.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (QWidget* w : QApplication::topLevelWidgets()) {
      QVERIFY(w->objectName() != QStringLiteral("RForm"));
    }
  }

  // Ended from outside while the emulation window runs and the set is
  // changed: the editor closes at once without a question, lentar.ini is
  // written, and the next start offers the changed set back.
  void endedFromOutsideTheWorkIsKeptAndOfferedBack() {
    auto* bank = &project_->Fonts();
    QVERIFY(bank);
    bank->Add(TinyFont());
    bank->SetHeight(1);
    const std::string set = folder_ + "set.txt";
    QVERIFY(WriteFileAtomically(set, "old"));
    QVERIFY(form_->OpenSetFile(set));
    Memo(*form_)->setPlainText(Q(u8"Бегущая строка {[Spd:5]}"));
    QVERIFY(form_->Modified());
    const std::string changed = form_->SetText();
    Settings().DispLen = 97;  // written by the end, not by a question
    bool running = false;
    std::function<void(int)> endFromOutside = [&](int turns) {
      QTimer::singleShot(10, [&, turns] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (w->objectName() == QStringLiteral("RForm") && w->isVisible()) running = true;
        if (running) {
          form_->EndFromOutside();
        } else if (turns > 0) {
          endFromOutside(turns - 1);
        }
      });
    };
    endFromOutside(1000);
    Button(*form_, "Button10")->click();
    QTRY_VERIFY(running);  // and then stopped
    QVERIFY(!form_->isVisible());
    QVERIFY(messages_->Messages().empty());  // nothing was asked
    std::string ini;
    QVERIFY(ReadWholeFile(SettingsFilePath(), ini));
    QVERIFY(ini.find("DispLen=97") != std::string::npos);
    std::string file;
    QVERIFY(ReadWholeFile(set, file));
    QCOMPARE(file, std::string("old"));  // the set file itself is the operator's to save

    // The start's first message is the missing font archive of the folder.
    form_.reset();
    messages_->QueueAnswer(QMessageBox::Ok);
    messages_->QueueAnswer(QMessageBox::Yes);
    ShowMainForm();  // forgets the start's messages: the offer is checked by its effect
    QCOMPARE(form_->CurrentFile(), set);
    QVERIFY(form_->Modified());
    QCOMPARE(form_->SetText(), changed);

    // Offered once: the next start after an ordinary end asks nothing.
    form_->EndFromOutside();  // keeps the recovered set again
    form_.reset();
    messages_->QueueAnswer(QMessageBox::Ok);
    messages_->QueueAnswer(QMessageBox::No);
    ShowMainForm();
    QCOMPARE(form_->SetText(), std::string("old"));
    QVERIFY(!form_->Modified());
    form_.reset();
    ShowMainForm();
    QVERIFY(!form_->Modified());
  }
};

QTEST_MAIN(MainFormEditingTest)
#include "test_mainform_editing.moc"
