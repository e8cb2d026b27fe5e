// The font bank dialog "Банки шрифтов": which fonts it lists, which row it
// preselects, what OK returns in its three uses, the sample drawn with the
// selected font, and the sample text kept in the settings.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <optional>

#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/messages.h"
#include "gui/common/tablegrid.h"
#include "gui/markup/bankform.h"
#include "markup/fontarchive_writer.h"
#include "markup/fonts.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

// A font whose "A" is three columns (full, top and bottom dots, full) and
// whose "B" is one full column; other codes have no columns.
TTabFont MakeFont(const std::string& name, int heightBytes, int spacing) {
  GlyphColumnsTable glyphs;
  const int bytes = heightBytes;
  auto column = [&](uint8_t top, uint8_t bottom) {
    std::vector<uint8_t> c(static_cast<size_t>(bytes), 0);
    for (int b = 0; b < bytes; ++b) {
      c[static_cast<size_t>(b)] = b == 0 ? top : (b == bytes - 1 ? bottom : 0);
    }
    if (bytes == 1) c[0] = static_cast<uint8_t>(top | bottom);
    return c;
  };
  auto append = [](std::vector<uint8_t>& glyph, const std::vector<uint8_t>& c) {
    glyph.insert(glyph.end(), c.begin(), c.end());
  };
  append(glyphs['A'], column(0xFF, 0xFF));
  append(glyphs['A'], column(0x01, 0x80));
  append(glyphs['A'], column(0xFF, 0xFF));
  append(glyphs['B'], column(0xFF, 0xFF));
  TTabFont font;
  std::string error;
  if (!BuildTabFont(name, heightBytes, spacing, glyphs, font, error)) qFatal("font: %s", error.c_str());
  return font;
}

QStringList ListedNames(QWidget* dialog) {
  auto* grid = dialog->findChild<TTableGrid*>(QStringLiteral("FontGrid"));
  QStringList names;
  if (!grid || grid->IsEmpty()) return names;
  for (int row = 1; row < grid->RowCount(); ++row) names.append(grid->Cell(0, row));
  return names;
}

}  // namespace

class BankFormTest : public QObject {
  Q_OBJECT

 private:
  TTabFontList bank_;

 private slots:
  void init() {
    Settings() = TSettings{};
    Settings().TestText = "AB";
    bank_.Clear();
    bank_.Add(MakeFont("one", 1, 1));
    bank_.Add(MakeFont("two", 2, 2));
    bank_.Add(MakeFont(Utf8ToCp1251(u8"три"), 1, 0));
    bank_.SetHeight(1);
    bank_.SelectFont(0);
  }

  void listsTheFontsOfTheCurrentHeightAndPreselects() {
    struct Case {
      BankFormMode mode;
      int height;
      int fontNumber;
      QStringList names;
      int selectedRow;
    };
    const Case cases[] = {
        {BankFormMode::Choose, 1, 1, {"one", QStringLiteral("три")}, 1},
        {BankFormMode::Choose, 1, 0, {"one", QStringLiteral("три")}, 0},
        {BankFormMode::Choose, 1, 5, {"one", QStringLiteral("три")}, 0},
        {BankFormMode::Choose, 1, -1, {"one", QStringLiteral("три")}, 0},
        {BankFormMode::ChooseWithRestore, 2, 0, {"two"}, 0},
        {BankFormMode::Browse, 2, 2, {"one", "two", QStringLiteral("три")}, 2},
        {BankFormMode::Choose, 3, 0, {}, -1},
    };
    for (const Case& c : cases) {
      bank_.SetHeight(c.height);
      TBankForm form(bank_, c.mode, c.fontNumber);
      QCOMPARE(form.windowTitle(), QStringLiteral("Банки шрифтов"));
      QCOMPARE(ListedNames(&form), c.names);
      QCOMPARE(form.SelectedNumber(), c.selectedRow);
      QCOMPARE(Button(&form, "cancelButton")->isVisibleTo(&form), c.mode != BankFormMode::Browse);
      QCOMPARE(form.findChild<QCheckBox*>()->isVisibleTo(&form),
               c.mode == BankFormMode::ChooseWithRestore);
    }
  }

  void okReturnsTheSelectedRow() {
    WhenModal([](QWidget* dialog) {
      auto* grid = dialog->findChild<TTableGrid*>(QStringLiteral("FontGrid"));
      grid->SelectRow(2);
      Button(dialog, "okButton")->click();
    });
    QCOMPARE(ShowFontBank(nullptr, bank_, BankFormMode::Choose, 0), std::optional<int>(1));
  }

