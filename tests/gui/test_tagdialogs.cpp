// The tag insertion dialogs (effects, parameters, colours, channel colours,
// the symbol table) on their own and behind the main window's tag buttons.
// Modal dialogs are driven from the event loop as the operator would: a timer
// finds the dialog (QApplication::activeModalWidget) and fills it in.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/paths.h"
#include "core/settings.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/editor/mainlentarform.h"
#include "gui/markup/colorform.h"
#include "gui/markup/effform.h"
#include "gui/markup/parsetform.h"
#include "gui/markup/setcolorform.h"
#include "gui/markup/symbviewform.h"
#include "markup/fonts.h"
#include "markup/project.h"
#include "markup/tagtexts.h"
#include "support/gui_test_support.h"

using namespace lentar;
using namespace lentar::gui;
using namespace lentar::gui::testing;

namespace {

// A one-byte-high font: every glyph one lit column, except the digits, which
// are `digitColumns` lit columns wide, the space (three blank columns) and
// "A" (a small triangle).
TTabFont TestFont(const std::string& name, int digitColumns) {
  TTabFont font;
  font.FontName = name;
  font.HeightBytes = 1;
  font.CharSpacing = 1;
  font.GlyphOffsets.assign(256, 0);
  font.GlyphData = {1, 0x7E};
  font.GlyphOffsets['0'] = static_cast<uint16_t>(font.GlyphData.size());
  font.GlyphData.push_back(static_cast<uint8_t>(digitColumns));
  font.GlyphData.insert(font.GlyphData.end(), static_cast<size_t>(digitColumns), 0xFF);
  for (int d = 1; d < 10; ++d) font.GlyphOffsets['0' + d] = font.GlyphOffsets['0'];
  font.GlyphOffsets[' '] = static_cast<uint16_t>(font.GlyphData.size());
  font.GlyphData.insert(font.GlyphData.end(), {3, 0, 0, 0});
  font.GlyphOffsets['A'] = static_cast<uint16_t>(font.GlyphData.size());
  font.GlyphData.insert(font.GlyphData.end(), {5, 0xF0, 0x2C, 0x23, 0x2C, 0xF0});
  return font;
}

}  // namespace

class TagDialogsTest : public QObject, private MainWindowFixture {
  Q_OBJECT

 private slots:
  void init() {
    QVERIFY(MakeProgramFolder());
    messages_ = std::make_unique<MessageCapture>();
    noDialogs_ = std::make_unique<FileDialogCapture>();
  }

  void cleanup() { TearDown(); }

  // ---- TEffForm ---------------------------------------------------------------------------

  void effectJumpTagOpensTheFramePageFilledIn() {
    TEffForm form("{[Jmp:12,1]}");
    QCOMPARE(form.windowTitle(), Q(u8"Параметры эффекта"));
    auto* pages = Child<QTabWidget>(&form, "PageControl1");
    QCOMPARE(pages->tabText(pages->currentIndex()), Q(u8"Покадровый режим"));
    auto* jump = Child<QRadioButton>(&form, "FrameJumpButton");
    QCOMPARE(jump->text(), Q(u8"Переход к следующему кадру"));
    QVERIFY(jump->isChecked());
    QCOMPARE(Child<QSpinBox>(&form, "FrameDurationEdit")->value(), 12);
    auto* stop = Child<QCheckBox>(&form, "FrameStopBox");
    QCOMPARE(stop->text(), Q(u8"Остановка"));
    QVERIFY(stop->isChecked());
    QCOMPARE(form.TagText(), std::string("{[Jmp:12,1]}"));
  }

