// TSymbViewForm: the symbol table. Shows every character code 1..255 of a
// board font as a button drawn from the font's own glyph, so the operator can
// pick symbols the keyboard does not offer (or that only the board font draws)
// and insert them, behind a FONT tag that selects that font.
#pragma once

#include <QDialog>
#include <QToolButton>
#include <array>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTabWidget;

namespace lentar {
class TTabFont;
class TTabFontList;
}  // namespace lentar

namespace lentar::gui {

// One symbol button: the glyph of its code, enlarged, or "sp" and the width
// for a glyph that lights nothing.
class TMyBitBtn : public QToolButton {
  Q_OBJECT

 public:
  TMyBitBtn(int code, QWidget* parent);
  int Code() const { return code_; }
  // Draws the code's glyph of font (nullptr: an empty face) at the scale.
  void ShowGlyph(const TTabFont* font, int scale, QSize face);
  bool Blank() const { return blank_; }

 private:
  int code_;
  bool blank_ = false;
};

class TSymbViewForm : public QDialog {
  Q_OBJECT

 public:
  TSymbViewForm(TTabFontList& bank, const QString& caption, QWidget* parent = nullptr);

  // Number of the chosen font among the bank's fonts of the current height.
  int FontNumber() const;
  // "{[Font:" n "]}" followed by the collected text (Windows-1251).
  std::string Result() const;
  TMyBitBtn* SymbolButton(int code) const;
  // Enlargement of the glyphs: 3 for one-byte fonts, 2 for two-byte, else 1.
  static int GlyphScale(int heightBytes);

 protected:
  void done(int result) override;

 private:
  // The form, one function per group.
  QHBoxLayout* BuildFontRow();
  void BuildSymbolPages();
  QGroupBox* BuildSymbolGroup();
  void FontChanged();
  void SymbolClicked(int code);
  void CodeChanged(int code);
  void CharacterEdited(const QString& text);
  const TTabFont* ChosenFont() const;

  TTabFontList& bank_;
  QComboBox* fontList_ = nullptr;
  QLineEdit* textEdit_ = nullptr;
  QCheckBox* codesBox_ = nullptr;
  QTabWidget* pages_ = nullptr;
  std::array<TMyBitBtn*, 256> buttons_{};
  QSpinBox* codeEdit_ = nullptr;
  QLabel* hexLabel_ = nullptr;
  QLineEdit* characterEdit_ = nullptr;
};

// Shows the table modally; the text to insert on "OK", empty on "Отмена".
std::string ChooseSymbols(QWidget* parent, TTabFontList& bank, const QString& caption);

}  // namespace lentar::gui
