// Screenshots of the main window with a Cyrillic set (tags coloured, the
// status bar), of its preview running, of the open-file dialog and of the
// preview of an empty board, taken on a real X display. Skipped unless LENTAR_SHOTS_DIR names
// the folder for the PNG files; run under Xvfb, for example:
//
//   scripts/screenshots.sh /tmp/shots
//
// or by hand (one command line):
//   LENTAR_SHOTS_DIR=/tmp/shots QT_QPA_PLATFORM=xcb
//     xvfb-run -a -s "-screen 0 1280x800x24" build/bin/mainform_screenshots
//
// The font archive is the one the build puts beside the binaries.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QPlainTextEdit>
#include <QScreen>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/messages.h"
#include "gui/common/qttranslations.h"
#include "gui/editor/mainlentarform.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "screenshots/screenshots.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::shots;

class MainFormScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void mainWindowAndRunningPreview() {
    LENTAR_SHOTS_FOLDER_OR_SKIP(shots);
    const QString archive = QCoreApplication::applicationDirPath() + "/Fonts/default.tfa";
    QVERIFY2(QFile::exists(archive), "build the target lentar_default_fonts first");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string folder = FromNativePath(dir.path().toStdString()) + "/";
    SetProgramFolder(folder);
    EnsureFolder(FontsFolder());
    QVERIFY(QFile::copy(archive, QString::fromStdString(NativePath(FontsFolder()).string()) +
                                     "default.tfa"));
    const std::string set = folder + Utf8ToCp1251(u8"Витрина.txt");
    {
      std::ofstream out(NativePath(set), std::ios::binary);
      out << Utf8ToCp1251(
          u8"{[Font:1]}{[FCol:1]}Добро пожаловать!{[Pause:150]} {[FCol:2]}Скидки до 50% "
          u8"на всё{[Sp:12]}{[FCol:3]}Открыто с 9:00 до 21:00\r\n"
          u8"{[Font:0]}Тел. 8 (800) 555-35-35 {[Spd:2]}Ждём вас!\r\n"
          u8"&#171;Ёлки&#187; {[Speed:3]}{[Eff:2,100,0,0,4]}{[Par:0,40]} {[Blink:50");
    }
    {
      std::ofstream ini(NativePath(SettingsFilePath()), std::ios::binary);
      ini << "[Settings]\r\nMainCoor=20,20,860,560\r\nDisplayCoor=8,590,1270,790\r\n"
             "DispLen=128\r\nDefFontHeight=2\r\nColorChannelCount=2\r\nSpeed=3\r\n"
             "FontName=DejaVu Sans Mono\r\nFontSize=12\r\nLastProject="
          << set << "\r\n";
    }

    InstallQtTranslations(*QCoreApplication::instance());  // as the editor does
    MessageCapture capture;
    TRecProject project;
    TMainLentarForm form(project, std::string());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY2(capture.Messages().empty(),
             qPrintable(capture.Messages().empty() ? QString() : capture.Messages()[0].text));
    auto* memo = form.findChild<QPlainTextEdit*>("Memo1");
    memo->moveCursor(QTextCursor::End);
    Pump(500);
    QVERIFY(CaptureScreen(shots + "/main-window.png"));

    bool captured = false;
    QTimer::singleShot(2500, [&] {
      captured = CaptureScreen(shots + "/emulation-running.png");
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QStringLiteral("RForm") && w->isVisible()) w->close();
      }
    });
    form.findChild<QPushButton*>("Button10")->click();
    QTRY_VERIFY_WITH_TIMEOUT(captured && form.isEnabled(), 10000);  // the preview has ended
    QVERIFY(capture.Messages().empty());

    // The open-file dialog, as Qt draws it where the desktop offers none.
    captured = false;
    QTimer::singleShot(800, [&] {
      captured = CaptureScreen(shots + "/open-dialog.png");
      if (QWidget* dialog = QApplication::activeModalWidget()) {
        static_cast<QDialog*>(dialog)->reject();
      }
    });
    form.findChild<QAction*>("OpenItem")->trigger();
    QVERIFY(captured);

    // The preview of an empty board: the LEDs that are off still show.
    form.findChild<QAction*>("NewItem")->trigger();
    captured = false;
    QTimer::singleShot(800, [&] {
      captured = CaptureScreen(shots + "/emulation-empty.png");
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QStringLiteral("RForm") && w->isVisible()) w->close();
      }
    });
    form.findChild<QPushButton*>("Button10")->click();
    Pump(1000);  // an empty set may end its run at once; the window stays
    QVERIFY(captured);
    form.hide();
  }
};

QTEST_MAIN(MainFormScreenshots)
#include "mainform_screenshots.moc"