  void effectPagesTitlesAndStartValues() {
    TEffForm form("");
    auto* pages = Child<QTabWidget>(&form, "PageControl1");
    const QStringList titles = {Q(u8"Пауза"), Q(u8"Мигание"), Q(u8"Покадровый режим"),
                                Q(u8"Скорость"), Q(u8"Инверсия"), Q(u8"Визуальный эффект")};
    QCOMPARE(pages->count(), titles.size());
    for (int i = 0; i < pages->count(); ++i) QCOMPARE(pages->tabText(i), titles[i]);
    // Without a tag: the first page, and the visual effect at its start values.
    QCOMPARE(pages->currentIndex(), 0);
    QCOMPARE(form.TagText(), std::string("{[Pause:1]}"));
    QVERIFY(Child<QRadioButton>(&form, "FrameMarkerButton")->isChecked());
    QVERIFY(Child<QRadioButton>(&form, "InversionOffButton")->isChecked());
    auto* list = Child<QListWidget>(&form, "EffectTypeList");
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->item(3)->text(), Q(u8"Выезд сверху"));
    pages->setCurrentIndex(5);
    QCOMPARE(form.TagText(), std::string("{[Eff:0,40,5,0]}"));
    // The fragment size belongs to the slides only.
    auto* fragment = Child<QSpinBox>(&form, "EffectFragmentEdit");
    QVERIFY(fragment->isHidden());
    list->setCurrentRow(2);
    QVERIFY(!fragment->isHidden());
    fragment->setValue(3);
    QCOMPARE(form.TagText(), std::string("{[Eff:2,40,5,0,3]}"));
    list->setCurrentRow(1);
    QVERIFY(fragment->isHidden());
    QCOMPARE(form.TagText(), std::string("{[Eff:1,40,5,0]}"));
  }

  void effectTagsRoundTripOrAreNormalised_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("written");
    QTest::newRow("jump") << "{[Jmp:12,1]}" << 2 << "{[Jmp:12,1]}";
    QTest::newRow("frame") << "{[frame: 7 ]}" << 2 << "{[Frame:7,0]}";
    QTest::newRow("stop is bit 0") << "{[Frame:5,3]}" << 2 << "{[Frame:5,1]}";
    QTest::newRow("eff type 1: four items") << "{[Eff:1,40,5,0]}" << 5 << "{[Eff:1,40,5,0]}";
    QTest::newRow("eff type 1 drops a fifth") << "{[Eff:1,40,5,0,9]}" << 5 << "{[Eff:1,40,5,0]}";
    QTest::newRow("eff type 2: five items") << "{[Eff:2,40,5,0,3]}" << 5 << "{[Eff:2,40,5,0,3]}";
    QTest::newRow("eff type 3") << "{[EFF:3,4095,1,50,255]}" << 5 << "{[Eff:3,4095,1,50,255]}";
    QTest::newRow("eff unknown type") << "{[Eff:9,20,5,0]}" << 5 << "{[Eff:0,20,5,0]}";
    QTest::newRow("unknown name is a pause") << "{[Speed:2]}" << 0 << "{[Pause:2]}";
    QTest::newRow("pause") << "{[Pause:300]}" << 0 << "{[Pause:300]}";
    QTest::newRow("pause 0 takes the least") << "{[Pause:0]}" << 0 << "{[Pause:1]}";
    QTest::newRow("blink") << "{[Blink:10,3]}" << 1 << "{[Blink:10,3]}";
    QTest::newRow("speed") << "{[Spd:4]}" << 3 << "{[Spd:4]}";
    QTest::newRow("speed too high") << "{[Spd:9]}" << 3 << "{[Spd:5]}";
    QTest::newRow("inversion on") << "{[Inv:2]}" << 4 << "{[Inv:1]}";
    QTest::newRow("inversion off") << "{[Inv:0]}" << 4 << "{[Inv:0]}";
  }

  void effectTagsRoundTripOrAreNormalised() {
    QFETCH(QString, tag);
    QFETCH(int, page);
    QFETCH(QString, written);
    TEffForm form(ToBoardText(tag));
    QCOMPARE(Child<QTabWidget>(&form, "PageControl1")->currentIndex(), page);
    QCOMPARE(QString::fromStdString(form.TagText()), written);
  }

  void effectSpeedTagOpensThePausePageWithItsNumber() {
    TEffForm form("{[Speed:2]}");
    auto* pages = Child<QTabWidget>(&form, "PageControl1");
    QCOMPARE(pages->tabText(pages->currentIndex()), Q(u8"Пауза"));
    QCOMPARE(Child<QSpinBox>(&form, "PauseDurationEdit")->value(), 2);
  }

  // ---- TParSetForm ----------------------------------------------------------------------

  void parameterRecommendsTheWidthOfTheWidestSample() {
    TTabFontList bank;
    bank.Add(TestFont("Narrow", 1));
    bank.Add(TestFont("Wide", 4));
    bank.SetHeight(1);
    // Font 1: digits 4 + 1 columns, ":" 1 + 1: "00:00" is 22 columns, +2.
    TParSetForm form(bank, 1, "");
    QCOMPARE(form.windowTitle(), Q(u8"Отобразить параметр"));
    QCOMPARE(form.Kind(), 0);
    QCOMPARE(form.RecommendedWidth(), 24);
    QCOMPARE(form.Width(), 24);
    QCOMPARE(Child<QLabel>(&form, "RecommendedLabel")->text(), Q(u8"Рекомендуемое значение: 24"));
    auto* list = Child<QListWidget>(&form, "ListBox1");
    QCOMPARE(list->count(), 8);
    QCOMPARE(list->item(7)->text(), Q(u8"Скорость ветра"));
    // Another kind recomputes and takes the recommendation: "+00" is 12 + 2.
    list->setCurrentRow(2);
    QCOMPARE(form.RecommendedWidth(), 14);
    QCOMPARE(form.Width(), 14);
    QCOMPARE(form.TagText(), std::string("{[Par:2,14]}"));
    // Font 0 has one-column digits: "00:00" is 10 columns.
    TParSetForm narrow(bank, 0, "");
    QCOMPARE(narrow.RecommendedWidth(), 12);
    // A font number past the list measures with the first font; an empty
    // bank measures nothing.
    TParSetForm past(bank, 7, "");
    QCOMPARE(past.RecommendedWidth(), 12);
    TTabFontList empty;
    TParSetForm none(empty, 0, "");
    QCOMPARE(none.RecommendedWidth(), 2);
  }

  void parameterOpensFromThePARTag_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("width");
    // Font 0 of the fixture (one-column digits): kind 4 "00" is 4 + 2.
    QTest::newRow("kind and width") << "{[Par:4,30]}" << 4 << 30;
    QTest::newRow("one item: recommended") << "{[Par:4]}" << 4 << 6;
    QTest::newRow("kind past the list") << "{[Par:8,30]}" << 0 << 30;
    QTest::newRow("no items") << "{[Par]}" << 0 << 12;
    QTest::newRow("no tag") << "" << 0 << 12;
    QTest::newRow("another tag") << "{[Spd:4,30]}" << 0 << 12;
  }

  void parameterOpensFromThePARTag() {
    QFETCH(QString, tag);
    QFETCH(int, kind);
    QFETCH(int, width);
    TTabFontList bank;
    bank.Add(TestFont("Narrow", 1));
    bank.SetHeight(1);
    TParSetForm form(bank, 0, ToBoardText(tag));
    QCOMPARE(form.Kind(), kind);
    QCOMPARE(form.Width(), width);
  }

  // ---- TColorForm -------------------------------------------------------------------------

  void colourTwoChannelsOfferFourColoursAndTogglesKeepInStep() {
    const std::array<uint32_t, 8> colours = {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0};
    TColorForm form(2, colours, "", true);
    QCOMPARE(form.windowTitle(), Q(u8"Выбор цвета"));
    auto* list = Child<QListWidget>(&form, "ListBox1");
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->item(3)->text(), Q(u8"Цвет 3"));
    QCOMPARE(list->item(1)->background().color(), QColor(255, 0, 0));
    QCOMPARE(list->item(3)->background().color(), QColor(255, 255, 0));
    QVERIFY(Child<QRadioButton>(&form, "RadioButton2")->isChecked());
    QVERIFY(!Child<QToolButton>(&form, "SpeedButton3"));

    auto* first = Child<QToolButton>(&form, "SpeedButton1");
    auto* second = Child<QToolButton>(&form, "SpeedButton2");
    auto* number = Child<QSpinBox>(&form, "SpinEdit1");
    first->click();
    second->click();
    QCOMPARE(form.Value(), 3);
    QCOMPARE(list->currentRow(), 3);
    QCOMPARE(number->value(), 3);
    QCOMPARE(form.TagText(), std::string("{[FCol:3]}"));
    // A toggle that is on is framed in teal, one that is off is not.
    QVERIFY(first->styleSheet().contains(QStringLiteral("#008080")));
    list->setCurrentRow(2);
    QVERIFY(!first->isChecked());
    QVERIFY(second->isChecked());
    QVERIFY(!first->styleSheet().contains(QStringLiteral("#008080")));
    QCOMPARE(number->value(), 2);
    number->setValue(1);
    QVERIFY(first->isChecked());
    QVERIFY(!second->isChecked());
    QCOMPARE(list->currentRow(), 1);
    // Only the colours of these channels can be entered.
    QCOMPARE(number->maximum(), 3);
    Child<QRadioButton>(&form, "RadioButton1")->click();
    QCOMPARE(form.TagText(), std::string("{[BCol:1]}"));
  }

  void colourOpensOnTheTagUnderTheCaret_data() {
    QTest::addColumn<QString>("tag");
    QTest::addColumn<bool>("background");
    QTest::addColumn<int>("value");
    QTest::newRow("background") << "{[BCol:5]}" << true << 5;
    QTest::newRow("text") << "{[fcol:6]}" << false << 6;
    QTest::newRow("text without value") << "{[FCol]}" << false << 1;
    QTest::newRow("another tag") << "{[Spd:3]}" << false << 0;
    QTest::newRow("no tag") << "" << false << 0;
  }

  void colourOpensOnTheTagUnderTheCaret() {
    QFETCH(QString, tag);
    QFETCH(bool, background);
    QFETCH(int, value);
    TColorForm form(3, {}, ToBoardText(tag), true);
    QCOMPARE(form.Background(), background);
    QCOMPARE(Child<QRadioButton>(&form, "RadioButton1")->isChecked(), background);
    QCOMPARE(form.Value(), value);
    QCOMPARE(Child<QListWidget>(&form, "ListBox1")->currentRow(), value);
  }

  void colourPickForTheImageEditorHasNoRadioButtons() {
    bool radiosHidden = false;
    QString title;
    OnDialog("ColorForm", [&](QWidget* d) {
      radiosHidden = Child<QRadioButton>(d, "RadioButton1")->isHidden() &&
                     Child<QRadioButton>(d, "RadioButton2")->isHidden();
      title = d->windowTitle();
      Child<QToolButton>(d, "SpeedButton3")->click();
      Click(d, "okButton");
    });
    const std::optional<int> value =
        PickColorValue(nullptr, 4, {}, 1, QStringLiteral("Picture colour"));
    QVERIFY(radiosHidden);
    QCOMPARE(title, QStringLiteral("Picture colour"));
    QCOMPARE(value, std::optional<int>(5));
    OnDialog("ColorForm", [](QWidget* d) { Click(d, "cancelButton"); });
    QCOMPARE(PickColorValue(nullptr, 4, {}, 1), std::optional<int>());
  }

  // ---- TSetColorForm ---------------------------------------------------------------------

  void channelColoursChooseThroughTheColourDialog() {
    std::array<int32_t, 8> colours = kDefaultChannelColors;
    QString label;
    int clientHeight = 0;
    bool fourthRow = true;
    OnDialog("SetColorForm", [&](QWidget* d) {
      label = Child<QLabel>(d, "ChannelLabel3")->text();
      clientHeight = d->height();
      fourthRow = Child<QLabel>(d, "ChannelLabel4") != nullptr;
      OnDialog("ColorDialog", [](QWidget* c) {
        static_cast<QColorDialog*>(c)->setCurrentColor(QColor(0x10, 0x20, 0x30));
        static_cast<QDialog*>(c)->accept();
        OnDialog("SetColorForm", [](QWidget* back) { Click(back, "okButton"); });
      });
      Click(d, "ChooseButton2");
    });
    QVERIFY(EditChannelColours(nullptr, 3, colours));
    QCOMPARE(label, Q(u8"Канал 3:"));
    QVERIFY(!fourthRow);
    QCOMPARE(clientHeight, 25 * 3 + 50);
    QCOMPARE(colours[1], 0x302010);
    QCOMPARE(colours[0], kDefaultChannelColors[0]);

    // "Отмена" keeps the old colours even after a choice.
    OnDialog("SetColorForm", [](QWidget* d) {
      OnDialog("ColorDialog", [](QWidget* c) {
        static_cast<QColorDialog*>(c)->setCurrentColor(Qt::white);
        static_cast<QDialog*>(c)->accept();
        OnDialog("SetColorForm", [](QWidget* back) { Click(back, "cancelButton"); });
      });
      Click(d, "ChooseButton1");
    });
    QVERIFY(!EditChannelColours(nullptr, 12, colours));
    QCOMPARE(colours[0], kDefaultChannelColors[0]);
  }

  // ---- TSymbViewForm ----------------------------------------------------------------------

  void symbolTableDrawsTheFontAndCollectsSymbols() {
    TTabFontList bank;
    bank.Add(TestFont("First", 1));
    bank.Add(TestFont("Second", 2));
    bank.SetHeight(1);
    bank.SelectFont(1);
    TSymbViewForm form(bank, Q(u8"Вставить символы"));
    QCOMPARE(form.windowTitle(), Q(u8"Вставить символы"));
    auto* fonts = Child<QComboBox>(&form, "ComboBox1");
    QCOMPARE(fonts->count(), 2);
    QCOMPARE(fonts->currentIndex(), 1);
    auto* pages = Child<QTabWidget>(&form, "PageControl1");
    QCOMPARE(pages->tabText(0), Q(u8"Символы 1..127"));
    QCOMPARE(pages->tabText(1), Q(u8"Символы 128..255"));
    QCOMPARE(pages->widget(0)->findChildren<TMyBitBtn*>().size(), 127);
    QCOMPARE(pages->widget(1)->findChildren<TMyBitBtn*>().size(), 128);

    // A lit glyph is drawn three times enlarged; a blank one says "sp" + width.
    TMyBitBtn* letter = form.SymbolButton(65);
    QVERIFY(!letter->Blank());
    QCOMPARE(letter->iconSize(), QSize(5 * 3, 8 * 3));
    QCOMPARE(letter->toolTip(), QStringLiteral("65"));
    TMyBitBtn* space = form.SymbolButton(32);
    QVERIFY(space->Blank());
    QCOMPARE(space->text(), QStringLiteral("sp3"));
    QCOMPARE(space->toolTip(), Q(u8"32 - Пробелы : 3"));

    auto* code = Child<QSpinBox>(&form, "SpinEdit1");
    auto* hex = Child<QLabel>(&form, "HexLabel");
    auto* character = Child<QLineEdit>(&form, "Edit2");
    QCOMPARE(code->value(), 33);
    QCOMPARE(hex->text(), QStringLiteral("Hex: 21"));
    QCOMPARE(character->text(), QStringLiteral("!"));
    code->setValue(0xC0);
    QCOMPARE(hex->text(), QStringLiteral("Hex: C0"));
    QCOMPARE(character->text(), Q(u8"А"));
    character->selectAll();
    QTest::sendKeyEvent(QTest::Click, character, Qt::Key_unknown, Q(u8"я"), Qt::NoModifier);
    QCOMPARE(character->text(), Q(u8"я"));
    QCOMPARE(code->value(), 0xFF);

    auto* text = Child<QLineEdit>(&form, "Edit1");
    letter->click();
    QCOMPARE(code->value(), 65);
    QCOMPARE(text->text(), QStringLiteral("A"));
    Child<QCheckBox>(&form, "CheckBox1")->setChecked(true);
    letter->click();
    QCOMPARE(text->text(), QStringLiteral("A&#65;"));
    // A control code cannot stand in the text as it is: its entity goes in.
    Child<QCheckBox>(&form, "CheckBox1")->setChecked(false);
    form.SymbolButton(13)->click();
    QCOMPARE(text->text(), QStringLiteral("A&#65;&#13;"));
    QCOMPARE(form.Result(), std::string("{[Font:1]}A&#65;&#13;"));
    // Another font redraws the table: its digits are one column, not two.
    QCOMPARE(form.SymbolButton('0')->iconSize(), QSize(2 * 3, 8 * 3));
    fonts->setCurrentIndex(0);
    QCOMPARE(form.SymbolButton('0')->iconSize(), QSize(1 * 3, 8 * 3));
    QCOMPARE(form.Result(), std::string("{[Font:0]}A&#65;&#13;"));
  }

  void symbolTableScalesByFontHeight() {
    QCOMPARE(TSymbViewForm::GlyphScale(1), 3);
    QCOMPARE(TSymbViewForm::GlyphScale(2), 2);
    QCOMPARE(TSymbViewForm::GlyphScale(3), 1);
    QCOMPARE(TSymbViewForm::GlyphScale(4), 1);
    // The list holds only the fonts of the current height; an out-of-range
    // selection opens the first.
    TTabFontList bank;
    TTabFont tall = TestFont("Tall", 1);
    tall.HeightBytes = 2;
    bank.Add(TestFont("Short", 1));
    bank.Add(tall);
    bank.SetHeight(2);
    TSymbViewForm form(bank, QStringLiteral("x"));
    QCOMPARE(Child<QComboBox>(&form, "ComboBox1")->count(), 1);
    QCOMPARE(Child<QComboBox>(&form, "ComboBox1")->itemText(0), QStringLiteral("Tall"));
    QCOMPARE(form.Result(), std::string("{[Font:0]}"));
  }

  void symbolTableKeepsItsPlaceInSymbCoor() {
    TTabFontList bank;
    bank.Add(TestFont("First", 1));
    Settings().SymbCoor = IntRect{30, 40, 630, 490};
    QRect opened;
    OnDialog("SymbViewForm", [&](QWidget* d) {
      opened = d->geometry();
      d->setGeometry(50, 60, 700, 500);
      Click(d, "cancelButton");
    });
    QCOMPARE(ChooseSymbols(nullptr, bank, QStringLiteral("x")), std::string());
    QCOMPARE(opened, QRect(30, 40, 600, 450));
    QCOMPARE(Settings().SymbCoor, (IntRect{50, 60, 750, 560}));
  }

  // ---- The main window's buttons -----------------------------------------------------------

  void effectButtonEditsAnyTagAtTheCaret() {
    ShowMainForm();
    TMainLentarForm& form = *form_;
    QVERIFY(Button(form, "Button5")->isEnabled());
    Memo(form)->setPlainText(QStringLiteral("ab{[Jmp:12,1]}cd"));
    SetCaret(form, 6);
    QString page;
    OnDialog("EffForm", [&](QWidget* d) {
      auto* pages = Child<QTabWidget>(d, "PageControl1");
      page = pages->tabText(pages->currentIndex());
      Click(d, "okButton");
    });
    Button(form, "Button5")->click();
    QCOMPARE(page, Q(u8"Покадровый режим"));
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("ab{[Jmp:12,1]}cd"));
    QCOMPARE(Caret(form), 2 + 3);
    QVERIFY(!Memo(form)->textCursor().hasSelection());

    // Edit again from inside the tag: another page writes another tag.
    OnDialog("EffForm", [](QWidget* d) {
      Child<QTabWidget>(d, "PageControl1")->setCurrentIndex(3);
      Child<QSpinBox>(d, "SpeedEdit")->setValue(4);
      Click(d, "okButton");
    });
    Button(form, "Button5")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("ab{[Spd:4]}cd"));
    QCOMPARE(Caret(form), 2 + 3);

    // Outside a tag: inserted at the caret, caret 3 after the insertion point.
    SetCaret(form, 1);
    OnDialog("EffForm", [](QWidget* d) { Click(d, "okButton"); });
    Button(form, "Button5")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Pause:1]}b{[Spd:4]}cd"));
    QCOMPARE(Caret(form), 1 + 3);

    // A selection is replaced; Cancel changes nothing.
    SetCaret(form, 24, 22);
    OnDialog("EffForm", [](QWidget* d) { Click(d, "okButton"); });
    Button(form, "Button5")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Pause:1]}b{[Spd:4]}{[Pause:1]}"));
    QCOMPARE(Caret(form), 22 + 3);
    OnDialog("EffForm", [](QWidget* d) { Click(d, "cancelButton"); });
    Button(form, "Button5")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Pause:1]}b{[Spd:4]}{[Pause:1]}"));
  }

  void colourButtonWritesTheColourTag() {
    ShowMainForm();
    project_->ColorChannelCount = 2;
    TMainLentarForm& form = *form_;
    QVERIFY(Button(form, "Button8")->isEnabled());
    Memo(form)->setPlainText(QStringLiteral("xy"));
    SetCaret(form, 1);
    int entries = 0;
    OnDialog("ColorForm", [&](QWidget* d) {
      entries = Child<QListWidget>(d, "ListBox1")->count();
      Child<QToolButton>(d, "SpeedButton1")->click();
      Child<QToolButton>(d, "SpeedButton2")->click();
      Click(d, "okButton");
    });
    Button(form, "Button8")->click();
    QCOMPARE(entries, 4);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("x{[FCol:3]}y"));
    QCOMPARE(Caret(form), 1 + 3);

    // Inside the tag: it is edited, here turned into the background colour.
    bool wasText = false;
    OnDialog("ColorForm", [&](QWidget* d) {
      wasText = Child<QRadioButton>(d, "RadioButton2")->isChecked();
      Child<QRadioButton>(d, "RadioButton1")->click();
      Child<QSpinBox>(d, "SpinEdit1")->setValue(2);
      Click(d, "okButton");
    });
    Button(form, "Button8")->click();
    QVERIFY(wasText);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("x{[BCol:2]}y"));
    QCOMPARE(Caret(form), 1 + 3);
  }

  void parameterButtonMeasuresInTheFontInForce() {
    ShowMainForm();  // reads the settings and loads the (missing) archive
    auto& bank = project_->Fonts();
    bank.Add(TestFont("Narrow", 1));
    bank.Add(TestFont("Wide", 4));
    bank.SetHeight(1);
    Settings().DefFont = 0;
    TMainLentarForm& form = *form_;
    QVERIFY(Button(form, "Button4")->isEnabled());
    // Kind 4 ("00"): 6 columns in font 0, 12 in font 1.
    Memo(form)->setPlainText(QStringLiteral("{[Font:1]}ab{[Par:4]}cd"));
    SetCaret(form, 15);
    int offered = -1;
    OnDialog("ParSetForm", [&](QWidget* d) {
      offered = Child<QSpinBox>(d, "SpinEdit1")->value();
      Click(d, "okButton");
    });
    Button(form, "Button4")->click();
    QCOMPARE(offered, 12);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("{[Font:1]}ab{[Par:4,12]}cd"));
    QCOMPARE(Caret(form), 12 + 3);

    // No FONT tag before the caret: the default font. A new tag goes in at
    // the caret, and the caret after it.
    Memo(form)->setPlainText(QStringLiteral("ab{[Font:1]}"));
    SetCaret(form, 1);
    OnDialog("ParSetForm", [&](QWidget* d) {
      Child<QListWidget>(d, "ListBox1")->setCurrentRow(4);
      offered = Child<QSpinBox>(d, "SpinEdit1")->value();
      Click(d, "okButton");
    });
    Button(form, "Button4")->click();
    QCOMPARE(offered, 6);
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Par:4,6]}b{[Font:1]}"));
    QCOMPARE(Caret(form), 1 + 11);

    // Inside another tag: no PAR there, so a new tag at the caret.
    SetCaret(form, 15);
    OnDialog("ParSetForm", [](QWidget* d) { Click(d, "cancelButton"); });
    Button(form, "Button4")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[Par:4,6]}b{[Font:1]}"));
  }

  void symbolsButtonInsertsTheFontTagAndTheSymbols() {
    ShowMainForm();
    auto& bank = project_->Fonts();
    bank.Add(TestFont("First", 1));
    bank.SetHeight(1);
    TMainLentarForm& form = *form_;
    QVERIFY(Button(form, "Button6")->isEnabled());
    Memo(form)->setPlainText(QStringLiteral("a{[Spd:2]}b"));
    SetCaret(form, 4);  // inside a tag: symbols are still inserted at the caret
    QString title;
    OnDialog("SymbViewForm", [&](QWidget* d) {
      title = d->windowTitle();
      Child<QCheckBox>(d, "CheckBox1")->setChecked(true);
      static_cast<TSymbViewForm*>(d)->SymbolButton(65)->click();
      Click(d, "okButton");
    });
    Button(form, "Button6")->click();
    QCOMPARE(title, Q(u8"Вставить символы"));
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("a{[S{[Font:0]}&#65;pd:2]}b"));
    QCOMPARE(Caret(form), 4 + 15);

    // A selection is replaced by the symbols.
    Memo(form)->setPlainText(QStringLiteral("one two"));
    SetCaret(form, 7, 4);
    OnDialog("SymbViewForm", [](QWidget* d) {
      static_cast<TSymbViewForm*>(d)->SymbolButton(65)->click();
      Click(d, "okButton");
    });
    Button(form, "Button6")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("one {[Font:0]}A"));
    QCOMPARE(Caret(form), 4 + 11);
    OnDialog("SymbViewForm", [](QWidget* d) { Click(d, "cancelButton"); });
    Button(form, "Button6")->click();
    QCOMPARE(Memo(form)->toPlainText(), QStringLiteral("one {[Font:0]}A"));
  }

  // ---- Pictures of the dialogs -------------------------------------------------------------

