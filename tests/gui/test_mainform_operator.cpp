// What an operator reaches from the keyboard and sees while typing: the
// shortcuts of the commands, the "Правка" menu over the editor, the modified
// marker of the title, the status bar's caret and size, the tag colours; and
// a stored placement too large for the screen.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QLabel>
#include <QLocale>
#include <QPlainTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QMenu>
#include <QScreen>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>
#include <memory>
#include <optional>
#include <vector>

#include "core/textutil.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "gui/common/qttranslations.h"
#include "gui/editor/mainlentarform.h"
#include "gui/editor/sethighlighter.h"
#include "markup/compiler.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

QAction* Action(QWidget& form, const char* name) {
  QAction* action = form.findChild<QAction*>(QLatin1String(name));
  if (!action) qWarning("no action %s", name);
  return action;
}

// Closes every visible emulation window at the next turns of the event loop,
// which ends a preview started by a test.
void CloseEmulationSoon() {
  QTimer::singleShot(50, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() == QStringLiteral("RForm") && w->isVisible()) w->close();
    }
  });
}

using Kind = SetHighlighter::Kind;

// The highlighter's kind at document position pos; none for plain text.
std::optional<Kind> KindAt(QTextDocument& doc, int pos) {
  const QTextBlock block = doc.findBlock(pos);
  const int offset = pos - block.position();
  for (const QTextLayout::FormatRange& r : block.layout()->formats()) {
    if (offset < r.start || offset >= r.start + r.length) continue;
    for (Kind k : {Kind::Entity, Kind::Unclosed, Kind::DroppedTag, Kind::LookTag, Kind::TimingTag,
                   Kind::ContentTag}) {
      const QTextCharFormat f = SetHighlighter::FormatOf(k);
      if (k == Kind::Entity ? r.format.background() == f.background()
                            : r.format.foreground() == f.foreground()) {
        return k;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

class MainFormOperatorTest : public QObject, private MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    messages_ = std::make_unique<MessageCapture>();
    noDialogs_ = std::make_unique<FileDialogCapture>();  // every file dialog reads as Cancel
  }

  void cleanup() { TearDown(); }

  void shortcutsTriggerTheirCommands() {
    ShowMainForm();
    TMainLentarForm& form = *form_;
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    Memo(form)->setFocus();

    struct Case {
      const char* action;
      QKeySequence keys;
    };
    const Case cases[] = {
        {"NewItem", QKeySequence(Qt::CTRL | Qt::Key_N)},
        {"OpenItem", QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"SaveItem", QKeySequence(Qt::CTRL | Qt::Key_S)},
        {"SaveAsItem", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)},
        {"PreviewItem", QKeySequence(Qt::Key_F9)},
        {"ExitItem", QKeySequence(Qt::CTRL | Qt::Key_Q)},  // last: it closes the window
    };
    for (const Case& c : cases) {
      QAction* action = Action(form, c.action);
      QCOMPARE(action->shortcut(), c.keys);
      QSignalSpy triggered(action, &QAction::triggered);
      if (QByteArray(c.action) == "PreviewItem") CloseEmulationSoon();
      QTest::keySequence(Memo(form), c.keys);
      QVERIFY2(triggered.count() == 1, c.action);
      // The preview runs on until its window is closed; the window is back then.
      if (QByteArray(c.action) == "PreviewItem") QTRY_VERIFY(form.isEnabled());
    }
    // "Сохранить" of an unnamed set and "Сохранить как" asked for a name;
    // "Открыть" asked for a file.
    QCOMPARE(noDialogs_->Requests().size(), size_t{3});
    QVERIFY(!form.isVisible());
    QCOMPARE(Action(form, "RecodePasteItem")->shortcut(),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
  }

  void editMenuWorksOnTheEditorAndFollowsItsState() {
    ShowMainForm();
    TMainLentarForm& form = *form_;
    QPlainTextEdit* memo = Memo(form);
    QAction* undo = Action(form, "UndoItem");
    QAction* redo = Action(form, "RedoItem");
    QAction* cut = Action(form, "CutItem");
    QAction* copy = Action(form, "CopyItem");
    QVERIFY(!undo->isEnabled());
    QVERIFY(!redo->isEnabled());
    QVERIFY(!copy->isEnabled());

    memo->insertPlainText(Q(u8"Скидки"));
    QVERIFY(undo->isEnabled());
    Action(form, "SelectAllItem")->trigger();
    QCOMPARE(memo->textCursor().selectedText(), Q(u8"Скидки"));
    QVERIFY(copy->isEnabled());
    QVERIFY(cut->isEnabled());
    copy->trigger();
    QCOMPARE(QApplication::clipboard()->text(), Q(u8"Скидки"));
    cut->trigger();
    QVERIFY(memo->toPlainText().isEmpty());
    QVERIFY(!copy->isEnabled());
    undo->trigger();
    QCOMPARE(memo->toPlainText(), Q(u8"Скидки"));
    QVERIFY(redo->isEnabled());
    redo->trigger();
    QVERIFY(memo->toPlainText().isEmpty());
    Action(form, "PasteItem")->trigger();
    Action(form, "PasteItem")->trigger();
    QCOMPARE(memo->toPlainText(), Q(u8"СкидкиСкидки"));
  }

  void titleMarksUnsavedChanges() {
    ShowMainForm();
    TMainLentarForm& form = *form_;
    QVERIFY(!form.isWindowModified());
    Memo(form)->insertPlainText(QStringLiteral("a"));
    QVERIFY(form.isWindowModified());
    QVERIFY(form.Modified());
    Memo(form)->undo();  // back to the saved text still counts as a change
    QVERIFY(form.isWindowModified());
    Action(form, "NewItem")->trigger();  // Yes, then the name is not given: still unsaved
    QVERIFY(form.isWindowModified());
    messages_->QueueAnswer(QMessageBox::No);
    Action(form, "NewItem")->trigger();
    QVERIFY(!form.isWindowModified());
    QCOMPARE(form.windowTitle(), QStringLiteral("Lentar - [*]"));
  }

  void statusBarShowsTheCaretAndTheSizeAgainstTheLimit() {
    Settings().OutDataSize = 4096;
    WriteSettings(Settings(), SettingsFilePath());
    ShowMainForm();
    TMainLentarForm& form = *form_;
    auto* caret = Child<QLabel>(&form, "CaretLabel");
    auto* size = Child<QLabel>(&form, "SizeLabel");
    QVERIFY(caret && size);
    const QColor normal = size->palette().color(QPalette::WindowText);
    QTRY_COMPARE(size->text(), Q(u8"0 из 4 096 байт"));

    // {[Spd:3]} is a record of a few bytes, not its 9 characters.
    const std::string tagged = "{[Spd:3]}";
    const size_t tagBytes = CompileBoardData(tagged, 1, 1, 0).length();
    Memo(form)->setPlainText(QString(1234 - static_cast<int>(tagBytes), QLatin1Char('a')) +
                             QString::fromStdString(tagged));
    QTRY_COMPARE(size->text(), Q(u8"1 234 из 4 096 байт"));

    struct Case {
      int length;
      const char8_t* text;
      bool over;
    };
    for (const Case c : {Case{4096, u8"4 096 из 4 096 байт", false},
                         Case{4097, u8"4 097 из 4 096 байт", true},
                         Case{12, u8"12 из 4 096 байт", false}}) {
      Memo(form)->setPlainText(QString(c.length, QLatin1Char('x')));
      QTRY_COMPARE(size->text(), Q(c.text));
      QCOMPARE(size->palette().color(QPalette::WindowText) != normal, c.over);
    }
    // Typing counts as well; the caret's line and column follow it.
    Memo(form)->moveCursor(QTextCursor::End);
    Memo(form)->insertPlainText(QStringLiteral("\nab"));
    QTRY_COMPARE(size->text(), Q(u8"15 из 4 096 байт"));  // the line break is one space
    QCOMPARE(caret->text(), Q(u8"Строка 2, столбец 3"));
    SetCaret(form, 1);
    QCOMPARE(caret->text(), Q(u8"Строка 1, столбец 2"));
  }

  void highlighterMarksTagsByHowTheBoardReadsThem() {
    struct Span {
      int from, to;              // positions [from, to)
      std::optional<Kind> kind;  // none: plain text
    };
    struct Case {
      const char8_t* text;
      std::vector<Span> spans;
    };
    const Case cases[] = {
        {u8"{[Spd:3]}Привет{[font:1]}", {{0, 9, Kind::TimingTag}, {9, 15, std::nullopt}, {15, 25, Kind::LookTag}}},
        {u8"a{[Speed:3]}b", {{0, 1, std::nullopt}, {1, 12, Kind::DroppedTag}, {12, 13, std::nullopt}}},
        {u8"{[Img:]}{[Sp:0]}", {{0, 8, Kind::DroppedTag}, {8, 16, Kind::ContentTag}}},
        {u8"{[FCol:2]}x{[Pause:5", {{0, 10, Kind::LookTag}, {10, 11, std::nullopt}, {11, 20, Kind::Unclosed}}},
        {u8"{[A{[Spd:1]}", {{0, 12, Kind::DroppedTag}}},
        {u8"&#65;&#300;&#x;", {{0, 5, Kind::Entity}, {5, 15, std::nullopt}}},
        {u8"{[Sp:&#49;0]}", {{0, 5, Kind::ContentTag}, {5, 10, Kind::Entity}, {10, 13, Kind::ContentTag}}},
        {u8"x{[Eff:\n1,2]}y", {{1, 7, Kind::TimingTag}, {8, 13, Kind::TimingTag}, {13, 14, std::nullopt}}},
    };
    for (const Case& c : cases) {
      QTextDocument doc;
      doc.setPlainText(Q(c.text));
      SetHighlighter highlighter(&doc, 1, 1);
      highlighter.rehighlight();
      for (const Span& span : c.spans) {
        for (int pos = span.from; pos < span.to; ++pos) {
          QVERIFY2(KindAt(doc, pos) == span.kind,
                   qPrintable(Q(c.text) + QStringLiteral(" at %1").arg(pos)));
        }
      }
    }
  }

  void highlighterFollowsAClosingBracketTypedLater() {
    QTextDocument doc;
    doc.setDocumentLayout(new QPlainTextDocumentLayout(&doc));  // as in the editor
    SetHighlighter highlighter(&doc, 1, 1);  // first, then a set is loaded
    doc.setPlainText(QStringLiteral("{[Font:1]}\n{[Spd:3\nabc"));
    QCoreApplication::processEvents();
    QCOMPARE(KindAt(doc, 0), std::optional<Kind>(Kind::LookTag));
    doc.setPlainText(QStringLiteral("{[Spd:3\nabc"));
    QCoreApplication::processEvents();
    QCOMPARE(KindAt(doc, 0), std::optional<Kind>(Kind::Unclosed));
    QTextCursor end(&doc);
    end.movePosition(QTextCursor::End);
    end.insertText(QStringLiteral("]}"));  // on the next line: the tag now spans both
    QCOMPARE(KindAt(doc, 0), std::optional<Kind>(Kind::TimingTag));
    QCOMPARE(KindAt(doc, 9), std::optional<Kind>(Kind::TimingTag));
    end.deletePreviousChar();
    QCOMPARE(KindAt(doc, 0), std::optional<Kind>(Kind::Unclosed));
  }

  void qtsOwnTextsAreRussian() {
    QVERIFY2(InstallQtTranslations(*QCoreApplication::instance()),
             "qtbase_ru.qm missing: install qt6-translations-l10n");
    QMessageBox box(QMessageBox::Warning, QStringLiteral("?"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), Q(u8"Отмена"));
    QCOMPARE(box.button(QMessageBox::Yes)->text(), Q(u8"&Да"));
    QCOMPARE(box.button(QMessageBox::No)->text(), Q(u8"&Нет"));

    // The file dialog Qt draws itself (as on a desktop without a portal).
    QFileDialog dialog;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    QCOMPARE(dialog.labelText(QFileDialog::Accept), Q(u8"&Сохранить"));
    QCOMPARE(dialog.labelText(QFileDialog::Reject), Q(u8"Отмена"));
    QCOMPARE(dialog.labelText(QFileDialog::LookIn), Q(u8"Перейти к:"));
    // Sizes and dates of the file list follow the Russian locale.
    QCOMPARE(QLocale().language(), QLocale::Russian);
    QVERIFY(QLocale().formattedDataSize(248).startsWith(Q(u8"248 байт")));

    // The editor's context menu.
    ShowMainForm();
    std::unique_ptr<QMenu> menu(Memo(*form_)->createStandardContextMenu());
    QStringList captions;
    for (QAction* a : menu->actions()) captions << a->text();
    QVERIFY2(captions.contains(Q(u8"Выделить всё")) && captions.contains(Q(u8"Удалить")),
             qPrintable(captions.join(u'|')));
  }

  void storedRectanglesAreFittedToTheArea() {
    const QRect area(0, 0, 1280, 770);  // a 1280 x 800 screen under a panel
    struct Case {
      const char* what;
      QRect stored, expected;
    };
    const Case cases[] = {
        {"inside: unchanged", QRect(40, 50, 600, 400), QRect(40, 50, 600, 400)},
        {"too large: the whole area", QRect(0, 0, 1904, 1140), QRect(0, 0, 1280, 770)},
        {"too wide and placed right", QRect(300, 20, 1500, 300), QRect(0, 20, 1280, 300)},
        {"hanging off the right and bottom", QRect(1100, 700, 400, 300), QRect(880, 470, 400, 300)},
        {"above and left of the area", QRect(-500, -40, 200, 100), QRect(0, 0, 200, 100)},
    };
    for (const Case& c : cases) QVERIFY2(FitRectToArea(c.stored, area) == c.expected, c.what);
    QCOMPARE(FitRectToArea(QRect(10, 10, 5000, 5000), QRect()), QRect(10, 10, 5000, 5000));
    QCOMPARE(FitRectToArea(QRect(100, 100, 50, 50), QRect(-1280, 0, 1280, 1024)),
             QRect(-50, 100, 50, 50));
  }

  void tooLargeStoredMainWindowFitsTheScreen() {
    // A placement stored at a scale factor of 1.5, for a larger screen.
    Settings().MainCoor = IntRect{0, 0, 1904, 1140};
    WriteSettings(Settings(), SettingsFilePath());
    ShowMainForm();
    const QRect area = form_->screen()->availableGeometry();
    QVERIFY2(area.contains(form_->frameGeometry()) || area.contains(form_->geometry()),
             qPrintable(QStringLiteral("%1,%2 %3x%4")
                            .arg(form_->x())
                            .arg(form_->y())
                            .arg(form_->width())
                            .arg(form_->height())));
    QVERIFY(form_->width() <= area.width());
    QVERIFY(form_->height() <= area.height());
    QVERIFY(form_->width() >= area.width() * 3 / 4);  // fitted, not reset
  }
};

QTEST_MAIN(MainFormOperatorTest)
#include "test_mainform_operator.moc"
