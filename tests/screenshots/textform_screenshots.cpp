// Screenshot of the free-text window "Текст" with a text and its test line,
// and of it at its minimum size, taken on a real X display. Skipped unless
// LENTAR_SHOTS_DIR names the folder for the PNG files; run under Xvfb, for
// example:
//
//   scripts/screenshots.sh /tmp/shots
//
// or by hand (one command line):
//   LENTAR_SHOTS_DIR=/tmp/shots QT_QPA_PLATFORM=xcb
//     xvfb-run -a -s "-screen 0 1280x800x24" build/bin/textform_screenshots
#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/editorfont.h"
#include "gui/editor/textform.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "screenshots/screenshots.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::shots;

class TextFormScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void freeTextWindow() {
    LENTAR_SHOTS_FOLDER_OR_SKIP(shots);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SetProgramFolder(FromNativePath(dir.path().toStdString()) + "/");
    TSettings& settings = Settings();
    settings = TSettings{};
    settings.FontName = "DejaVu Sans Mono";
    settings.FontSize = 11;
    settings.TextCoor = IntRect{40, 40, 720, 460};
    ApplyEditorFont(settings);
    TRecProject project;

    TTextForm form(project, nullptr);
    form.SetText(Utf8ToCp1251(u8"{[Font:1]}Добро пожаловать!{[Pause:150]}\r\n"
                              u8"{[FCol:2]}Скидки до 50% на всё\r\n"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.findChild<QPushButton*>("Button14")->click();
    Pump(400);
    QVERIFY(CaptureScreen(shots + "/free-text.png"));

    form.resize(300, 80);  // snaps to the minimum
    Pump(400);
    QVERIFY(CaptureScreen(shots + "/free-text-minimum.png"));
    form.hide();
  }
};

QTEST_MAIN(TextFormScreenshots)
#include "textform_screenshots.moc"