#ifdef LENTAR_SCREENSHOT_SLOTS
  // Writes a PNG of every dialog into $LENTAR_SHOTS_DIR (skipped when unset).
  void screenshots() {
    const QString folder = qEnvironmentVariable("LENTAR_SHOTS_DIR");
    if (folder.isEmpty()) QSKIP("LENTAR_SHOTS_DIR not set");
    QDir().mkpath(folder);
    TTabFontList bank;
    bank.Add(TestFont("Test 8", 2));
    bank.SetHeight(1);
    auto shoot = [&](QWidget& w, const char* file) {
      w.show();
      QVERIFY(QTest::qWaitForWindowExposed(&w));
      QTest::qWait(50);
      QVERIFY(w.grab().save(folder + QLatin1Char('/') + QLatin1String(file)));
      w.hide();
    };
    TEffForm eff("{[Eff:2,40,5,0,3]}");
    shoot(eff, "effform-visual.png");
    TEffForm jmp("{[Jmp:12,1]}");
    shoot(jmp, "effform-frame.png");
    TParSetForm par(bank, 0, "{[Par:1]}");
    shoot(par, "parsetform.png");
    TColorForm colour(3, {0x0000FF, 0x00FF00, 0xFF0000, 0, 0, 0, 0, 0}, "{[FCol:5]}", true);
    shoot(colour, "colorform.png");
    TColorForm pick(2, {0x0000FF, 0x00FF00, 0, 0, 0, 0, 0, 0}, "", false);
    shoot(pick, "colorform-pick.png");
    TSetColorForm channels(3, kDefaultChannelColors);
    shoot(channels, "setcolorform.png");
    TSymbViewForm symbols(bank, Q(u8"Вставить символы"));
    symbols.SymbolButton(65)->click();
    shoot(symbols, "symbviewform.png");
    ShowMainForm();
    Memo(*form_)->setPlainText(QStringLiteral("{[Font:0]}{[FCol:3]}{[Jmp:12,1]}{[Par:0,24]}"));
    shoot(*form_, "mainform-buttons.png");
  }
#endif
};

QTEST_MAIN(TagDialogsTest)
#include "test_tagdialogs.moc"
