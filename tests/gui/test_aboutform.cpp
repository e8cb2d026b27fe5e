// The about box: credits from vendor.ini and the fixed description, the
// frame painted at a scroll offset, the wrap-around, the animation thread and
// closing by key or double click.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <fstream>

#include "core/paths.h"
#include "core/textutil.h"
#include "gui/about/aboutform.h"

using namespace lentar;
using namespace lentar::gui;

namespace {

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(NativePath(path), std::ios::binary);
  out << bytes;
}

const QStringList kDescriptionTail = {
    QStringLiteral("Поддержка шрифтов высотой 8,16,24 и 32 пиксела"),
    QStringLiteral("Поддержка цвета - до 8 цветовых каналов на пиксел"),
    QStringLiteral("Импорт изображений из bmp, jpg и ico файлов")};

// Pixels of the text colour (pure blue-ish) in a band of rows.
int BluePixels(const QImage& image, int top, int bottom) {
  int count = 0;
  for (int y = std::max(top, 0); y < std::min(bottom, image.height()); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.blue() > 150 && c.red() < 100 && c.green() < 100) ++count;
    }
  }
  return count;
}

}  // namespace

class AboutFormTest : public QObject {
  Q_OBJECT

 private slots:
  void creditsFromVendorFileThenDescription() {
    struct Case {
      const char* name;
      std::string file;  // nullptr-like: "\x7f" means no file
      QStringList vendor;
    };
    const Case cases[] = {
        {"missing", "\x7f", {}},
        {"empty", "", {}},
        {"lines", Utf8ToCp1251(u8"ООО «Дилер»\r\nТел. 123-45-67\nlast"),
         {QStringLiteral("ООО «Дилер»"), QStringLiteral("Тел. 123-45-67"), "last"}},
        {"lone CR and controls", std::string("a\rb\x01\tc\r\n\r\n"), {"a", "b c", ""}},
        {"binary", std::string("\0\0\xff\xfe\x98\n", 6), {QStringLiteral("яю\uFFFD")}},
    };
    for (const Case& c : cases) {
      QTemporaryDir dir;
      const std::string folder = FromNativePath(dir.path().toStdString()) + "/";
      if (c.file != "\x7f") WriteAll(folder + "vendor.ini", c.file);
      const QStringList lines = CreditLines(folder);
      QVERIFY2(lines.size() == c.vendor.size() + 7, c.name);
      QCOMPARE(lines.mid(0, c.vendor.size()), c.vendor);
      QCOMPARE(lines[c.vendor.size()], QString());
      QVERIFY(!lines[c.vendor.size() + 1].isEmpty());  // product
      QCOMPARE(lines[c.vendor.size() + 2], QStringLiteral("Версия " LENTAR_VERSION));
      QCOMPARE(lines[c.vendor.size() + 3], QString());
      QCOMPARE(lines.mid(c.vendor.size() + 4), kDescriptionTail);
    }
  }

  void hugeVendorFileIsCut() {
    QTemporaryDir dir;
    const std::string folder = FromNativePath(dir.path().toStdString()) + "/";
    std::string big;
    for (int i = 0; i < 100000; ++i) big += "line\r\n";
    WriteAll(folder + "vendor.ini", big);
    const QStringList lines = CreditLines(folder);
    QVERIFY(lines.size() <= 1000 + 7);
    QCOMPARE(lines.last(), kDescriptionTail.last());
  }

  void frameAtOffsets() {
    TAboutForm form(QStringList{"First line", "Second line", "Third"});
    QCOMPARE(form.windowTitle(), QStringLiteral("О программе"));
    QVERIFY(form.LinePitch() > 10);
    const int pitch = form.LinePitch();

    // At the start offset every line is still below the text area.
    form.SetOffset(TAboutForm::kStartOffset);
    QImage frame = form.PaintFrame();
    QCOMPARE(BluePixels(frame, 0, 205), 0);

    // Offset 0: the first line at the top of the area, three lines drawn.
    form.SetOffset(0);
    frame = form.PaintFrame();
    QVERIFY(BluePixels(frame, 2, 2 + pitch) > 0);
    QVERIFY(BluePixels(frame, 2 + pitch, 2 + 2 * pitch) > 0);
    QVERIFY(BluePixels(frame, 2 + 3 * pitch, 205) == 0);

    // Offset of one pitch: the first line has gone, the second is on top.
    form.SetOffset(pitch);
    frame = form.PaintFrame();
    QVERIFY(BluePixels(frame, 2, 2 + pitch) > 0);
    QVERIFY(BluePixels(frame, 2 + 2 * pitch, 205) == 0);

    // Offset -100: the first line is half way down the area.
    form.SetOffset(-100);
    frame = form.PaintFrame();
    QCOMPARE(BluePixels(frame, 0, 100), 0);
    QVERIFY(BluePixels(frame, 102, 102 + pitch) > 0);

    // Past the last line the text starts again from below.
    form.SetOffset(pitch * 3);
    form.PaintFrame();
    QCOMPARE(form.Offset(), pitch * 3);
    form.SetOffset(pitch * 4);
    frame = form.PaintFrame();
    QCOMPARE(form.Offset(), TAboutForm::kStartOffset);
    QCOMPARE(BluePixels(frame, 0, 205), 0);
  }

  void animationRunsWhileShown() {
    TAboutForm form(CreditLines("/nonexistent-folder/"));
    QVERIFY(!form.Animating());
    form.show();
    QVERIFY(form.Animating());
    const int start = form.Offset();
    QCOMPARE(start, TAboutForm::kStartOffset);
    QTRY_VERIFY(form.Offset() > start + 1);
    form.hide();
    QVERIFY(!form.Animating());
    const int stopped = form.Offset();
    QTest::qWait(120);
    QCOMPARE(form.Offset(), stopped);
  }

  void anyKeyOrDoubleClickCloses() {
    for (int way = 0; way < 3; ++way) {
      TAboutForm form(QStringList{"x"});
      QTimer::singleShot(0, [&form, way] {
        QVERIFY(QApplication::activeModalWidget() == &form);
        QWidget* panel = form.findChild<QWidget*>(QStringLiteral("MyPanel"));
        if (way == 0) QTest::keyClick(&form, Qt::Key_Space);
        if (way == 1) QTest::keyClick(&form, Qt::Key_A);
        if (way == 2) QTest::mouseDClick(panel, Qt::LeftButton);
      });
      form.exec();
      QVERIFY(!form.isVisible());
      QVERIFY(!form.Animating());
    }
  }
};

QTEST_MAIN(AboutFormTest)
#include "test_aboutform.moc"
