// The common dialogs: the input dialog, the choice dialog, the table grid, the
// progress window and the form parts.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "gui/common/dialogs.h"
#include "gui/common/inputform.h"
#include "gui/common/devicework.h"
#include "gui/common/formparts.h"
#include "gui/common/progressform.h"
#include "gui/common/rbform.h"
#include "gui/common/tablegrid.h"

using namespace lentar::gui;

namespace {

// Runs action on the modal dialog once it is shown.
void WhenModal(std::function<void(QWidget*)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (!dialog) {
      QTimer::singleShot(10, [action] {
        QWidget* later = QApplication::activeModalWidget();
        QVERIFY(later);
        action(later);
      });
      return;
    }
    action(dialog);
  });
}

QPushButton* Button(QWidget* dialog, const char* name) {
  return dialog->findChild<QPushButton*>(QString::fromLatin1(name));
}

QList<QLineEdit*> Edits(QWidget* dialog) {
  QList<QLineEdit*> edits;
  for (int i = 1;; ++i) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("Edit%1").arg(i));
    if (!edit) break;
    edits.append(edit);
  }
  return edits;
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  // ---- InputValues -------------------------------------------------------

  void inputValuesTwoEmptyFieldsGiveTwoItems() {
    QStringList values;
    int fieldCount = -1;
    QStringList shownTexts;
    bool echoClear = false;
    WhenModal([&](QWidget* dialog) {
      QCOMPARE(dialog->windowTitle(), QStringLiteral("Сменить пароль №3"));
      const QList<QLineEdit*> edits = Edits(dialog);
      fieldCount = static_cast<int>(edits.size());
      for (QLineEdit* e : edits) shownTexts.append(e->text());
      echoClear = !edits.isEmpty() && edits[0]->echoMode() == QLineEdit::Normal;
      if (edits.size() == 2) {
        edits[0]->insert(QStringLiteral("тайна"));
        edits[1]->insert(QStringLiteral("тайна"));
        QCOMPARE(edits[0]->width(), 300);
      }
      Button(dialog, "okButton")->click();
    });
    QVERIFY(InputValues(nullptr, QStringLiteral("Сменить пароль №3"),
                        QStringLiteral("Пароль\rПодтвердите"), 300, values, 1));
    QCOMPARE(fieldCount, 2);
    QCOMPARE(shownTexts, QStringList({QString(), QString()}));
    QVERIFY(echoClear);
    QCOMPARE(values, QStringList({QStringLiteral("тайна"), QStringLiteral("тайна")}));
  }

  void inputValuesShowsInitialValuesAndReplacesTheList() {
    QStringList values{QStringLiteral("10"), QStringLiteral("20"), QStringLiteral("30"),
                       QStringLiteral("40"), QStringLiteral("50"), QStringLiteral("extra")};
    QStringList labels;
    WhenModal([&](QWidget* dialog) {
      const QList<QLineEdit*> edits = Edits(dialog);
      QCOMPARE(edits.size(), 5);
      QCOMPARE(edits[2]->text(), QStringLiteral("30"));
      for (int i = 1; i <= 5; ++i) {
        labels.append(dialog->findChild<QLabel*>(QStringLiteral("Label%1").arg(i))->text());
      }
      edits[4]->setText(QStringLiteral("55"));
      Button(dialog, "okButton")->click();
    });
    QVERIFY(InputValues(nullptr, QStringLiteral("Скорости, пикс/сек"),
                        QStringLiteral("1-я скорость\r2-я скорость\r3-я скорость\r4-я "
                                       "скорость\r5-я скорость"),
                        70, values, 1));
    QCOMPARE(labels.front(), QStringLiteral("1-я скорость"));
    QCOMPARE(values, QStringList({QStringLiteral("10"), QStringLiteral("20"),
                                  QStringLiteral("30"), QStringLiteral("40"),
                                  QStringLiteral("55")}));
  }

  void inputValuesCancelLeavesTheListAlone() {
    QStringList values{QStringLiteral("a")};
    WhenModal([&](QWidget* dialog) {
      Edits(dialog)[0]->setText(QStringLiteral("changed"));
      Button(dialog, "cancelButton")->click();
    });
    QVERIFY(!InputValues(nullptr, QStringLiteral("t"), QStringLiteral("x\ry"), 100, values, 1));
    QCOMPARE(values, QStringList({QStringLiteral("a")}));
  }

  void inputValuesWithoutPromptsShowsNothing() {
    QStringList values{QStringLiteral("keep")};
    QVERIFY(!InputValues(nullptr, QStringLiteral("t"), QString(), 100, values, 1));
    QCOMPARE(values, QStringList({QStringLiteral("keep")}));
  }

  void inputValuesPromptsAreTrimmedAndStripped() {
    QStringList values;
    QString first;
    QString second;
    WhenModal([&](QWidget* dialog) {
      first = dialog->findChild<QLabel*>(QStringLiteral("Label1"))->text();
      second = dialog->findChild<QLabel*>(QStringLiteral("Label2"))->text();
      Button(dialog, "okButton")->click();
    });
    QVERIFY(InputValues(nullptr, QStringLiteral("t"), QStringLiteral("  Од\x01ин\t\rДва\x1f:"),
                        100, values, 1));
    QCOMPARE(first, QStringLiteral("Один"));
    QCOMPARE(second, QStringLiteral("Два:"));
    QCOMPARE(values.size(), 2);
  }

  void inputValuesUsesAtMost32Fields() {
    QStringList prompts;
    for (int i = 0; i < 40; ++i) prompts.append(QString::number(i));
    QStringList values;
    int shown = 0;
    WhenModal([&](QWidget* dialog) {
      shown = static_cast<int>(Edits(dialog).size());
      Button(dialog, "okButton")->click();
    });
    QVERIFY(InputValues(nullptr, QStringLiteral("t"), prompts.join(QLatin1Char('\r')), 50,
                        values, 2));
    QCOMPARE(shown, 32);
    QCOMPARE(values.size(), 32);
  }

  void inputValuesInColumns() {
    TInputForm form(QStringLiteral("t"), {"a", "b", "c", "d", "e"}, 60, {}, 2);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.FieldCount(), 5);
    // Three rows: the fourth field heads the second column.
    QCOMPARE(form.Field(3)->y(), form.Field(0)->y());
    QVERIFY(form.Field(3)->x() > form.Field(0)->x() + 60);
    QVERIFY(form.Field(1)->y() > form.Field(0)->y());
    QCOMPARE(form.Field(4)->y(), form.Field(1)->y());
    QCOMPARE(form.Field(0)->x(), form.Field(2)->x());
  }

  // Enter moves on to the next field; in the last field it accepts.
  // A button that starts work on a device must not be pressed by a stray
  // Enter while it has the focus: Enter goes to the dialog's default button.
  void enterPressesTheFocusedButtonOnlyWhereItIsMadeTo_data() {
    QTest::addColumn<int>("enter");
    QTest::addColumn<bool>("focusedPressed");
    QTest::newRow("device command") << static_cast<int>(EnterKey::PressesDefault) << false;
    QTest::newRow("Qt's rule") << static_cast<int>(EnterKey::PressesFocused) << true;
  }

  void enterPressesTheFocusedButtonOnlyWhereItIsMadeTo() {
    QFETCH(int, enter);
    QFETCH(bool, focusedPressed);
    QDialog dialog;
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    QPushButton* button = MakeButton(&dialog, QStringLiteral("Загрузка"), "Button5",
                                     static_cast<EnterKey>(enter));
    QCOMPARE(dialog.findChild<QPushButton*>(QStringLiteral("Button5")), button);
    QSignalSpy okClicks(ok, &QPushButton::clicked);
    QSignalSpy buttonClicks(button, &QPushButton::clicked);
    dialog.show();
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    QCOMPARE(buttonClicks.count(), focusedPressed ? 1 : 0);
    QCOMPARE(okClicks.count(), focusedPressed ? 0 : 1);
  }

  void enterMovesToTheNextFieldAndAcceptsInTheLast() {
    QStringList values;
    QString focusedAfterFirst;
    bool openAfterFirst = false;
    WhenModal([&](QWidget* dialog) {
      const QList<QLineEdit*> edits = Edits(dialog);
      edits[0]->setFocus();
      edits[0]->setText(QStringLiteral("1"));
      QTest::keyClick(edits[0], Qt::Key_Return);
      focusedAfterFirst = dialog->focusWidget()->objectName();
      openAfterFirst = dialog->isVisible();
      edits[1]->setText(QStringLiteral("2"));
      QTest::keyClick(edits[1], Qt::Key_Return);
    });
    QVERIFY(InputValues(nullptr, QStringLiteral("t"), QStringLiteral("a\rb"), 100, values, 1));
    QCOMPARE(focusedAfterFirst, QStringLiteral("Edit2"));
    QVERIFY(openAfterFirst);
    QCOMPARE(values, (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
  }

  // Small dialogs are wide enough for their whole title.
  void titlesFitOnTheTitleBar() {
    for (const QString& title : {QStringLiteral("Вставить пробелы"), QStringLiteral("Скорости, пикс/сек")}) {
      int width = 0, needed = 0;
      WhenModal([&](QWidget* dialog) {
        QFont bold = dialog->font();
        bold.setBold(true);
        needed = QFontMetrics(bold).horizontalAdvance(title);
        width = dialog->width();
        Button(dialog, "cancelButton")->click();
      });
      int number = 1;
      InputNumber(nullptr, title, QStringLiteral("Количество:"), number);
      QVERIFY2(width > needed + 60, qPrintable(title));
    }
  }

  // A password prompt shows dots until "Показать пароль" is ticked.
  void passwordPromptHidesTheTypingWithAToggle() {
    QString text = QStringLiteral("старый");
    QLineEdit::EchoMode before = QLineEdit::Normal, after = QLineEdit::Password;
    WhenModal([&](QWidget* dialog) {
      QLineEdit* edit = Edits(dialog)[0];
      before = edit->echoMode();
      dialog->findChild<QCheckBox*>(QStringLiteral("ShowPassword"))->setChecked(true);
      after = edit->echoMode();
      edit->setText(QStringLiteral("новый"));
      QTest::keyClick(edit, Qt::Key_Return);
    });
    QVERIFY(InputPassword(nullptr, QStringLiteral("Пароль на модем"), QStringLiteral("Ввод:"), text));
    QCOMPARE(before, QLineEdit::Password);
    QCOMPARE(after, QLineEdit::Normal);
    QCOMPARE(text, QStringLiteral("новый"));
  }

  void inputTextAndInputNumber() {
    QString text = QStringLiteral("старый");
    int width = 0;
    WhenModal([&](QWidget* dialog) {
      QLineEdit* edit = Edits(dialog)[0];
      width = edit->width();
      QCOMPARE(edit->text(), QStringLiteral("старый"));
      edit->setText(QStringLiteral("новый"));
      Button(dialog, "okButton")->click();
    });
    QVERIFY(InputText(nullptr, QStringLiteral("Пароль на модем"), QStringLiteral("Ввод:"), text));
    QCOMPARE(text, QStringLiteral("новый"));
    QCOMPARE(width, 150);

    struct Case {
      QString typed;
      int expected;
    };
    const Case cases[] = {{QStringLiteral("25"), 25},
                          {QStringLiteral(" $10 "), 16},
                          {QStringLiteral("12abc"), 12},
                          {QStringLiteral(""), 0},
                          {QStringLiteral("99999999999"), 2147483647}};
    for (const Case& c : cases) {
      int number = 10;
      QString shown;
      WhenModal([&](QWidget* dialog) {
        QLineEdit* edit = Edits(dialog)[0];
        shown = edit->text();
        width = edit->width();
        edit->setText(c.typed);
        Button(dialog, "okButton")->click();
      });
      QVERIFY(InputNumber(nullptr, QStringLiteral("Вставить пробелы"),
                          QStringLiteral("Количество:"), number));
      QCOMPARE(shown, QStringLiteral("10"));
      QCOMPARE(width, 100);
      QCOMPARE(number, c.expected);
    }
  }

  // ---- ChooseOption ------------------------------------------------------

  void chooseOptionWithoutDefaultStartsWithOkDisabled() {
    int index = 99;
    bool okAtOpening = true;
    bool okAfterClick = false;
    WhenModal([&](QWidget* dialog) {
      QPushButton* ok = Button(dialog, "okButton");
      okAtOpening = ok->isEnabled();
      auto options = dialog->findChildren<QRadioButton*>();
      QCOMPARE(options.size(), 3);
      for (auto* o : options) QVERIFY(!o->isChecked());
      QTest::mouseClick(dialog->findChild<QRadioButton*>(QStringLiteral("RadioButton2")),
                        Qt::LeftButton);
      okAfterClick = ok->isEnabled();
      ok->click();
    });
    QVERIFY(ChooseOption(nullptr, QStringLiteral("Изменить регистр"),
                         QStringLiteral("строчные\rПРОПИСНЫЕ\rКак в предложениях"), -1, 1,
                         index));
    QVERIFY(!okAtOpening);
    QVERIFY(okAfterClick);
    QCOMPARE(index, 1);
  }

  void chooseOptionDefaultIsCheckedAndReturned() {
    struct Case {
      int defaultIndex;
      bool okEnabled;
    };
    const Case cases[] = {{2, true}, {0, true}, {3, false}, {-5, false}};
    for (const Case& c : cases) {
      int index = 42;
      bool enabled = !c.okEnabled;
      WhenModal([&](QWidget* dialog) {
        enabled = Button(dialog, "okButton")->isEnabled();
        if (enabled) {
          Button(dialog, "okButton")->click();
        } else {
          Button(dialog, "cancelButton")->click();
        }
      });
      const bool accepted = ChooseOption(nullptr, QStringLiteral("Изменить регистр"),
                                         QStringLiteral("строчные\rПРОПИСНЫЕ\rКак в предложениях"),
                                         c.defaultIndex, 1, index);
      QCOMPARE(enabled, c.okEnabled);
      QCOMPARE(accepted, c.okEnabled);
      QCOMPARE(index, c.okEnabled ? c.defaultIndex : -1);
    }
  }

  void chooseOptionCancelAndEmptyList() {
    int index = 5;
    QVERIFY(!ChooseOption(nullptr, QStringLiteral("t"), QString(), 0, 1, index));
    QCOMPARE(index, -1);
    index = 5;
    WhenModal([&](QWidget* dialog) { Button(dialog, "cancelButton")->click(); });
    QVERIFY(!ChooseOption(nullptr, QStringLiteral("t"), QStringLiteral("a\rb"), 1, 1, index));
    QCOMPARE(index, -1);
  }

  void chooseOptionColumnsAndLimit() {
    // Seven options in three columns: three rows, the fourth option heads the
    // second column.
    TRBForm form(QStringLiteral("t"), {"1", "2", "3", "4", "5", "6", "7"}, 0, 3);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* first = form.findChild<QRadioButton*>(QStringLiteral("RadioButton1"));
    auto* fourth = form.findChild<QRadioButton*>(QStringLiteral("RadioButton4"));
    auto* third = form.findChild<QRadioButton*>(QStringLiteral("RadioButton3"));
    QCOMPARE(fourth->y(), first->y());
    QVERIFY(fourth->x() > first->x());
    QVERIFY(third->y() > first->y());

    QStringList many;
    for (int i = 0; i < 200; ++i) many.append(QString::number(i));
    TRBForm big(QStringLiteral("t"), many, -1, 8);
    QCOMPARE(big.OptionCount(), 128);
  }

  // ---- TTableGrid --------------------------------------------------------

  void gridClearAddRowDeleteRow() {
    TTableGrid grid;
    QVERIFY(grid.IsEmpty());
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.AddRow(), 1);
    QVERIFY(!grid.IsEmpty());
    grid.SetCell(0, 1, QStringLiteral("first"));
    QCOMPARE(grid.AddRow(), 2);
    grid.SetCell(0, 2, QStringLiteral("second"));
    QCOMPARE(grid.RowCount(), 3);

    grid.Clear();
    QVERIFY(grid.IsEmpty());
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.Cell(0, 1), QString());
    QCOMPARE(grid.AddRow(), 1);
    grid.SetCell(1, 1, QStringLiteral("x"));
    grid.DeleteRow(1);
    QVERIFY(grid.IsEmpty());
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.Cell(1, 1), QString());
  }

  void gridDeleteRowMovesFollowingRowsUp() {
    TTableGrid grid;
    for (int i = 1; i <= 4; ++i) {
      const int row = grid.AddRow();
      QCOMPARE(row, i);
      grid.SetCell(0, row, QString::number(i));
      grid.SetRowValue(row, 10 * i);
    }
    grid.DeleteRow(2);
    QCOMPARE(grid.RowCount(), 4);
    QCOMPARE(grid.Cell(0, 1), QStringLiteral("1"));
    QCOMPARE(grid.Cell(0, 2), QStringLiteral("3"));
    QCOMPARE(grid.RowValue(2), 30);
    QCOMPARE(grid.Cell(0, 3), QStringLiteral("4"));
    // Out of range: the header row, past the end.
    for (int bad : {0, -1, 4, 100}) {
      grid.DeleteRow(bad);
      QCOMPARE(grid.RowCount(), 4);
    }
    // A new row after deletions is blank even where the old values lived.
    const int row = grid.AddRow();
    QCOMPARE(row, 4);
    QCOMPARE(grid.Cell(0, row), QString());
    QCOMPARE(grid.RowValue(row), TTableGrid::kNoValue);
  }

  void gridCopyRowCopiesTextsAndValues() {
    TTableGrid grid;
    grid.SetColumnCount(2);
    grid.AddRow();
    grid.AddRow();
    grid.SetCell(0, 1, QStringLiteral("a"));
    grid.SetCell(1, 1, QStringLiteral("b"));
    grid.SetCellValue(1, 1, 7);
    grid.SetCell(0, 2, QStringLiteral("old"));
    grid.CopyRow(1, 2);
    QCOMPARE(grid.Cell(0, 2), QStringLiteral("a"));
    QCOMPARE(grid.Cell(1, 2), QStringLiteral("b"));
    QCOMPARE(grid.CellValue(1, 2), 7);
    QCOMPARE(grid.Cell(0, 1), QStringLiteral("a"));
  }

  void gridSharesAreNormalisedAndApplied() {
    TTableGrid grid;
    grid.SetColumnCount(5);
    const int twenty[5] = {20, 20, 20, 20, 20};
    grid.SetColumnPermille(twenty, 4);
    for (int c = 0; c < 5; ++c) QCOMPARE(grid.ColumnShare(c), 0.2);
    // A value 0 keeps the column's previous share.
    const int withZero[5] = {400, 0, 200, 200, 200};
    grid.SetColumnPermille(withZero, 4);
    const double sum = 0.4 + 0.2 + 0.2 + 0.2 + 0.2;
    QCOMPARE(grid.ColumnShare(0), 0.4 / sum);
    QCOMPARE(grid.ColumnShare(1), 0.2 / sum);

    grid.resize(500, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const int available = grid.viewport()->width();
    int total = 0;
    for (int c = 0; c < 5; ++c) total += grid.columnWidth(c);
    QCOMPARE(total, available);
    QCOMPARE(grid.columnWidth(0), qRound(grid.ColumnShare(0) * available));

    // Real shares, a high index past the column count is cut.
    const double shares[8] = {0.1, 0.7, 0.2, 0, 0, 0, 0, 0};
    TTableGrid three;
    three.SetColumnCount(3);
    three.SetColumnShares(shares, 7);
    QCOMPARE(three.ColumnShare(1), 0.7);
    three.resize(400, 100);
    three.show();
    QVERIFY(QTest::qWaitForWindowExposed(&three));
    const int a = three.viewport()->width();
    QCOMPARE(three.columnWidth(0), qRound(0.1 * a));
    QCOMPARE(three.columnWidth(1), qRound(0.7 * a));
    QCOMPARE(three.columnWidth(2), a - qRound(0.1 * a) - qRound(0.7 * a));
    // After a resize the proportions hold.
    three.resize(800, 100);
    QTRY_COMPARE(three.viewport()->width(), three.width() - 2 * three.frameWidth());
    const int b = three.viewport()->width();
    QVERIFY(qAbs(three.columnWidth(1) - qRound(0.7 * b)) <= 1);
  }

  void gridUserResizeTakesFromTheNeighbour() {
    TTableGrid grid;
    grid.SetColumnCount(3);
    const int permille[3] = {300, 300, 400};
    grid.SetColumnPermille(permille, 2);
    grid.resize(400, 100);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const int w0 = grid.columnWidth(0);
    const int w1 = grid.columnWidth(1);
    const int w2 = grid.columnWidth(2);
    // Widening column 0 by 20 narrows column 1 by 20.
    grid.horizontalHeader()->resizeSection(0, w0 + 20);
    QCOMPARE(grid.columnWidth(0), w0 + 20);
    QCOMPARE(grid.columnWidth(1), w1 - 20);
    QCOMPARE(grid.columnWidth(2), w2);
    // Column 1 keeps at least 2 pixels.
    grid.horizontalHeader()->resizeSection(0, 10000);
    QCOMPARE(grid.columnWidth(0), w0 + w1 - 2);
    QCOMPARE(grid.columnWidth(1), 2);
    // The new proportions survive a resize of the grid.
    const double share0 = grid.ColumnShare(0);
    QVERIFY(share0 > 0.5);
    grid.resize(600, 100);
    QTRY_VERIFY(grid.columnWidth(0) > w0 + w1);
    QVERIFY(qAbs(grid.ColumnShare(0) - share0) < 0.005);  // whole-pixel rounding
    // The last column is not resized by the user.
    const int last = grid.columnWidth(2);
    grid.horizontalHeader()->resizeSection(2, last + 50);
    QCOMPARE(grid.columnWidth(2), last);
  }

  void gridColumnsChangedThroughTheTableItself() {
    // Shares follow a column count set by QTableWidget::setColumnCount too.
    TTableGrid grid;
    grid.setColumnCount(7);
    const int permille[7] = {100, 100, 100, 100, 100, 100, 400};
    grid.SetColumnPermille(permille, 6);
    grid.resize(300, 100);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    int total = 0;
    for (int c = 0; c < 7; ++c) total += grid.columnWidth(c);
    QCOMPARE(total, grid.viewport()->width());
    grid.setColumnCount(2);
    grid.resize(320, 100);
    QTRY_COMPARE(grid.columnWidth(0) + grid.columnWidth(1), grid.viewport()->width());
  }

  void gridKeepsFillingWhenTheScrollBarComes() {
    TTableGrid grid;
    grid.SetColumnCount(3);
    const int permille[3] = {200, 500, 300};
    grid.SetColumnPermille(permille, 2);
    grid.resize(300, 120);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    for (int i = 0; i < 40; ++i) grid.SetCell(0, grid.AddRow(), QString::number(i));
    QTRY_VERIFY(grid.verticalScrollBar()->isVisible());
    QTRY_COMPARE(grid.columnWidth(0) + grid.columnWidth(1) + grid.columnWidth(2),
                 grid.viewport()->width());
    QVERIFY(qAbs(grid.ColumnShare(1) - 0.5) < 0.01);
  }

  void gridCellFontSetsRowHeight() {
    TTableGrid grid;
    QCOMPARE(grid.verticalHeader()->defaultSectionSize(), 16);
    QFont big;
    big.setPixelSize(20);
    grid.SetCellFont(big);
    QCOMPARE(grid.verticalHeader()->defaultSectionSize(), 26);
    QFont small;
    small.setPixelSize(8);
    grid.SetCellFont(small);
    QCOMPARE(grid.verticalHeader()->defaultSectionSize(), 16);
  }

  void gridHeaderTextFromLines() {
    TTableGrid grid;
    grid.SetColumnCount(3);
    grid.SetHeaderText(QStringLiteral("No\r\nНазвание\r\nРазмер\r\n"));
    QCOMPARE(grid.horizontalHeaderItem(0)->text(), QStringLiteral("No"));
    QCOMPARE(grid.horizontalHeaderItem(1)->text(), QStringLiteral("Название"));
    QCOMPARE(grid.horizontalHeaderItem(2)->text(), QStringLiteral("Размер"));
  }

  // ---- TDeviceWork -------------------------------------------------------

  // The work runs off the window's thread; its progress, its question and
  // its result come back on the window's thread, in that order; "Прервать"
  // on the progress window sets the stop flag the work watches.
  void deviceWorkRunsOffTheWindowThread() {
    lentar::comm::StopFlag stop;
    TDeviceWork work;
    work.SetStop(&stop);
    TProgressForm gauge;
    gauge.Follow(work);
    QThread* const window = QThread::currentThread();
    QStringList seen;
    connect(&work, &TDeviceWork::progress, this, [&](int p) {
      seen << QStringLiteral("progress %1").arg(p);
      QVERIFY(QThread::currentThread() == window);
    });
    bool workOffWindow = false;
    bool stopSeen = false;
    int result = 0;
    QVERIFY(work.Run<int>(
        [&] {
          workOffWindow = QThread::currentThread() != window;
          work.Progress(40);
          const QString answer = work.Ask<QString>(
              [&] {
                seen << QStringLiteral("asked");
                return QThread::currentThread() == window ? QStringLiteral("yes") : QString();
              },
              QStringLiteral("gone"));
          // The operator presses "Прервать" meanwhile.
          work.Post([&] { Button(&gauge, "InterruptButton")->click(); });
          stopSeen = !lentar::comm::PauseUnlessStopped(&stop, 10000);
          return answer == QStringLiteral("yes") ? 7 : -1;
        },
        [&](int r) {
          result = r;
          seen << QStringLiteral("done");
        }));
    QVERIFY(work.Busy());
    QVERIFY(!work.Run([] {}, [] {}));  // one piece of work at a time
    QTRY_VERIFY(!work.Busy());
    QVERIFY(workOffWindow);
    QVERIFY(stopSeen && work.Interrupted());
    QCOMPARE(result, 7);
    QCOMPARE(seen, (QStringList{"progress 40", "asked", "done"}));
    QCOMPARE(gauge.Percent(), 40);
    QCOMPARE(gauge.ProgressText(), QStringLiteral("Прерывание..."));
  }

  // A window closed while its work waits for the operator: the question is
  // answered "gone", the work is told to stop, and nothing more reaches the
  // window.
  void deviceWorkEndsWhenTheWindowGoes() {
    lentar::comm::StopFlag stop;
    std::atomic<bool> asking{false};
    std::atomic<bool> stopped{false};
    QString answer;
    bool continued = false;
    {
      TDeviceWork work;
      work.SetStop(&stop);
      work.Run(
          [&] {
            asking = true;
            answer = work.Ask<QString>([] { return QStringLiteral("never"); },
                                       QStringLiteral("gone"));
            stopped = stop.Requested();
          },
          [&] { continued = true; });
      // The window's thread runs no event while the work asks.
      while (!asking) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    QCOMPARE(answer, QStringLiteral("gone"));
    QVERIFY(stopped);
    QCoreApplication::processEvents();
    QVERIFY(!continued);
  }

  // ---- TProgressForm -----------------------------------------------------

  void progressFormStepsAndClamps() {
    TProgressForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Идет запись..."));
    form.SetTitle(QStringLiteral("Загрузка..."));
    form.ShowProgress();
    QVERIFY(form.isVisible());
    struct Case {
      int given;
      int shown;
      const char* text;  // with the transfer's size set to 5026 bytes
    };
    form.SetTotalBytes(5026);
    for (const Case& c : {Case{0, 0, "0 из 5026 байт (0%)"}, Case{37, 37, "1860 из 5026 байт (37%)"},
                          Case{100, 100, "5026 из 5026 байт (100%)"},
                          Case{150, 100, "5026 из 5026 байт (100%)"},
                          Case{-3, 0, "0 из 5026 байт (0%)"}}) {
      StepProgress(&form, c.given);
      QCOMPARE(form.Percent(), c.shown);
      QCOMPARE(form.ProgressText(), QString::fromUtf8(c.text));
    }
    form.SetTotalBytes(0);
    QCOMPARE(form.ProgressText(), QStringLiteral("0%"));
    StepProgress(nullptr, 50);  // no form: nothing happens
    form.HideProgress();
    QVERIFY(!form.isVisible());
    QCOMPARE(form.windowTitle(), QStringLiteral("Загрузка..."));
  }
};

QTEST_MAIN(DialogsTest)
#include "test_dialogs.moc"
