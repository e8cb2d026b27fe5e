// TParSetForm "Отобразить параметр": writes the PAR tag of a live value the
// board fills in (time, date, temperatures, humidity, pressure, radiation,
// wind speed) with the pixel columns reserved for it. The recommended width
// is measured in the font in force where the tag goes.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QListWidget;
class QSpinBox;

namespace lentar {
class TTabFont;
class TTabFontList;
}  // namespace lentar

namespace lentar::gui {

class TParSetForm : public QDialog {
  Q_OBJECT

 public:
  // tagText: the PAR tag being edited (Windows-1251) or empty; fontNumber:
  // the font in force, a number among the bank's fonts of the current height.
  TParSetForm(const TTabFontList& bank, int fontNumber, const std::string& tagText,
              QWidget* parent = nullptr);

  int Kind() const;
  int Width() const;
  int RecommendedWidth() const { return recommended_; }
  // "{[Par:" kind "," width "]}".
  std::string TagText() const;

 private:
  void KindChanged();
  void UpdateRecommendation();

  const TTabFont* font_ = nullptr;
  int recommended_ = 2;
  QListWidget* kindList_ = nullptr;
  QSpinBox* widthEdit_ = nullptr;
  QLabel* recommendedLabel_ = nullptr;
};

// Shows the dialog modally; the new tag text on "OK", empty on "Отмена".
std::string EditParameterTag(QWidget* parent, const TTabFontList& bank, int fontNumber,
                             const std::string& tagText);

}  // namespace lentar::gui
