// TSetColorForm "Цвета каналов": the screen colour of each colour channel,
// one row per channel with its swatch and "Выбрать", which opens the system
// colour dialog. Works on a copy; the caller stores it on "OK".
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <vector>

class QLabel;

namespace lentar::gui {

class TSetColorForm : public QDialog {
  Q_OBJECT

 public:
  // colours: 0x00BBGGRR (red in the low byte), as the settings keep them;
  // channelCount is clamped to 1..8.
  TSetColorForm(int channelCount, const std::array<int32_t, 8>& colours,
                QWidget* parent = nullptr);

  const std::array<int32_t, 8>& Colours() const { return colours_; }
  void SetColour(int channel, int32_t colour);

 private:
  void ChooseClick(int channel);

  int channels_ = 1;
  std::array<int32_t, 8> colours_{};
  std::vector<QLabel*> swatches_;
};

// Shows the dialog modally; on "OK" colours takes the new colours and the
// result is true; on "Отмена" colours is left alone.
bool EditChannelColours(QWidget* parent, int channelCount, std::array<int32_t, 8>& colours);

}  // namespace lentar::gui