  void restoreBoxGives255() {
    WhenModal([](QWidget* dialog) {
      auto* box = dialog->findChild<QCheckBox*>();
      QCOMPARE(box->text(), QStringLiteral("Восстановить шрифт по-умолчанию"));
      box->setChecked(true);
      Button(dialog, "okButton")->click();
    });
    QCOMPARE(ShowFontBank(nullptr, bank_, BankFormMode::ChooseWithRestore, 1),
             std::optional<int>(255));
    // Unchecked, the same dialog gives the row.
    WhenModal([](QWidget* dialog) { Button(dialog, "okButton")->click(); });
    QCOMPARE(ShowFontBank(nullptr, bank_, BankFormMode::ChooseWithRestore, 1),
             std::optional<int>(1));
  }

  void cancelBrowseAndEmptyListGiveNothing() {
    WhenModal([](QWidget* dialog) { Button(dialog, "cancelButton")->click(); });
    QCOMPARE(ShowFontBank(nullptr, bank_, BankFormMode::Choose, 1), std::nullopt);
    WhenModal([](QWidget* dialog) { Button(dialog, "okButton")->click(); });
    QCOMPARE(ShowFontBank(nullptr, bank_, BankFormMode::Browse, 1), std::nullopt);
    bank_.SetHeight(4);
    WhenModal([](QWidget* dialog) { Button(dialog, "okButton")->click(); });
    QCOMPARE(ShowFontBank(nullptr, bank_, BankFormMode::Choose, 0), std::nullopt);
  }

  void sampleTextIsShownAndStoredBackOnEveryClose() {
    Settings().TestText = Utf8ToCp1251(u8"Проба");
    QString shown;
    WhenModal([&](QWidget* dialog) {
      auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("SampleEdit"));
      shown = edit->text();
      edit->setText(QStringLiteral("Новый текст"));
      Button(dialog, "cancelButton")->click();
    });
    ShowFontBank(nullptr, bank_, BankFormMode::Choose, 0);
    QCOMPARE(shown, QStringLiteral("Проба"));
    QCOMPARE(Settings().TestText, Utf8ToCp1251(u8"Новый текст"));
  }

  void sampleIsDrawnWithTheSelectedFont() {
    // "AB" in font "one" (spacing 1): A at columns 0-2, a gap, B at column 4.
    TBankForm form(bank_, BankFormMode::Choose, 0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto* picture = form.findChild<QWidget*>(QStringLiteral("SamplePicture"));
    QVERIFY(picture);
    const QImage image = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb green = qRgb(0, 255, 0);
    const QRgb black = qRgb(0, 0, 0);
    const TTabFont& font = bank_.At(0);
    const DotImage dots = RenderText("AB", &font);
    QCOMPARE(dots.width, 6);
    for (int x = 0; x < dots.width + 2; ++x) {
      for (int y = 0; y < 8; ++y) {
        const int px = 2 + x * 3;
        const int py = 3 + y * 3;
        const QRgb expected = dots.Lit(x, y) ? green : black;
        QCOMPARE(image.pixel(px, py), expected);
        QCOMPARE(image.pixel(px + 1, py + 1), expected);
        QCOMPARE(image.pixel(px + 2, py), black);  // the gap
        QCOMPARE(image.pixel(px, py + 2), black);
      }
    }
    QCOMPARE(image.pixel(0, 0), black);

    // Selecting the other font of the height redraws the sample: "три" has
    // no spacing, so B sits right after A.
    form.findChild<TTableGrid*>(QStringLiteral("FontGrid"))->SelectRow(2);
    const QImage second = picture->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(second.pixel(2 + 3 * 3, 3), green);
    QCOMPARE(second.pixel(2 + 4 * 3, 3), black);
  }

  void drawTextWithoutTablesOnlyFillsBlack() {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    TTabFont empty;
    {
      QPainter painter(&image);
      DrawText(painter, "AAAA", &empty, QRect(0, 0, 40, 30), QPoint(2, 3), 2, 1);
    }
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x) QCOMPARE(image.pixel(x, y), qRgb(0, 0, 0));
    }
    {
      QPainter painter(&image);
      DrawText(painter, "AAAA", nullptr, QRect(0, 0, 40, 30), QPoint(2, 3), 2, 1);
    }
    QCOMPARE(image.pixel(3, 4), qRgb(0, 0, 0));
  }
};

QTEST_MAIN(BankFormTest)
#include "test_bankform.moc"
