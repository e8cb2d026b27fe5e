// The main window's file side: set files and the title, the unsaved-changes
// question, the recent list, the binary and GPRS exports and the compiler's
// size limit. Message boxes and file dialogs are answered through the capture
// services; nothing here waits on a real dialog.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QStatusBar>
#include <QToolBar>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <map>
#include <sstream>

#include <sys/stat.h>

#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "gui/editor/mainlentarform.h"
#include "markup/compiler.h"
#include "markup/fonts.h"
#include "markup/gprs.h"
#include "markup/project.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(NativePath(path), std::ios::binary);
  out << bytes;
}

std::string Bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

QAction* Action(QWidget& form, const char* name) {
  QAction* action = form.findChild<QAction*>(QLatin1String(name));
  if (!action) qWarning("no action %s", name);
  return action;
}

// Types text at the end of the editor, as the operator would: one key event
// per character, carrying that character (QTest::keyClicks knows Latin-1 only).
void TypeAtEnd(QWidget& form, const QString& text) {
  QPlainTextEdit* memo = Memo(form);
  memo->moveCursor(QTextCursor::End);
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(memo, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(memo, &release);
  }
}

bool HasMessage(const MessageCapture& capture, const QString& caption, const QString& text) {
  for (const CapturedMessage& m : capture.Messages()) {
    if (m.caption == caption && m.text == text) return true;
  }
  return false;
}

}  // namespace

