// TBankForm "Банки шрифтов": the font selection dialog over the font bank.
//
// A one-column grid lists the fonts of the bank's current height (every font
// when browsing); a sample text, the setting TestText, is drawn below with the
// selected font as the board would light it. Three uses: a browser (no
// "Отмена"), a chooser, and a chooser whose "Восстановить шрифт по-умолчанию"
// box gives the board's default font, number 255.
#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPainter;
class QPushButton;

namespace lentar {
class TTabFont;
class TTabFontList;
}  // namespace lentar

namespace lentar::gui {

class TTableGrid;

enum class BankFormMode { Browse, Choose, ChooseWithRestore };

// The font number that stands for the board's default font.
inline constexpr int kDefaultFontNumber = 255;

// Draws text (Windows-1251) as the board's dots: area is filled black, then
// every lit dot is a green square of dotSize pixels, dots spaced dotSize +
// dotGap apart from origin; each character advances by its columns and the
// font's CharSpacing. Only the black fill without a font or its tables.
void DrawText(QPainter& painter, const std::string& text, const TTabFont* font,
              const QRect& area, QPoint origin, int dotSize, int dotGap);

class TBankForm : public QDialog {
  Q_OBJECT

 public:
  TBankForm(TTabFontList& bank, BankFormMode mode, int fontNumber, QWidget* parent = nullptr);

  // Row position (0-based among the listed fonts) of the selected font; -1
  // when the list is empty.
  int SelectedNumber() const;
  // The selected font, or nullptr.
  const TTabFont* SelectedFont() const;
  // The chosen number on OK: 255 when the restore box is checked, else the
  // selected row; nullopt when nothing is listed.
  std::optional<int> Choice() const;
  int ListedCount() const { return static_cast<int>(bankIndexes_.size()); }

  // Windows-1251 sample text as typed.
  std::string SampleText() const;

 protected:
  void done(int result) override;

 private:
  class SamplePicture;

  // The form, one function per group.
  void BuildFontGrid();
  void BuildSampleGroup();

  TTabFontList& bank_;
  BankFormMode mode_;
  std::vector<int> bankIndexes_;  // bank position of each listed font, by row
  TTableGrid* fontGrid_ = nullptr;
  QGroupBox* sampleGroup_ = nullptr;
  QLineEdit* sampleEdit_ = nullptr;
  SamplePicture* picture_ = nullptr;
  QCheckBox* restoreBox_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
};

// Shows the dialog modally. Returns the chosen number on "OK" (255 when
// "Восстановить шрифт по-умолчанию" is checked), nullopt on "Отмена", on
// closing, when browsing, or when no font is listed. TestText is stored back
// in the settings however the dialog closes.
std::optional<int> ShowFontBank(QWidget* parent, TTabFontList& bank, BankFormMode mode,
                                int fontNumber);

}  // namespace lentar::gui
