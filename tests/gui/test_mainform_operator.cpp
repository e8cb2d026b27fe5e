// What an operator reaches from the keyboard and sees while typing: the
// shortcuts of the commands, the "Правка" menu over the editor, the modified
// marker of the title; and a stored placement too large for the screen.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QScreen>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "core/textutil.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "gui/editor/mainlentarform.h"
#include "gui_test_support.h"

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