class MainFormFilesTest : public QObject, private MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    // No test may end up in a real dialog: unanswered ones read as Cancel.
    noDialogs_ = std::make_unique<FileDialogCapture>();
  }

  void cleanup() { TearDown(); }

  // ---- Layout -----------------------------------------------------------------

  void menuToolBarAndPanelStandWhereTheyBelong() {
    MessageCapture capture;
    TMainLentarForm& form = Start();
    QVERIFY(!form.Modified());
    // No settings file yet: the status bar says where the board's size is set.
    QCOMPARE(form.statusBar()->currentMessage(), kFirstStartHint);
    QStringList menus;
    for (QAction* a : form.menuBar()->actions()) menus << a->text();
    QCOMPARE(menus, QStringList({Q(u8"&Файл"), Q(u8"&Правка"), Q(u8"&Настройки"), Q(u8"&Загрузка"),
                                 Q(u8"&Справка")}));

    auto items = [](QMenu* menu) {
      QStringList list;
      for (QAction* a : menu->actions()) list << (a->isSeparator() ? QStringLiteral("-") : a->text());
      return list;
    };
    QCOMPARE(items(form.findChild<QMenu*>("FileMenu")),
             QStringList({Q(u8"&Новый"), Q(u8"&Открыть"), Q(u8"&Сохранить"), Q(u8"Сохранить &как"),
                          "-", Q(u8"Последние &файлы"), "-", Q(u8"&Выход")}));
    QCOMPARE(items(form.findChild<QMenu*>("EditMenu")),
             QStringList({Q(u8"&Отменить"), Q(u8"&Повторить"), "-", Q(u8"Выре&зать"),
                          Q(u8"&Копировать"), Q(u8"Вст&авить"), Q(u8"Вставить с п&ерекодировкой"),
                          "-", Q(u8"Выделить &всё")}));
    QCOMPARE(items(form.findChild<QMenu*>("SettingsMenu")),
             QStringList({Q(u8"&Системные"), Q(u8"&Опции табло"), "-", Q(u8"&Табло"), "-",
                          Q(u8"&Пароли"), "-", Q(u8"&Шрифты"), "-", Q(u8"&Раскладки клавиатуры")}));
    QCOMPARE(items(form.findChild<QMenu*>("UploadMenu")),
             QStringList({Q(u8"&Табло"), Q(u8"&Эмуляция"), Q(u8"&Загрузчик"), Q(u8"Экспорт в &файл"),
                          Q(u8"Экспорт для &GPRS"), "-", Q(u8"&Произвольный текст"), "-",
                          Q(u8"Пар&к табло"), Q(u8"Отправить в &группу…")}));

    // Every caption has an accelerator letter, none used twice in one menu
    // (nor twice on the menu bar).
    QList<QWidget*> bars{form.menuBar()};
    for (QMenu* menu : form.findChildren<QMenu*>()) bars << menu;
    for (QWidget* bar : bars) {
      QSet<QChar> letters;
      for (QAction* a : bar->actions()) {
        if (a->isSeparator() || a->objectName().startsWith(QLatin1String("RecentItem")) ||
            a->objectName() == QLatin1String("EmptyRecentItem")) {
          continue;
        }
        const qsizetype amp = a->text().indexOf(QLatin1Char('&'));
        QVERIFY2(amp >= 0 && amp + 1 < a->text().size(), qPrintable(a->text()));
        const QChar letter = a->text().at(amp + 1).toLower();
        QVERIFY2(!letters.contains(letter), qPrintable(a->text()));
        letters.insert(letter);
      }
    }

    // Every command of the menu is enabled.
    for (const char* name : {"NewItem", "OpenItem", "SaveItem", "SaveAsItem", "ExitItem",
                             "PasswordsItem", "LayoutsItem", "RecodePasteItem", "FreeTextItem",
                             "PreviewItem", "UploadLoaderItem", "ExportBinaryItem",
                             "ExportGprsItem", "AboutItem", "SystemSettingsItem",
                             "BoardOptionsItem", "BoardWindowItem", "UploadBoardItem",
                             "FleetItem", "GroupDeliveryItem"}) {
      QVERIFY2(Action(form, name)->isEnabled(), name);
    }

    QToolBar* bar = form.findChild<QToolBar*>("ToolBar1");
    QVERIFY(bar);
    QList<QAction*> expected = {Action(form, "OpenItem"), Action(form, "SaveItem"), nullptr,
                                Action(form, "SystemSettingsItem"), Action(form, "BoardOptionsItem"),
                                nullptr, Action(form, "PreviewItem"), Action(form, "UploadBoardItem"),
                                Action(form, "UploadLoaderItem"), nullptr, Action(form, "FleetItem")};
    const QList<QAction*> tools = bar->actions();
    QCOMPARE(tools.size(), expected.size());
    for (qsizetype i = 0; i < tools.size(); ++i) {
      if (expected[i]) {
        QCOMPARE(tools[i], expected[i]);
      } else {
        QVERIFY(tools[i]->isSeparator());
      }
    }

    const char* captions[] = {"Регистр", "Изображение", "Пробелы", "Параметр", "Эффект",
                              "Символы", "Шрифт", "Цвет", "GPRS", "Просмотр",
                              "В загрузчик", "В табло", "Вставить с перекодировкой"};
    for (int i = 0; i < 13; ++i) {
      auto* b = form.findChild<QPushButton*>(QStringLiteral("Button%1").arg(i + 1));
      QVERIFY(b);
      QCOMPARE(b->text(), QString::fromUtf8(captions[i]));
    }
    for (int enabled : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}) {
      QVERIFY(form.findChild<QPushButton*>(QStringLiteral("Button%1").arg(enabled))->isEnabled());
    }
    // The recoding paste is the menu's command: the button follows it.
    QCOMPARE(form.findChild<QPushButton*>("Button13")->isEnabled(),
             Action(form, "RecodePasteItem")->isEnabled());
    // Row 3: the recoding paste is twice as wide as its neighbours.
    auto* b11 = form.findChild<QPushButton*>("Button11");
    auto* b13 = form.findChild<QPushButton*>("Button13");
    QVERIFY(b13->width() > b11->width() * 3 / 2);
    QVERIFY(b13->y() > form.findChild<QPushButton*>("Button6")->y());
  }

  void fileDialogFiltersAndProposals() {
    const QString filter = Q(u8"Текстовые файлы (*.txt)|*.txt|Двоичные файлы (*.bin)|*.BIN|Все файлы|*.*");
    QCOMPARE(QtFileFilters(filter),
             QStringList({Q(u8"Текстовые файлы (*.txt)"), Q(u8"Двоичные файлы (*.BIN)"),
                          Q(u8"Все файлы (*)")}));
    FileDialogProposal p = ProposeFile(filter, 0, "/a/b/set.bin");
    QCOMPARE(p.filter, 0);
    QCOMPARE(p.name, std::string("/a/b/set.bin"));
    p = ProposeFile(filter, 3, "/a/b/set.bin");
    QCOMPARE(p.filter, 2);
    QCOMPARE(p.name, std::string("set.bin"));
    p = ProposeFile(filter, -1, "/a/b/set.bin");  // by extension, letter case ignored
    QCOMPARE(p.filter, 1);
    QCOMPARE(p.name, std::string("set.bin"));
    p = ProposeFile(filter, -1, "/a/b.x/set");  // no extension: the first filter
    QCOMPARE(p.filter, 0);
    QCOMPARE(p.name, std::string("set"));
    QCOMPARE(ProposeFile(filter, 9, "x.txt").filter, 0);
  }

  void realOpenDialogIsSetUpAndAnswers() {
    noDialogs_.reset();  // this one goes through the real dialog
    const std::string set = folder_ + Utf8ToCp1251(u8"набор.txt");
    WriteAll(set, "abc");
    QString title, directory;
    QStringList filters;
    std::function<void(int)> answer = [&](int turns) {
      QTimer::singleShot(0, [&, turns] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
          if (turns > 0) answer(turns - 1);
          return;
        }
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        directory = dialog->directory().absolutePath();
        dialog->selectFile(QString::fromStdString(NativePath(set).string()));
        static_cast<QDialog*>(dialog)->accept();
      });
    };
    answer(2000);
    std::string folder = folder_;
    std::string fileName;
    QVERIFY(ChooseOpenFile(nullptr, Q(u8"Открыть файл"), Q(u8"Текстовые файлы (*.txt)|*.txt|Все файлы|*.*"),
                           folder, 0, fileName, false, true));
    QCOMPARE(title, Q(u8"Открыть файл"));
    QCOMPARE(filters, QStringList({Q(u8"Текстовые файлы (*.txt)"), Q(u8"Все файлы (*)")}));
    QCOMPARE(directory + "/", QString::fromStdString(NativePath(folder_).string()));
    QCOMPARE(fileName, set);
    QCOMPARE(folder, folder_);
  }

  // ---- Title, open, save, "Новый" ----------------------------------------------------

  void titleFollowsOpenSaveAndNew() {
    const std::string set = folder_ + Utf8ToCp1251(u8"набор.txt");
    WriteAll(set, Utf8ToCp1251(u8"Бегущая строка"));
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    QCOMPARE(form.windowTitle(), QStringLiteral("Lentar - [*]"));

    files.QueueAnswer(set);
    Action(form, "OpenItem")->trigger();
    QCOMPARE(files.Requests().size(), size_t{1});
    const FileDialogRequest& open = files.Requests()[0];
    QVERIFY(!open.save);
    QCOMPARE(open.title, Q(u8"Открыть файл"));
    QCOMPARE(open.filters, QStringList({Q(u8"Текстовые файлы (*.txt)"), Q(u8"Все файлы (*)")}));
    QCOMPARE(open.proposedName, std::string());
    QCOMPARE(form.windowTitle(), QStringLiteral("Lentar - ") + FromBoardText(set) + "[*]");
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"Бегущая строка"));
    QVERIFY(!form.Modified());

    TypeAtEnd(form, Q(u8"!"));
    QVERIFY(form.Modified());
    const std::string other = folder_ + "other.txt";
    files.QueueAnswer(other);
    Action(form, "SaveAsItem")->trigger();
    const FileDialogRequest& saveAs = files.Requests()[1];
    QVERIFY(saveAs.save);
    QCOMPARE(saveAs.title, Q(u8"Сохранить набор как:"));
    QCOMPARE(saveAs.defaultExtension, QStringLiteral("txt"));
    QVERIFY(saveAs.overwritePrompt);
    QCOMPARE(saveAs.proposedName, Utf8ToCp1251(u8"набор.txt"));
    QCOMPARE(saveAs.folder, folder_);
    QCOMPARE(form.windowTitle(), QStringLiteral("Lentar - ") + FromBoardText(other) + "[*]");
    QCOMPARE(ReadAll(other), Utf8ToCp1251(u8"Бегущая строка!"));
    QVERIFY(!form.Modified());
    QCOMPARE(form.CurrentFile(), other);

    Action(form, "NewItem")->trigger();  // nothing unsaved: no question
    QVERIFY(capture.Messages().empty());
    QCOMPARE(form.windowTitle(), QStringLiteral("Lentar - [*]"));
    QVERIFY(Memo(form)->toPlainText().isEmpty());
    QCOMPARE(form.CurrentFile(), std::string());
    QVERIFY(!form.Modified());
  }

  void setFileKeepsItsBytesAndEditsSaveCrLf() {
    // Lone LF and CR, a no-break space and the one byte the code page leaves
    // unassigned: opened and saved untouched, the file stays as it was.
    const std::string bytes = "A\r\n\xC1\n{[Sp:5]}\rD\xA0\x98 &#65;";
    const std::string set = folder_ + "set.txt";
    WriteAll(set, bytes);
    MessageCapture capture;
    TMainLentarForm& form = Start(set);
    Action(form, "SaveItem")->trigger();
    QCOMPARE(ReadAll(set), bytes);
    QCOMPARE(form.SetText(), bytes);

    // Once edited, the text is saved as the editor holds it: CR LF breaks.
    TypeAtEnd(form, QStringLiteral("x"));
    Action(form, "SaveItem")->trigger();
    QCOMPARE(ReadAll(set), std::string("A\r\n\xC1\r\n{[Sp:5]}\r\nD\xA0? &#65;x"));
    QVERIFY(capture.Messages().empty());

    // An empty set is a 0-byte file and opens as an empty editor.
    WriteAll(set, "");
    QVERIFY(form.OpenSetFile(set));
    QVERIFY(Memo(form)->toPlainText().isEmpty());
  }

  void charactersOutsideTheCodePageNeverReachTheSet() {
    MessageCapture capture;
    TMainLentarForm& form = Start();
    TypeAtEnd(form, Q(u8"aΩб€"));  // Ω has no Windows-1251 byte: refused
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"aб€"));
    QApplication::clipboard()->setText(Q(u8"xΩ😀y"));
    Memo(form)->paste();
    QCOMPARE(Memo(form)->toPlainText(), Q(u8"aб€x??y"));
    QCOMPARE(form.SetText(), std::string("a\xE1\x88x??y"));
  }

  void undoingBackToTheSavedTextStillCountsAsModified() {
    const std::string set = folder_ + "set.txt";
    WriteAll(set, "abc");
    MessageCapture capture;
    TMainLentarForm& form = Start(set);
    TypeAtEnd(form, QStringLiteral("d"));
    Memo(form)->undo();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("abc"));
    QVERIFY(form.Modified());
  }

  // ---- Unsaved changes ------------------------------------------------------------------

  void exitWithUnsavedChangesAnsweredCancelNoAndYes() {
    const std::string set = folder_ + "set.txt";
    WriteAll(set, "abc");
    MessageCapture capture;
    {
      TMainLentarForm& form = Start(set);
      TypeAtEnd(form, QStringLiteral("d"));
      capture.QueueAnswer(QMessageBox::Cancel);
      Action(form, "ExitItem")->trigger();
      QVERIFY(form.isVisible());
      QCOMPARE(capture.Messages().size(), size_t{1});
      const CapturedMessage& m = capture.Messages()[0];
      QCOMPARE(m.caption, Q(u8"Внимание!"));
      QCOMPARE(m.text, Q(u8"Файл ") + FromBoardText(set) + Q(u8" не был сохранен! Сохранить?"));
      QCOMPARE(m.icon, QMessageBox::Warning);
      QCOMPARE(m.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

      capture.QueueAnswer(QMessageBox::No);
      Action(form, "ExitItem")->trigger();
      QVERIFY(!form.isVisible());
      QCOMPARE(ReadAll(set), std::string("abc"));
      // Hiding at exit wrote the settings with the set of this run.
      TSettings back;
      ReadSettings(back, SettingsFilePath());
      QCOMPARE(back.LastProject, set);
    }
    cleanup();
    init();
    const std::string again = folder_ + "set.txt";
    WriteAll(again, "abc");
    capture.Clear();
    TMainLentarForm& form = Start(again);
    TypeAtEnd(form, QStringLiteral("d"));
    capture.QueueAnswer(QMessageBox::Yes);
    Action(form, "ExitItem")->trigger();
    QVERIFY(!form.isVisible());
    QCOMPARE(ReadAll(again), std::string("abcd"));
  }

  void unnamedSetAsksWithTwoSpacesAndYesOffersSaveAs() {
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    TypeAtEnd(form, QStringLiteral("abc"));
    capture.QueueAnswer(QMessageBox::Yes);
    files.QueueCancel();
    Action(form, "NewItem")->trigger();
    QCOMPARE(capture.Messages()[0].text, Q(u8"Файл  не был сохранен! Сохранить?"));
    QCOMPARE(files.Requests().size(), size_t{1});
    // The save was cancelled: the set stays, and so does the window.
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("abc"));
    capture.QueueAnswer(QMessageBox::Yes);
    files.QueueCancel();
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
  }

  void failedSaveKeepsTheSetModified() {
    const std::string set = folder_ + "set.txt";
    WriteAll(set, "abc");
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start(set);
    TypeAtEnd(form, QStringLiteral("d"));
    const std::string nowhere = folder_ + "missing/set.txt";
    files.QueueAnswer(nowhere);
    Action(form, "SaveAsItem")->trigger();
    QVERIFY(HasMessage(capture, Q(u8"Ошибка"), Q(u8"Не могу сохранить файл ") + FromBoardText(nowhere)));
    QVERIFY(form.Modified());
    QCOMPARE(form.CurrentFile(), set);
    QCOMPARE(form.windowTitle(), QStringLiteral("Lentar - ") + FromBoardText(set) + "[*]");
    QCOMPARE(Settings().ProjHistory[1], std::string());

    // Yes to the question, and the save fails again: the window stays open.
    std::filesystem::remove(NativePath(set));
    std::filesystem::create_directory(NativePath(set));  // a folder cannot be replaced
    capture.Clear();
    capture.QueueAnswer(QMessageBox::Yes);
    Action(form, "ExitItem")->trigger();
    QVERIFY(HasMessage(capture, Q(u8"Ошибка"), Q(u8"Не могу сохранить файл ") + FromBoardText(set)));
    QVERIFY(form.isVisible());
    QVERIFY(form.Modified());
  }

  // ---- Recent files and the command line -------------------------------------------------

  void recentListKeepsOneEntryForTheSameNameInAnotherCase() {
    const std::string lower = folder_ + "set.txt";
    const std::string upper = folder_ + "SET.TXT";
    WriteAll(lower, "lower");
    WriteAll(upper, "upper");
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    QVERIFY(Action(form, "EmptyRecentItem")->isVisible());
    QVERIFY(!Action(form, "RecentItem1")->isVisible());

    files.QueueAnswer(lower);
    Action(form, "OpenItem")->trigger();
    files.QueueAnswer(upper);
    Action(form, "OpenItem")->trigger();
    QCOMPARE(Settings().ProjHistory[0], upper);
    QCOMPARE(Settings().ProjHistory[1], std::string());
    QVERIFY(!Action(form, "EmptyRecentItem")->isVisible());
    QVERIFY(Action(form, "RecentItem1")->isVisible());
    QCOMPARE(Action(form, "RecentItem1")->text(), FromBoardText(upper));
    QVERIFY(!Action(form, "RecentItem2")->isVisible());

    // Choosing an entry opens it, after the unsaved-changes question.
    const std::string other = folder_ + "other.txt";
    WriteAll(other, "other");
    form.OpenSetFile(other);
    QCOMPARE(Action(form, "RecentItem1")->text(), FromBoardText(other));
    QCOMPARE(Action(form, "RecentItem2")->text(), FromBoardText(upper));
    TypeAtEnd(form, QStringLiteral("!"));
    capture.QueueAnswer(QMessageBox::Cancel);
    Action(form, "RecentItem2")->trigger();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("other!"));
    capture.QueueAnswer(QMessageBox::No);
    Action(form, "RecentItem2")->trigger();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("upper"));
    QCOMPARE(Settings().ProjHistory[0], upper);
    QCOMPARE(Settings().ProjHistory[1], other);
  }

  void malformedArgumentFallsBackToTheLastSet() {
    const std::string last = folder_ + "last.txt";
    WriteAll(last, "last");
    WriteAll(SettingsFilePath(), "[Settings]\r\nLastProject=" + last + "\r\n");
    MessageCapture capture;
    TMainLentarForm& form = Start(std::string(), folder_ + "a*.txt");
    QCOMPARE(form.CurrentFile(), last);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("last"));
  }

  // ---- Exports ------------------------------------------------------------------------

  void exportToFileWritesTheImageBytes() {
    const std::string set = folder_ + "set.txt";
    const std::string text = Utf8ToCp1251(u8"Привет{[Spd:3]}\r\n{[Sp:4]}мир");
    WriteAll(set, text);
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start(set);
    const std::string bin = folder_ + "out.bin";
    files.QueueAnswer(bin);
    Action(form, "ExportBinaryItem")->trigger();
    QCOMPARE(files.Requests().size(), size_t{1});
    const FileDialogRequest& r = files.Requests()[0];
    QCOMPARE(r.title, Q(u8"Экспорт данных:"));
    QCOMPARE(r.filters, QStringList({Q(u8"Двоичные файлы (*.bin)"), Q(u8"Все файлы (*)")}));
    QCOMPARE(r.defaultExtension, QStringLiteral("bin"));
    QCOMPARE(r.proposedName, folder_ + "set.bin");
    QVERIFY(r.overwritePrompt);
    const CompileResult expected = CompileBoardData(text, 1, 1, 64000);
    QCOMPARE(ReadAll(bin), Bytes(expected.image));
    QVERIFY(ReadAll(bin).size() > 10);
    QVERIFY(capture.Messages().empty());

    // A shorter image truncates the old file.
    Memo(form)->setPlainText(QStringLiteral("ab"));
    files.QueueAnswer(bin);
    Action(form, "ExportBinaryItem")->trigger();
    QCOMPARE(ReadAll(bin), std::string("ab"));

    // A file that cannot be written: the system's reason in the error box.
    const std::string folderTarget = folder_ + "dir.bin";
    std::filesystem::create_directory(NativePath(folderTarget));
    files.QueueAnswer(folderTarget);
    Action(form, "ExportBinaryItem")->trigger();
    QCOMPARE(capture.Messages().size(), size_t{1});
    QCOMPARE(capture.Messages()[0].caption, Q(u8"Ошибка"));
    QVERIFY(!capture.Messages()[0].text.isEmpty());
  }

  void gprsMenuExportStepsTheVersionAndKeepsTheRememberedName() {
    const std::string set = folder_ + "set.txt";
    WriteAll(set, "abc");
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start(set);
    EnsureFolder(folder_ + "old");
    EnsureFolder(folder_ + "out");
    Settings().LastGprsFile = folder_ + "old/pkg.txt";
    Settings().GprsFileVersion = 5;

    const std::string chosen = folder_ + "out/new.txt";
    files.QueueAnswer(chosen);
    Action(form, "ExportGprsItem")->trigger();
    QCOMPARE(files.Requests().size(), size_t{1});
    const FileDialogRequest& r = files.Requests()[0];
    QCOMPARE(r.title, Q(u8"Экспорт данных для GPRS:"));
    QCOMPARE(r.filters, QStringList({Q(u8"Текстовые файлы (*.txt)"), Q(u8"Все файлы (*)")}));
    QCOMPARE(r.defaultExtension, QStringLiteral("txt"));
    QCOMPARE(r.folder, folder_ + "old/");
    QCOMPARE(r.proposedName, std::string("set.txt"));
    QVERIFY(r.overwritePrompt);

    QCOMPARE(Settings().GprsFileVersion, 6u);
    QCOMPARE(Settings().LastGprsFile, folder_ + "out/pkg.txt");
    const std::string file = ReadAll(chosen);
    QCOMPARE(file, Bytes(EncodeGprsPackage(1, reinterpret_cast<const uint8_t*>("abc"), 3, 6)));
    const auto package = UnescapeGprs(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    QVERIFY(package);
    const auto parsed = ParseGprsPackage(package->data(), package->size());
    QVERIFY(parsed);
    QCOMPARE(parsed->version, 6);
    QCOMPARE(Bytes(parsed->image), std::string("abc"));
    QCOMPARE(ReadAll(set), std::string("abc"));  // the set file is untouched

    // Cancelled: no version is taken.
    files.QueueCancel();
    Action(form, "ExportGprsItem")->trigger();
    QCOMPARE(Settings().GprsFileVersion, 6u);
  }

  void aDamagedSettingsFileIsKeptAsideAndTheOperatorTold() {
    const std::string ini = SettingsFilePath();
    const std::string damaged(300, '\0');  // a torn write after a crash
    WriteAll(ini, damaged);
    MessageCapture capture;
    form_ = std::make_unique<TMainLentarForm>(*project_, std::string());
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    bool told = false;
    for (const CapturedMessage& m : capture.Messages())
      told = told || (m.caption == Q(u8"Ошибка") && m.text.contains(Q(u8"повреждён")) &&
                      m.text.contains(QString::fromStdString(ini + ".damaged")));
    QVERIFY(told);
    QCOMPARE(ReadAll(ini + ".damaged"), damaged);
    form_->close();
    form_.reset();
    // The end of the run wrote fresh settings; the damaged file stays aside.
    QVERIFY(ReadAll(ini).find("[Settings]") != std::string::npos);
    QCOMPARE(ReadAll(ini + ".damaged"), damaged);
  }

  // Whatever sits where the settings file or a layout file belongs, the
  // editor starts without waiting on it, and the operator's file is read,
  // left as it was or kept aside, with a message when it was not read.
  void oddFilesAtStartNeverBlockAndAreNeverLost() {
    enum class Kind { Large, Fifo, Folder, Binary, NoSection, OutOfRange };
    enum class Expect { Read, LeftAlone, KeptAside };
    const std::string longText(3 << 20, 'a');  // a long free text: a file of 3 MiB
    const struct Case {
      const char* name;
      Kind kind;
      Expect expect;
    } cases[] = {
        {"over 1 MiB", Kind::Large, Expect::Read},
        {"FIFO", Kind::Fifo, Expect::LeftAlone},
        {"folder", Kind::Folder, Expect::LeftAlone},
        {"binary", Kind::Binary, Expect::KeptAside},
        {"no section", Kind::NoSection, Expect::KeptAside},
        {"font height out of range", Kind::OutOfRange, Expect::Read},
    };
    for (const Case& c : cases) {
      QVERIFY(MakeProgramFolder());
      const std::string ini = SettingsFilePath();
      const std::string lng = IncludeSlash(LangsFolder()) + "x.lng";
      EnsureFolder(LangsFolder());
      std::map<std::string, std::string> content;
      for (const std::string& path : {ini, lng}) {
        switch (c.kind) {
          case Kind::Large:
            if (path == ini) {
              TSettings large;
              DefaultSettings(large);
              large.DispLen = 120;
              large.DialNo = "5551234";
              large.FreeText = longText;
              QVERIFY(WriteSettings(large, ini));
            } else {
              content[path] = "[Settings]\r\nLangID=1049\r\n" + std::string(2 << 20, ';');
            }
            break;
          case Kind::Fifo: QVERIFY(::mkfifo(path.c_str(), 0600) == 0); break;
          case Kind::Folder: QVERIFY(EnsureFolder(path)); break;
          case Kind::Binary:
            content[path] = std::string("\x01\xFF\0\x7F", 4) + std::string(500, '\x80');
            break;
          case Kind::NoSection: content[path] = "DispLen=5\r\nDialNo=1\r\n"; break;
          case Kind::OutOfRange:
            content[path] = "[Settings]\r\nDefFontHeight=99999\r\nDispLen=120\r\nDialNo=5551234\r\n";
            break;
        }
        if (content.count(path)) WriteAll(path, content[path]);
      }
      MessageCapture capture;
      form_ = std::make_unique<TMainLentarForm>(*project_, std::string());
      form_->show();
      QVERIFY2(QTest::qWaitForWindowExposed(form_.get()), c.name);
      // A value put right on reading is no change the operator made.
      QVERIFY2(!form_->Modified(), c.name);
      QStringList told;
      for (const CapturedMessage& m : capture.Messages())
        if (m.text.contains(Q(u8"Файл настроек"))) told << m.text;
      if (c.expect == Expect::Read) {
        QVERIFY2(told.isEmpty(), c.name);
        QCOMPARE(Settings().DispLen, 120);
      } else {
        QVERIFY2(told.size() == 1, c.name);
      }
      form_->close();
      form_.reset();
      std::error_code ec;
      switch (c.expect) {
        case Expect::Read: {
          TSettings after;
          QVERIFY2(ReadSettings(after, ini), c.name);
          QCOMPARE(after.DispLen, 120);
          QCOMPARE(after.DialNo, std::string("5551234"));
          if (c.kind == Kind::Large) QVERIFY2(after.FreeText == longText, c.name);
          else QCOMPARE(after.DefFontHeight, 4);
          break;
        }
        case Expect::LeftAlone:
          QVERIFY2(c.kind == Kind::Fifo ? std::filesystem::is_fifo(ini, ec)
                                        : std::filesystem::is_directory(ini, ec),
                   c.name);
          break;
        case Expect::KeptAside:
          QCOMPARE(ReadAll(ini + ".damaged"), content[ini]);
          break;
      }
      // The layout file is never touched.
      if (c.kind == Kind::Fifo) QVERIFY2(std::filesystem::is_fifo(lng, ec), c.name);
      else if (c.kind == Kind::Folder) QVERIFY2(std::filesystem::is_directory(lng, ec), c.name);
      else QVERIFY2(ReadAll(lng) == content[lng], c.name);
    }
  }

  void gprsExportTakesTheCounterOfTheFileWhenAnotherProgramWentOn() {
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    Settings().GprsFileVersion = 5;
    // The command line handed out up to 40 while the editor was open.
    TSettings stored;
    DefaultSettings(stored);
    stored.GprsFileVersion = 40;
    QVERIFY(WriteSettings(stored, SettingsFilePath()));
    files.QueueAnswer(folder_ + "pkg.txt");
    form.findChild<QPlainTextEdit*>()->setPlainText(QStringLiteral("abc"));
    Action(form, "ExportGprsItem")->trigger();
    QCOMPARE(Settings().GprsFileVersion, 41u);
    TSettings after;
    QVERIFY(ReadSettings(after, SettingsFilePath()));
    QCOMPARE(after.GprsFileVersion, 41u);  // stored at once, not only at the end of the run
  }

  void gprsButtonRemembersTheChosenFileAndWrapsTheVersion() {
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    Memo(form)->setPlainText(QStringLiteral("abc"));
    EnsureFolder(folder_ + "out");
    Settings().LastGprsFile = folder_ + "out/pkg.txt";
    Settings().GprsFileVersion = 0x7FFFFFFE;

    const std::string chosen = folder_ + "next.txt";
    files.QueueAnswer(chosen);
    QTest::mouseClick(form.findChild<QPushButton*>("Button9"), Qt::LeftButton);
    QCOMPARE(files.Requests().size(), size_t{1});
    const FileDialogRequest& r = files.Requests()[0];
    QCOMPARE(r.title, Q(u8"Сохранить данные для GPRS загрузки"));
    QCOMPARE(r.defaultExtension, QStringLiteral("txt"));
    QCOMPARE(r.folder, folder_ + "out/");
    QCOMPARE(r.proposedName, std::string("pkg.txt"));
    QCOMPARE(Settings().GprsFileVersion, 0u);
    QCOMPARE(Settings().LastGprsFile, chosen);
    QCOMPARE(ReadAll(chosen), Bytes(EncodeGprsPackage(1, reinterpret_cast<const uint8_t*>("abc"), 3, 0)));

    // The next press proposes the file just written and steps on.
    files.QueueAnswer(chosen);
    QTest::mouseClick(form.findChild<QPushButton*>("Button9"), Qt::LeftButton);
    QCOMPARE(files.Requests()[1].proposedName, std::string("next.txt"));
    QCOMPARE(files.Requests()[1].folder, folder_);
    QCOMPARE(Settings().GprsFileVersion, 1u);
    QVERIFY(capture.Messages().empty());
  }

  void noExportReplacesTheOpenSet() {
    // The set is named .txt like a GPRS package, and a second name reaches
    // it through a link: both are refused, and no version is taken.
    const std::string set = folder_ + Utf8ToCp1251(u8"витрина.txt");
    WriteAll(set, "abc");
    const std::string link = folder_ + "link.txt";
    std::filesystem::create_symlink(NativePath(set), NativePath(link));
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start(set);
    Settings().LastGprsFile = folder_ + "pkg.txt";
    Settings().GprsFileVersion = 7;
    Memo(form)->setPlainText(QStringLiteral("abcd"));  // unsaved: the file keeps "abc"

    const std::function<void()> exports[] = {
        [&] { Action(form, "ExportBinaryItem")->trigger(); },
        [&] { Action(form, "ExportGprsItem")->trigger(); },
        [&] { QTest::mouseClick(form.findChild<QPushButton*>("Button9"), Qt::LeftButton); },
    };
    for (const std::string& target : {set, link}) {
      for (const auto& run : exports) {
        capture.Clear();
        files.QueueAnswer(target);
        run();
        QCOMPARE(capture.Messages().size(), size_t{1});
        QCOMPARE(capture.Messages()[0].caption, Q(u8"Ошибка"));
        QCOMPARE(capture.Messages()[0].text,
                 Q(u8"Файл ") + FromBoardText(target) +
                     Q(u8" - это открытый набор. Экспорт в него невозможен, выберите другое имя файла."));
        QCOMPARE(ReadAll(set), std::string("abc"));
      }
    }
    QCOMPARE(Settings().GprsFileVersion, 7u);
    QCOMPARE(Settings().LastGprsFile, folder_ + "pkg.txt");

    // Another file in the same folder is written as before.
    capture.Clear();
    files.QueueAnswer(folder_ + "other.txt");
    Action(form, "ExportGprsItem")->trigger();
    QVERIFY(capture.Messages().empty());
    QCOMPARE(Settings().GprsFileVersion, 8u);
  }

  void gprsExportsOfAnEmptySetDoNothing() {
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    Settings().GprsFileVersion = 3;
    Action(form, "ExportGprsItem")->trigger();
    QTest::mouseClick(form.findChild<QPushButton*>("Button9"), Qt::LeftButton);
    QVERIFY(files.Requests().empty());
    QVERIFY(capture.Messages().empty());
    QCOMPARE(Settings().GprsFileVersion, 3u);
  }

  // lentar.ini is written while the editor runs, not only at its end: when
  // the settings dialog is accepted (never when it is cancelled) and soon
  // after the window was moved. The command line started beside the editor
  // reads what the editor uses.
  void settingsReachTheFileWhenAcceptedAndWhenTheWindowMoves() {
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    const auto stored = [] {
      TSettings s;
      ReadSettings(s, SettingsFilePath());
      return s;
    };
    const struct Case {
      const char* button;
      int32_t dataSize;
      bool written;
    } cases[] = {{"cancelButton", 5000, false}, {"okButton", 6000, true}};
    for (const Case& c : cases) {
      OnDialog(QStringLiteral("SetupForm"), [&c](QWidget* d) {
        Child<QLineEdit>(d, "Edit5")->setText(QString::number(c.dataSize));
        Click(d, c.button);
      });
      Action(form, "BoardOptionsItem")->trigger();
      QCOMPARE(stored().OutDataSize == c.dataSize, c.written);
    }
    QVERIFY(form.isVisible());

    form.move(form.pos() + QPoint(37, 21));
    const IntRect moved = WindowGeometryRect(form);
    QCOMPARE(Settings().MainCoor, moved);
    QTRY_COMPARE(stored().MainCoor, moved);
    QCOMPARE(stored().OutDataSize, 6000);
  }

  void oversizeSetShowsTheSizeMessageAndAsksForNoFile() {
    MessageCapture capture;
    FileDialogCapture files;
    TMainLentarForm& form = Start();
    Settings().OutDataSize = 4096;
    Memo(form)->setPlainText(QString(5000, QLatin1Char('a')));
    Settings().GprsFileVersion = 3;
    Action(form, "ExportBinaryItem")->trigger();
    Action(form, "ExportGprsItem")->trigger();
    QTest::mouseClick(form.findChild<QPushButton*>("Button9"), Qt::LeftButton);
    QVERIFY(files.Requests().empty());
    QCOMPARE(capture.Messages().size(), size_t{3});
    for (const CapturedMessage& m : capture.Messages()) {
      QCOMPARE(m.caption, Q(u8"Ошибка"));
      QCOMPARE(m.text, Q(u8"Размер данных (5000) превышает максимальный размер!\n"
                         u8"Наибольший размер: 4096 байт. Он задаётся в \"Настройки\" → "
                         u8"\"Опции табло\" → \"Размер данных\"."));
    }
    QCOMPARE(Settings().GprsFileVersion, 3u);

    // Exactly at the limit is accepted.
    capture.Clear();
    Memo(form)->setPlainText(QString(4096, QLatin1Char('a')));
    files.QueueCancel();
    Action(form, "ExportBinaryItem")->trigger();
    QVERIFY(capture.Messages().empty());
    QCOMPARE(files.Requests().size(), size_t{1});
  }

 private:
  TMainLentarForm& Start(const std::string& lastProject = std::string(),
                         const std::string& argument = std::string()) {
    if (!lastProject.empty()) {
      WriteAll(SettingsFilePath(), "[Settings]\r\nLastProject=" + lastProject + "\r\n");
    }
    form_ = std::make_unique<TMainLentarForm>(*project_, argument);
    form_->show();
    if (!QTest::qWaitForWindowExposed(form_.get())) qWarning("window not exposed");
    // The only message of a start in an empty folder: no font archive.
    if (MessageCapture* capture = MessageCapture::Active()) capture->Clear();
    return *form_;
  }
};

QTEST_MAIN(MainFormFilesTest)
#include "test_mainform_files.moc"
