#include "gui/markup/symbviewform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/settings.h"
#include "gui/common/dialogbuttons.h"
#include "gui/common/formparts.h"
#include "gui/common/messages.h"
#include "gui/common/placement.h"
#include "markup/fonts.h"
#include "markup/tagtexts.h"

namespace lentar::gui {

namespace {

constexpr int kButtonsPerRow = 16;
constexpr int kFirstCode = 33;

// Whether the code's glyph lights at least one pixel.
bool GlyphLit(const TTabFont& font, int code) {
  for (char b : font.GlyphColumns(static_cast<uint8_t>(code))) {
    if (b != 0) return true;
  }
  return false;
}

// The Unicode character of a board code, or an empty text when the code
// page has none or it is a control character that a text cannot carry as it
// stands (a line break would become a space on the board).
QString CharacterOf(int code) {
  if (code < 32 || code == 127) return {};
  const std::string byte(1, static_cast<char>(code));
  const QString c = FromBoardText(byte);
  if (c.size() != 1 || c[0] == QChar::ReplacementCharacter || ToBoardText(c) != byte) return {};
  return c;
}

}  // namespace

// ---- TMyBitBtn ----------------------------------------------------------------

TMyBitBtn::TMyBitBtn(int code, QWidget* parent) : QToolButton(parent), code_(code) {
  setObjectName(QStringLiteral("SymbolButton%1").arg(code));
  setToolTip(QString::number(code));
  setAutoRaise(false);
}

void TMyBitBtn::ShowGlyph(const TTabFont* font, int scale, QSize face) {
  setFixedSize(face);
  blank_ = false;
  setIcon(QIcon());
  setText(QString());
  setToolTip(QString::number(code_));
  if (!font || !font->HasTables()) return;
  const uint8_t code = static_cast<uint8_t>(code_);
  const int columns = font->GlyphColumnCount(code);
  if (!GlyphLit(*font, code_)) {
    blank_ = true;
    setText(QStringLiteral("sp") + QString::number(columns));
    setToolTip(QString::number(code_) + QStringLiteral(" - Пробелы : ") + QString::number(columns));
    return;
  }
  const int height = font->HeightBytes;
  const std::string_view bytes = font->GlyphColumns(code);
  const int rows = height * 8;
  QImage image(columns * scale, rows * scale, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  const QRgb ink = qRgb(0, 0, 0);
  for (int x = 0; x < columns; ++x) {
    for (int band = 0; band < height; ++band) {
      const size_t at = static_cast<size_t>(x * height + band);
      if (at >= bytes.size()) continue;
      const auto bits = static_cast<uint8_t>(bytes[at]);
      for (int bit = 0; bit < 8; ++bit) {
        if (!((bits >> bit) & 1)) continue;
        const int y = band * 8 + bit;
        for (int dx = 0; dx < scale; ++dx) {
          for (int dy = 0; dy < scale; ++dy) image.setPixel(x * scale + dx, y * scale + dy, ink);
        }
      }
    }
  }
  setIcon(QIcon(QPixmap::fromImage(image)));
  setIconSize(image.size());
}

// ---- TSymbViewForm ------------------------------------------------------------

int TSymbViewForm::GlyphScale(int heightBytes) {
  if (heightBytes <= 1) return 3;
  if (heightBytes == 2) return 2;
  return 1;
}

TSymbViewForm::TSymbViewForm(TTabFontList& bank, const QString& caption, QWidget* parent)
    : QDialog(parent), bank_(bank) {
  setObjectName(QStringLiteral("SymbViewForm"));
  setWindowTitle(caption);
  setModal(true);

  QHBoxLayout* fontRow = BuildFontRow();
  BuildSymbolPages();
  QGroupBox* symbolGroup = BuildSymbolGroup();

  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  MakeOkCancelButtons(this, &ok, &cancel);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(symbolGroup, 1);
  bottom->addWidget(ok, 0, Qt::AlignBottom);
  bottom->addWidget(cancel, 0, Qt::AlignBottom);

  auto* top = new QVBoxLayout(this);
  top->addLayout(fontRow);
  top->addWidget(pages_, 1);
  top->addLayout(bottom);

  connect(fontList_, &QComboBox::currentIndexChanged, this, &TSymbViewForm::FontChanged);
  connect(codeEdit_, &QSpinBox::valueChanged, this, &TSymbViewForm::CodeChanged);
  connect(characterEdit_, &QLineEdit::textEdited, this, &TSymbViewForm::CharacterEdited);

  FontChanged();
  codeEdit_->setValue(kFirstCode);
  CodeChanged(kFirstCode);

  if (!RestoreWindowGeometry(*this, Settings().SymbCoor)) resize(sizeHint());
}

// The font, the sample text and "Коды".
QHBoxLayout* TSymbViewForm::BuildFontRow() {
  fontList_ = MakeCombo(this, "ComboBox1");
  const int height = bank_.CurrentHeight();
  const int count = bank_.CountOfHeight(height);
  for (int i = 0; i < count; ++i) {
    const TTabFont* font = bank_.FontOfHeight(i, height);
    fontList_->addItem(font ? FromBoardText(font->FontName) : QString());
  }
  const int selected = bank_.CurrentFontNo();
  fontList_->setCurrentIndex(count == 0 ? -1 : (selected >= 0 && selected < count ? selected : 0));

  textEdit_ = MakeEdit(this, "Edit1");
  codesBox_ = MakeCheck(this, QStringLiteral("Коды"), "CheckBox1");
  auto* fontRow = new QHBoxLayout;
  fontRow->addWidget(new QLabel(QStringLiteral("Шрифт:"), this));
  fontRow->addWidget(fontList_);
  fontRow->addWidget(textEdit_, 1);
  fontRow->addWidget(codesBox_);
  return fontRow;
}

// A button per character on two pages: 1..127 and 128..255.
void TSymbViewForm::BuildSymbolPages() {
  pages_ = new QTabWidget(this);
  pages_->setObjectName(QStringLiteral("PageControl1"));
  QWidget* pageWidgets[2] = {new QWidget, new QWidget};
  pageWidgets[0]->setObjectName(QStringLiteral("TabSheet1"));
  pageWidgets[1]->setObjectName(QStringLiteral("TabSheet2"));
  QGridLayout* grids[2] = {new QGridLayout(pageWidgets[0]), new QGridLayout(pageWidgets[1])};
  for (QGridLayout* grid : grids) {
    grid->setSpacing(1);
    grid->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  }
  pages_->addTab(pageWidgets[0], QStringLiteral("Символы 1..127"));
  pages_->addTab(pageWidgets[1], QStringLiteral("Символы 128..255"));
  for (int code = 1; code <= 255; ++code) {
    const int page = code < 128 ? 0 : 1;
    const int slot = page == 0 ? code - 1 : code - 128;
    auto* button = new TMyBitBtn(code, pageWidgets[page]);
    connect(button, &QToolButton::clicked, this, [this, code] { SymbolClicked(code); });
    grids[page]->addWidget(button, slot / kButtonsPerRow, slot % kButtonsPerRow);
    buttons_[static_cast<size_t>(code)] = button;
  }
}

// " Символ ": the chosen character's code and its Windows letter.
QGroupBox* TSymbViewForm::BuildSymbolGroup() {
  QGroupBox* symbolGroup = MakeGroup(this, QStringLiteral(" Символ "), "SymbolGroup");
  codeEdit_ = MakeSpin(symbolGroup, "SpinEdit1", 1, 255);
  hexLabel_ = MakeLabel(symbolGroup, QString(), "HexLabel");
  characterEdit_ = MakeEdit(symbolGroup, "Edit2");
  characterEdit_->setMaxLength(1);
  characterEdit_->setFixedWidth(48);
  auto* symbolLayout = new QHBoxLayout(symbolGroup);
  symbolLayout->addWidget(new QLabel(QStringLiteral("Код:"), symbolGroup));
  symbolLayout->addWidget(codeEdit_);
  symbolLayout->addWidget(hexLabel_);
  symbolLayout->addSpacing(16);
  symbolLayout->addWidget(new QLabel(QStringLiteral("Начертание (Windows):"), symbolGroup));
  symbolLayout->addWidget(characterEdit_);
  symbolLayout->addStretch(1);
  return symbolGroup;
}

const TTabFont* TSymbViewForm::ChosenFont() const {
  if (fontList_->count() == 0) return nullptr;
  return bank_.FontOfHeight(FontNumber(), bank_.CurrentHeight());
}

int TSymbViewForm::FontNumber() const { return std::max(fontList_->currentIndex(), 0); }

void TSymbViewForm::FontChanged() {
  const TTabFont* font = ChosenFont();
  const int height = font ? font->HeightBytes : bank_.CurrentHeight();
  const int scale = GlyphScale(height);
  int widest = 1;
  if (font && font->HasTables()) {
    for (int code = 1; code <= 255; ++code) {
      widest = std::max(widest, font->GlyphColumnCount(static_cast<uint8_t>(code)));
    }
  }
  const QSize face(std::max(widest * scale + 8, 30), std::max(height * 8 * scale + 8, 26));
  for (int code = 1; code <= 255; ++code) buttons_[static_cast<size_t>(code)]->ShowGlyph(font, scale, face);

  // The character as the desktop draws it: the font's own screen twin when
  // the system has it, else the default sans font.
  QFont desktop = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  desktop.setStyleHint(QFont::SansSerif);
  if (font && !font->WindowsFontName.empty() &&
      QFontDatabase::hasFamily(FromBoardText(font->WindowsFontName))) {
    desktop.setFamily(FromBoardText(font->WindowsFontName));
  }
  desktop.setPointSize(14);
  characterEdit_->setFont(desktop);
}

void TSymbViewForm::CodeChanged(int code) {
  hexLabel_->setText(QStringLiteral("Hex: ") +
                     QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')).toUpper());
  characterEdit_->setText(CharacterOf(code));
}

void TSymbViewForm::CharacterEdited(const QString& text) {
  if (text.isEmpty()) return;
  const std::string byte = ToBoardText(text.left(1));
  if (byte.size() != 1) return;
  const int code = static_cast<uint8_t>(byte[0]);
  if (code >= 1 && CharacterOf(code) == text.left(1)) codeEdit_->setValue(code);
}

void TSymbViewForm::SymbolClicked(int code) {
  codeEdit_->setValue(code);
  // Codes without a character of their own go in as entities, so that the
  // board gets exactly that code.
  const QString character = CharacterOf(code);
  if (codesBox_->isChecked() || character.isEmpty()) {
    textEdit_->setText(textEdit_->text() + QString::fromLatin1(SymbolEntity(code)));
  } else {
    textEdit_->setText(textEdit_->text() + character);
  }
}

std::string TSymbViewForm::Result() const {
  return FontTagText(FontNumber()) + ToBoardText(textEdit_->text());
}

TMyBitBtn* TSymbViewForm::SymbolButton(int code) const {
  if (code < 1 || code > 255) return nullptr;
  return buttons_[static_cast<size_t>(code)];
}

void TSymbViewForm::done(int result) {
  Settings().SymbCoor = WindowGeometryRect(*this);
  QDialog::done(result);
}

std::string ChooseSymbols(QWidget* parent, TTabFontList& bank, const QString& caption) {
  TSymbViewForm form(bank, caption, parent);
  if (form.exec() != QDialog::Accepted) return {};
  return form.Result();
}

}  // namespace lentar::gui
