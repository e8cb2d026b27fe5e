// Screenshots of the layout correction dialogs, taken on a real X display:
// the list of layout files with the layout editor over it, the rule editor
// with its character table over that, and the key reader. Skipped unless
// LENTAR_SHOTS_DIR names the folder for the PNG files; run under Xvfb, for
// example:
//
//   scripts/screenshots.sh /tmp/shots
//
// or by hand (one command line):
//   LENTAR_SHOTS_DIR=/tmp/shots QT_QPA_PLATFORM=xcb
//     xvfb-run -a -s "-screen 0 1280x800x24" build/bin/layouts_screenshots
//
// The whole screen is captured, so the stacked dialogs show as the operator
// sees them.
#include <QApplication>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "core/keycorr.h"
#include "core/paths.h"
#include "core/settings.h"
#include "gui/common/editorfont.h"
#include "gui/common/tablegrid.h"
#include "gui/layouts/langform.h"
#include "screenshots/screenshots.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::shots;
using namespace lentar::gui::testing;

namespace {

// Runs then after about ms milliseconds of event loop (window painting).
void After(int ms, std::function<void()> then) { QTimer::singleShot(ms, then); }

}  // namespace

class LayoutsScreenshots : public QObject {
  Q_OBJECT

 private slots:
  void layoutDialogs() {
    LENTAR_SHOTS_FOLDER_OR_SKIP(shots);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SetProgramFolder(FromNativePath(dir.path().toStdString()) + "/");
    EnsureFolder(LangsFolder());
    TSettings settings;
    settings.FontName = "DejaVu Sans Mono";
    settings.FontSize = 11;
    ApplyEditorFont(settings);

    TReplaceDefines defines;
    TReplaceCharList* russian = defines.AddList();
    russian->LangID = 1049;
    const TReplaceChar rules[] = {{70, 2, 0xC0, 0x0410}, {188, 0, 0xE1, 0x0431},
                                  {188, 1, 0xC1, 0x0411}, {192, 2, 0xB8, 0x0451}};
    for (const TReplaceChar& r : rules) *russian->AddRule() = r;
    QVERIFY(russian->SaveToFile(LangsFolder() + "russian.lng"));
    TReplaceCharList* kazakh = defines.AddList();
    kazakh->LangID = 1087;
    *kazakh->AddRule() = {50, 0, 0xBA, 0x04D9};
    QVERIFY(kazakh->SaveToFile(LangsFolder() + "kazakh.lng"));

    QStringList taken;
    auto shoot = [&](const QString& name) {
      if (CaptureScreen(shots + "/" + name)) taken << name;
    };
    OnDialog(QStringLiteral("LangForm"), [&](QWidget* langs) {
      langs->move(40, 40);
      Child<TTableGrid>(langs, "StringGrid1")->SelectRow(1);
      After(400, [&, langs] {
        shoot(QStringLiteral("layouts-list.png"));
        OnDialog(QStringLiteral("LayoutForm"), [&](QWidget* layout) {
          layout->move(120, 120);
          Child<TTableGrid>(layout, "StringGrid1")->SelectRow(2);
          After(400, [&, layout] {
            shoot(QStringLiteral("layout-rules.png"));
            OnDialog(QStringLiteral("KeyForm"), [&](QWidget* key) {
              key->move(520, 60);
              After(400, [&, key] {
                shoot(QStringLiteral("key-rule.png"));
                After(100, [&, key] {
                  OnDialog(QStringLiteral("ReadKeyForm"), [&](QWidget* read) {
                    After(400, [&, read] {
                      shoot(QStringLiteral("read-key.png"));
                      read->close();
                    });
                  });
                  Click(key, "Button1");
                  Click(key, "cancelButton");
                });
              });
            });
            Click(layout, "Button2");
            After(100, [layout] { Click(layout, "cancelButton"); });
          });
        });
        Click(langs, "Button2");
        After(100, [langs] { Click(langs, "Button4"); });
      });
    });
    ManageLayouts(nullptr, defines);
    QCOMPARE(taken.size(), 4);
  }
};

QTEST_MAIN(LayoutsScreenshots)
#include "layouts_screenshots.moc"
