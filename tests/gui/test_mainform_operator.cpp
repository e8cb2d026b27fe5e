// What an operator reaches from the keyboard and sees while typing: the
// shortcuts of the commands, the "Правка" menu over the editor, and the
// modified marker of the title.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "core/textutil.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
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
};

QTEST_MAIN(MainFormOperatorTest)
#include "test_mainform_operator.moc"
