// TColorForm "Выбор цвета": picks a colour value, a bit mask over the board's
// colour channels, three ways kept in step: one toggle per channel, the list
// of every mixed colour and the number. The editors write it as the text or
// background colour tag; the image editor uses the bare value (no radio
// buttons).
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QHBoxLayout;
class QListWidget;
class QRadioButton;
class QSpinBox;
class QToolButton;

namespace lentar::gui {

// Face of a channel toggle: the channel's colour, framed in teal when on.
QString ChannelToggleStyle(uint32_t colour, bool on);

class TColorForm : public QDialog {
  Q_OBJECT

 public:
  // colours: the channel colours, 0x00BBGGRR (red in the low byte);
  // channelCount is clamped to 1..8. tagText: the tag under the caret
  // (Windows-1251) or empty; a BCOL tag opens on the background, a FCOL or
  // BCOL tag on its value. withTarget false hides the text/background choice.
  TColorForm(int channelCount, const std::array<uint32_t, 8>& colours,
             const std::string& tagText, bool withTarget, QWidget* parent = nullptr);

  int Value() const { return value_; }
  void SetValue(int value);
  bool Background() const;
  // "{[FCol:" v "]}" or "{[BCol:" v "]}".
  std::string TagText() const;

 private:
  // The form, one function per row.
  QHBoxLayout* BuildTargetRow(bool withTarget);
  QHBoxLayout* BuildChannelToggles();
  QHBoxLayout* BuildColourList();
  int channels_ = 1;
  int value_ = 0;
  bool updating_ = false;
  std::array<uint32_t, 8> colours_{};
  QRadioButton* backgroundButton_ = nullptr;
  QRadioButton* textButton_ = nullptr;
  std::vector<QToolButton*> toggles_;
  QListWidget* colourList_ = nullptr;
  QSpinBox* valueEdit_ = nullptr;
};

// The editors' colour tag: the new tag text on "OK", empty on "Отмена".
std::string EditColorTag(QWidget* parent, int channelCount, const std::array<uint32_t, 8>& colours,
                         const std::string& tagText);
// The image editor's pick: the value on "OK"; caption replaces "Выбор цвета"
// when not empty.
std::optional<int> PickColorValue(QWidget* parent, int channelCount,
                                  const std::array<uint32_t, 8>& colours, int value,
                                  const QString& caption = QString());

}  // namespace lentar::gui
