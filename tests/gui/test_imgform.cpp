// The picture editor "Изображение" and its import question "Импорт
// изображения": drawing, the questions of "Отмена" and "Восстан.", import
// and export through the file dialogs, and the main window's "Изображение"
// button replacing the tag at the caret.
//
// Built a second time as imgform_screenshots, its slot
// shotsOfTheEditorAndTheImportQuestion saves pictures of both windows in
// LENTAR_SHOTS_DIR (QWidget::grab; any platform):
//   LENTAR_SHOTS_DIR=/tmp/shots build/bin/imgform_screenshots shotsOfTheEditorAndTheImportQuestion
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>
#include <fstream>

#include "core/atomicfile.h"
#include "gui/editor/imgform.h"
#include "gui/editor/imgimpform.h"
#include "markup/picturefile.h"
#include "markup/compiler.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

const std::array<int32_t, 8> kColours = {0x0000FF, 0x00FF00, 0xFF0000, 0x0000FF,
                                         0x00FF00, 0xFF0000, 0xFFFFFF, 0xFFFFFF};

// Clicks the cell (column, row) of the editor's panel.
void ClickCell(TImgForm& form, int column, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  auto* panel = form.Panel();
  const int pitch = panel->Geometry().pitch;
  QTest::mouseClick(panel, Qt::LeftButton, modifiers, QPoint(column * pitch + pitch / 2, row * pitch + pitch / 2));
}

std::string WriteFile(const std::string& folder, const std::string& name, const std::string& bytes) {
  const std::string path = folder + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// A 5-column, 32-row board picture in BMP form: pixel (x, y) has index
// (y / 4 + x) % 8 over red, green and blue.
std::string PatternBmp() {
  std::vector<uint8_t> pixels(5 * 32);
  for (int x = 0; x < 5; ++x)
    for (int y = 0; y < 32; ++y) pixels[x * 32 + y] = static_cast<uint8_t>((y / 4 + x) % 8);
  return EncodePictureBmp(5, 32, pixels.data(), kColours, 3);
}

#ifdef LENTAR_SCREENSHOT_SLOTS
// Lets the event loop run for about ms milliseconds: the pictures wait for
// the window to settle.
void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}
#endif

}  // namespace

