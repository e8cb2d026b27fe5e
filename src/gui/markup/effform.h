// TEffForm "Параметры эффекта": writes the pause, blink, frame/jump, speed,
// inversion and visual-effect tags. Opened with the text of the tag under the
// caret, it shows the page of that tag's name with the tag's items filled in.
#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QLabel;
class QListWidget;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace lentar::gui {

class TEffForm : public QDialog {
  Q_OBJECT

 public:
  // tagText: the tag being edited (Windows-1251) or empty for a new one.
  explicit TEffForm(const std::string& tagText, QWidget* parent = nullptr);

  // The tag text of the page shown (what OK returns).
  std::string TagText() const;

 private:
  // The form, one function per page.
  QWidget* AddPage(const QString& caption, const char* objectName);
  void BuildPausePage();
  void BuildBlinkPage();
  void BuildFramePage();
  void BuildSpeedPage();
  void BuildInversionPage();
  void BuildVisualPage();
  void FillFromTag(const std::string& tagText);
  void EffectTypeChanged();

  QTabWidget* pages_ = nullptr;
  // "Пауза"
  QSpinBox* pauseDuration_ = nullptr;
  // "Мигание"
  QSpinBox* blinkDuration_ = nullptr;
  QSpinBox* blinkMask_ = nullptr;
  // "Покадровый режим"
  QRadioButton* frameMarker_ = nullptr;
  QRadioButton* frameJump_ = nullptr;
  QSpinBox* frameDuration_ = nullptr;
  QCheckBox* frameStop_ = nullptr;
  // "Скорость"
  QSpinBox* speed_ = nullptr;
  // "Инверсия"
  QRadioButton* inversionOff_ = nullptr;
  QRadioButton* inversionOn_ = nullptr;
  // "Визуальный эффект"
  QListWidget* effectType_ = nullptr;
  QSpinBox* effectDuration_ = nullptr;
  QSpinBox* effectPause_ = nullptr;
  QSpinBox* effectReduction_ = nullptr;
  QLabel* fragmentLabel_ = nullptr;
  QSpinBox* effectFragment_ = nullptr;
};

// Shows the dialog modally; the new tag text on "OK", empty on "Отмена".
std::string EditEffectTag(QWidget* parent, const std::string& tagText);

}  // namespace lentar::gui