class ImgFormTest : public QObject, private MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    messages_ = std::make_unique<MessageCapture>();
    noDialogs_ = std::make_unique<FileDialogCapture>();
  }
  void cleanup() { TearDown(); }

  void emptyTextStartsWithOneBlankColumn() {
    TImgForm form("", 2, 1, kColours);
    QCOMPARE(form.Picture().width, 1);
    QCOMPARE(form.TagText(), std::string("{[Img:0,0 /]}"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), Q(u8"Изображение"));
    QCOMPARE(Child<QSpinBox>(&form, "WidthEdit")->value(), 1);
    QCOMPARE(Child<QPlainTextEdit>(&form, "CodeEdit")->toPlainText(), QStringLiteral("{[Img:0,0 /]}"));
    QVERIFY(form.width() >= 300 && form.height() >= 300);
  }

  void drawingWithTheFixedPenAndTheCyclingPen() {
    TImgForm form("{[Img:0,0,0,0 /]}", 1, 2, kColours);  // two columns, four colours
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.PenIndex(), 3);  // the highest index on show

    ClickCell(form, 1, 2);
    QCOMPARE(int(form.Picture().Pixel(1, 2)), 3);
    ClickCell(form, 0, 0, Qt::ShiftModifier);  // with a modifier: nothing
    QCOMPARE(int(form.Picture().Pixel(0, 0)), 0);
    form.CellClick(2, 0);  // right of the picture: nothing
    form.CellClick(0, 8);  // below the column
    QCOMPARE(form.TagText(), std::string("{[Img:0,0,4,4 /]}"));

    Child<QRadioButton>(&form, "CyclePenButton")->setChecked(true);
    std::vector<int> seen;
    for (int i = 0; i < 5; ++i) {
      ClickCell(form, 0, 7);
      seen.push_back(form.Picture().Pixel(0, 7));
    }
    QCOMPARE(seen, (std::vector<int>{1, 2, 3, 0, 1}));
    QCOMPARE(Child<QPlainTextEdit>(&form, "CodeEdit")->toPlainText(),
             QString::fromStdString(form.TagText()));
  }

  // With nothing changed, "Отмена" closes without a question.
  void cancelWithoutAChangeAsksNothing() {
    TImgForm form("{[Img:1 /a]}", 1, 1, kColours);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Click(&form, "cancelButton");
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QVERIFY(messages_->Messages().empty());
  }

  void cancelAsksAndNoKeepsTheWindow() {
    TImgForm form("", 2, 1, kColours);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ClickCell(form, 0, 0);
    Click(&form, "cancelButton");  // unanswered: No, the preselected button
    QVERIFY(form.isVisible());
    QCOMPARE(messages_->Messages().size(), size_t{1});
    const CapturedMessage& m = messages_->Messages()[0];
    QCOMPARE(m.caption, Q(u8"Внимание!"));
    QCOMPARE(m.text, Q(u8"Все изменения будут потеряны! Продолжить?"));
    QCOMPARE(m.icon, QMessageBox::Warning);
    QCOMPARE(m.buttons, QMessageBox::Yes | QMessageBox::No);
    messages_->QueueAnswer(QMessageBox::Yes);
    Click(&form, "cancelButton");
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Rejected));
  }

  void rememberRestoreApplyAndWidth() {
    TImgForm form("{[Img:1 /a]}", 1, 1, kColours);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ClickCell(form, 0, 7);  // 129
    Click(&form, "RestoreButton");  // No: nothing
    QCOMPARE(form.TagText(), std::string("{[Img:129 /a]}"));
    QCOMPARE(messages_->Messages().back().text, Q(u8"Будет восстановлено запомненное состояние! Продолжить?"));
    messages_->QueueAnswer(QMessageBox::Yes);
    Click(&form, "RestoreButton");  // back to the state on opening
    QCOMPARE(form.TagText(), std::string("{[Img:1 /a]}"));

    Child<QSpinBox>(&form, "WidthEdit")->setValue(3);
    QCOMPARE(form.TagText(), std::string("{[Img:1,0,0 /a]}"));
    Click(&form, "RememberButton");
    Child<QPlainTextEdit>(&form, "CodeEdit")->setPlainText(QStringLiteral(" {[img: 7, 8 /b c]} "));
    Click(&form, "ApplyButton");
    QCOMPARE(form.TagText(), std::string("{[Img:7,8 /b c]}"));
    QCOMPARE(Child<QLineEdit>(&form, "NameEdit")->text(), QStringLiteral("b c"));
    QCOMPARE(Child<QSpinBox>(&form, "WidthEdit")->value(), 2);
    messages_->QueueAnswer(QMessageBox::Yes);
    Click(&form, "RestoreButton");
    QCOMPARE(form.TagText(), std::string("{[Img:1,0,0 /b c]}"));  // the name stays as it is

    auto* name = Child<QLineEdit>(&form, "NameEdit");
    name->setText(Q(u8"лого"));
    emit name->textEdited(name->text());  // as typing ends
    QCOMPARE(form.TagText(), std::string("{[Img:1,0,0 /") + Utf8ToCp1251(u8"лого") + "]}");
  }

  void shiftsRotationAndFill() {
    TImgForm form("{[Img:1,2,0 /]}", 1, 1, kColours);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    Click(&form, "RightButton");
    QCOMPARE(form.TagText(), std::string("{[Img:0,1,2 /]}"));
    Click(&form, "RightButton");
    Click(&form, "LeftButton");
    Click(&form, "LeftButton");
    QCOMPARE(form.TagText(), std::string("{[Img:1,2,0 /]}"));
    Click(&form, "DownButton");
    QCOMPARE(form.TagText(), std::string("{[Img:2,4,0 /]}"));
    Click(&form, "UpButton");
    QCOMPARE(form.TagText(), std::string("{[Img:1,2,0 /]}"));

    // A quarter turn counter-clockwise of the two pixels (0,0) and (1,1):
    // two columns, centred in the eight rows.
    Child<QRadioButton>(&form, "Angle90Button")->setChecked(true);
    Click(&form, "RotateButton");
    QCOMPARE(form.TagText(), std::string("{[Img:16,8 /]}"));
    QCOMPARE(Child<QSpinBox>(&form, "WidthEdit")->value(), 2);

    OnDialog(QStringLiteral("ColorForm"), [](QWidget* dialog) {
      QCOMPARE(dialog->windowTitle(), Q(u8"Цвет заливки"));
      Click(dialog, "okButton");
    });
    Click(&form, "FillButton");
    QCOMPARE(form.TagText(), std::string("{[Img:255,255 /]}"));
  }

  void importKeepsRowsFromTheStartRowAndNamesThePicture() {
    const std::string path = WriteFile(folder_, "logo.bmp", PatternBmp());
    TImgForm form("", 2, 3, kColours);  // H = 16
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ImportQuestionCapture questions;
    questions.QueueAnswer(ImportMode{false, 8});
    noDialogs_->QueueAnswer(path);
    Click(&form, "FromFileButton");
    QCOMPARE(questions.Questions(), (std::vector<std::pair<int, int>>{{16, 32}}));
    QVERIFY(messages_->Messages().empty());
    const FileDialogRequest& request = noDialogs_->Requests().back();
    QCOMPARE(request.title, Q(u8"Загрузить рисунок из файла:"));
    QCOMPARE(request.filters.size(), qsizetype{8});
    QCOMPARE(request.filters[0], Q(u8"Файлы рисунков (*.bmp *.jpg *.jpeg *.png *.gif *.webp)"));
    QCOMPARE(form.Picture().width, 5);
    QCOMPARE(form.Picture().name, std::string("logo.bmp"));
    for (int x = 0; x < 5; ++x)
      for (int y = 0; y < 16; ++y) QCOMPARE(int(form.Picture().Pixel(x, y)), ((y + 8) / 4 + x) % 8);
    QCOMPARE(Settings().ImageDir, folder_);

    // "Сжать": 5 x 32 to 16 rows is 2.5 columns, rounded to even.
    questions.QueueAnswer(ImportMode{true, 0});
    noDialogs_->QueueAnswer(path);
    Click(&form, "FromFileButton");
    QCOMPARE(form.Picture().width, 2);

    // Cancelling the question changes nothing.
    const std::string before = form.TagText();
    noDialogs_->QueueAnswer(path);
    Click(&form, "FromFileButton");
    QCOMPARE(form.TagText(), before);
  }

  void importFailuresShowTheirMessageAndChangeNothing() {
    TImgForm form("{[Img:5,6 /keep]}", 1, 1, kColours);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const std::string jpeg = WriteFile(folder_, "cut.jpg", "\xFF\xD8\xFF\xE0\x00\x10JFIF");
    const struct {
      std::string path;
      const char8_t* message;
    } cases[] = {
        {WriteFile(folder_, "photo.tif", "x"),
         u8"Неизвестный тип файла!\nЧитаются файлы BMP, JPG, PNG, GIF, WebP, ICO, TXT."},
        {WriteFile(folder_, "photo.png", "x"), u8"Ошибка чтения файла!"},
        {WriteFile(folder_, "huge.gif", std::string("GIF89a\xFF\xFF\xFF\xFF\0\0\0,\0\0\0\0\xFF\xFF\xFF\xFF\0\2\0", 25)),
         u8"Ошибка чтения файла!"},
        {jpeg, u8"Ошибка чтения файла!"},
        {WriteFile(folder_, "bad.bmp", "BM"), u8"Ошибка чтения файла!"},
        {WriteFile(folder_, "bad.ico", std::string(6, '\0')), u8"Ошибка чтения файла!"},
        {folder_ + "missing.bmp", u8"Ошибка чтения файла!"},
    };
    for (const auto& c : cases) {
      messages_->Clear();
      noDialogs_->QueueAnswer(c.path);
      Click(&form, "FromFileButton");
      QCOMPARE(messages_->Messages().size(), size_t{1});
      QCOMPARE(messages_->Messages()[0].caption, Q(u8"Ошибка"));
      QCOMPARE(messages_->Messages()[0].text, Q(c.message));
      QCOMPARE(form.TagText(), std::string("{[Img:5,6 /keep]}"));
    }

    // A text file holds a tag.
    noDialogs_->QueueAnswer(WriteFile(folder_, "tag.txt", "{[Img:9 /from text]}\r\n"));
    Click(&form, "FromFileButton");
    QCOMPARE(form.TagText(), std::string("{[Img:9 /from text]}"));
  }

  void importReadsPngAndWebPAsTheBmp() {
    QImage image(5, 32, QImage::Format_RGB32);
    const std::vector<uint32_t> palette = PicturePalette(kColours, 3);
    for (int x = 0; x < 5; ++x)
      for (int y = 0; y < 32; ++y) {
        const uint32_t c = palette[static_cast<size_t>((y / 4 + x) % 8)];
        image.setPixel(x, y, qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
      }
    const QString png = QString::fromStdString(folder_ + "logo.png");
    const QString webp = QString::fromStdString(folder_ + "logo.webp");
    QVERIFY(image.save(png, "png"));
    QVERIFY(image.save(webp, "webp", 100));
    const std::string bmp = WriteFile(folder_, "logo.bmp", PatternBmp());
    TImgForm form("", 2, 3, kColours);  // H = 16
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ImportQuestionCapture questions;
    questions.QueueAnswer(ImportMode{false, 8});
    noDialogs_->QueueAnswer(bmp);
    Click(&form, "FromFileButton");
    const PictureData want = form.Picture();
    for (const QString& path : {png, webp}) {
      questions.QueueAnswer(ImportMode{false, 8});
      noDialogs_->QueueAnswer(path.toStdString());
      Click(&form, "FromFileButton");
      QVERIFY(messages_->Messages().empty());
      QCOMPARE(form.Picture().width, want.width);
      QVERIFY(form.Picture().pixels == want.pixels);
      QCOMPARE(QString::fromStdString(form.Picture().name), QFileInfo(path).fileName());
    }
    QCOMPARE(questions.Questions().size(), size_t{3});
  }

  void exportWritesTheBmpOrSaysWhyNot() {
    TImgForm form("{[Img:1,128 /my: logo]}", 2, 1, kColours);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const std::string path = folder_ + "out.bmp";
    noDialogs_->QueueAnswer(path);
    Click(&form, "ToFileButton");
    const FileDialogRequest& request = noDialogs_->Requests().back();
    QCOMPARE(request.title, Q(u8"Сохранить рисунок как:"));
    QCOMPARE(request.proposedName, std::string("my_ logo.bmp"));
    QCOMPARE(request.defaultExtension, QStringLiteral("bmp"));
    QVERIFY(messages_->Messages().empty());
    QImage written(QString::fromStdString(path));
    QCOMPARE(written.size(), QSize(1, 16));
    QCOMPARE(written.pixel(0, 0), qRgb(255, 0, 0));
    QCOMPARE(written.pixel(0, 1), qRgb(0, 0, 0));

    const std::string nowhere = folder_ + "no/such/folder/out.bmp";
    noDialogs_->QueueAnswer(nowhere);
    Click(&form, "ToFileButton");
    QCOMPARE(messages_->Messages().size(), size_t{1});
    QCOMPARE(messages_->Messages()[0].text, Q(u8"Ошибка записи файла ") + QString::fromStdString(nowhere));
  }

  void importQuestionOffersShrinkOrStretchAndTheStartRow() {
    TImgImpForm taller(16, 40);
    QCOMPARE(taller.windowTitle(), Q(u8"Импорт изображения"));
    QCOMPARE(taller.scaleButton()->text(), Q(u8"Сжать"));
    QCOMPARE(taller.keepButton()->text(), Q(u8"Оставить как есть"));
    QVERIFY(!taller.startRowEdit()->isHidden());
    QCOMPARE(taller.startRowEdit()->maximum(), 24);
    taller.keepButton()->setChecked(true);
    taller.startRowEdit()->setValue(30);
    QCOMPARE(taller.Mode().scale, false);
    QCOMPARE(taller.Mode().startRow, 24);
    QCOMPARE(Child<QLabel>(&taller, "Label2")->text(), QStringLiteral("40"));

    TImgImpForm shorter(32, 20);
    QCOMPARE(shorter.scaleButton()->text(), Q(u8"Растянуть"));
    QVERIFY(shorter.startRowEdit()->isHidden());
    QVERIFY(shorter.Mode().scale);
  }

  void mainWindowReplacesThePictureTagAtTheCaret() {
    ShowMainForm();
    Settings().DefFontHeight = 2;
    Settings().ColorChannelCount = 1;
    Memo(*form_)->setPlainText(QStringLiteral("ab{[Img:1,0 /x]}cd"));
    SetCaret(*form_, 5);
    auto* button = form_->findChild<QPushButton*>(QStringLiteral("Button2"));
    QVERIFY(button && button->isEnabled());
    bool seen = false;
    OnDialog(QStringLiteral("ImgForm"), [&seen](QWidget* dialog) {
      seen = true;
      auto* form = static_cast<TImgForm*>(dialog);
      QCOMPARE(form->TagText(), std::string("{[Img:1,0 /x]}"));
      ClickCell(*form, 0, 15);
      Click(dialog, "okButton");
    });
    button->click();
    QVERIFY(seen);
    QCOMPARE(Memo(*form_)->toPlainText(), QStringLiteral("ab{[Img:1,128 /x]}cd"));
    QCOMPARE(Caret(*form_), 5);

    // Cancelled (and confirmed): the text stays.
    messages_->QueueAnswer(QMessageBox::Yes);
    OnDialog(QStringLiteral("ImgForm"), [](QWidget* dialog) {
      ClickCell(*static_cast<TImgForm*>(dialog), 0, 0);
      Click(dialog, "cancelButton");
    });
    button->click();
    QCOMPARE(Memo(*form_)->toPlainText(), QStringLiteral("ab{[Img:1,128 /x]}cd"));
  }

  // A new picture leaves the caret after its tag, as a new "Пробелы" tag
  // does: the next letter typed goes beside the picture, never into its tag
  // (which would drop the picture from the compiled set).
  void aNewPictureLeavesTheCaretAfterItsTag() {
    ShowMainForm();
    Settings().DefFontHeight = 1;
    Settings().ColorChannelCount = 1;
    Memo(*form_)->setPlainText(QStringLiteral("abcd"));
    SetCaret(*form_, 2);
    OnDialog(QStringLiteral("ImgForm"), [](QWidget* dialog) {
      ClickCell(*static_cast<TImgForm*>(dialog), 0, 0);
      Click(dialog, "okButton");
    });
    form_->findChild<QPushButton*>(QStringLiteral("Button2"))->click();
    const QString text = Memo(*form_)->toPlainText();
    QVERIFY2(text.startsWith(QStringLiteral("ab{[Img:")) && text.endsWith(QStringLiteral("]}cd")),
             qPrintable(text));
    QCOMPARE(Caret(*form_), static_cast<int>(text.size()) - 2);
    const size_t before = CompileBoardData(Memo(*form_)->toPlainText().toStdString(), 1, 1, 4096).length();
    QTest::keyClicks(Memo(*form_), QStringLiteral("x"));
    QCOMPARE(Memo(*form_)->toPlainText(), text.chopped(2) + QStringLiteral("xcd"));
    QCOMPARE(CompileBoardData(Memo(*form_)->toPlainText().toStdString(), 1, 1, 4096).length(),
             before + 1);
  }

#ifdef LENTAR_SCREENSHOT_SLOTS
  void shotsOfTheEditorAndTheImportQuestion() {
    const QString shots = qEnvironmentVariable("LENTAR_SHOTS_DIR");
    if (shots.isEmpty()) QSKIP("set LENTAR_SHOTS_DIR for the pictures of the editor");
    QDir().mkpath(shots);
    // A photo-like picture: sky, sun, hills and a house, saved as JPEG.
    QImage photo(640, 480, QImage::Format_RGB32);
    QPainter p(&photo);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(40, 90, 200));
    sky.setColorAt(1, QColor(170, 210, 255));
    p.fillRect(photo.rect(), sky);
    p.setBrush(QColor(255, 220, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(500, 110), 60, 60);
    p.setBrush(QColor(40, 150, 50));
    p.drawEllipse(QPoint(150, 520), 400, 240);
    p.setBrush(QColor(20, 110, 40));
    p.drawEllipse(QPoint(560, 560), 330, 250);
    p.setBrush(QColor(200, 40, 30));
    p.drawRect(240, 250, 120, 90);
    p.drawPolygon(QPolygon({QPoint(225, 250), QPoint(300, 190), QPoint(375, 250)}));
    p.end();
    const QString file = QDir(QString::fromStdString(folder_)).filePath(QStringLiteral("photo.jpg"));
    QVERIFY(photo.save(file, "JPG", 90));

    TImgImpForm question(32, 480);
    question.show();
    QVERIFY(QTest::qWaitForWindowExposed(&question));
    Pump(100);
    QVERIFY(question.grab().save(shots + QStringLiteral("/import-question.png")));
    question.close();

    TImgForm form("", 4, 3, kColours);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ImportQuestionCapture questions;
    questions.QueueAnswer(ImportMode{true, 0});
    noDialogs_->QueueAnswer(file.toStdString());
    Click(&form, "FromFileButton");
    QCOMPARE(form.Picture().width, 43);
    Child<QCheckBox>(&form, "BorderBox")->setChecked(true);
    Pump(200);
    QVERIFY(form.grab().save(shots + QStringLiteral("/editor-photo.png")));
  }
#endif
};

QTEST_MAIN(ImgFormTest)
#include "test_imgform.moc"
