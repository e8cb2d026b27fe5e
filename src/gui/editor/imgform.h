// TImgForm "Изображение": the picture editor of the picture tag. The operator
// draws a picture cell by cell, fills, shifts, rotates and mirrors it, imports
// it from a BMP, JPG, ICO or TXT file, exports it as a BMP, and gets the tag
// text back on "OK".
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/markup/rform.h"
#include "markup/picture.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QSpinBox;
class QVBoxLayout;

namespace lentar::gui {

namespace imageeditor {

// The editing panel: the emulation's LED picture showing the picture's
// columns, with an optional white outline around every cell's square so that
// dark cells show too, and a report of left clicks on cells.
class TDrawPanel : public lentar::gui::TDrawPanel {
  Q_OBJECT

 public:
  explicit TDrawPanel(QWidget* parent = nullptr);

  void SetBorder(bool on);
  bool Border() const { return border_; }
  // The cell under a point of the panel, or (-1, -1).
  QPoint CellAt(const QPoint& point) const;

 signals:
  // A left click without modifier keys on cell (column, row).
  void CellClicked(int column, int row);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  bool border_ = false;
};

}  // namespace imageeditor

class TImgForm : public QDialog {
  Q_OBJECT

 public:
  // heightBytes (B) and channelCount (C) are clamped to 1..4 and 1..8;
  // colours are the channel colours, 0x00BBGGRR. tagText (Windows-1251) is
  // decoded at once; an empty or invalid text gives a blank picture.
  TImgForm(const std::string& tagText, int heightBytes, int channelCount,
           const std::array<int32_t, 8>& colours, QWidget* parent = nullptr);

  // The picture as tag text (Windows-1251).
  std::string TagText() const;
  const PictureData& Picture() const { return picture_; }
  int PenIndex() const { return pen_; }
  imageeditor::TDrawPanel* Panel() const { return panel_; }

  // A click on a cell, as the panel reports it.
  void CellClick(int column, int row);

  void reject() override;  // "Отмена", Esc and closing ask first

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  // The form, one function per group box.
  QGroupBox* BuildPenGroup();
  QGroupBox* BuildShiftGroup();
  QGroupBox* BuildRotateGroup();
  QGroupBox* BuildPictureGroup();
  QGroupBox* BuildCodeGroup();
  QVBoxLayout* BuildFileColumn();
  void ConnectControls();
  void FormShow();
  // After every change of pixels, width or geometry: the panel, the width,
  // the name and the code field follow the picture.
  void Changed();
  void UpdatePanelGeometry();
  void UpdatePenSample();
  void FitWindow();
  std::array<uint32_t, 8> ColourArray() const;

  void ChooseClick();
  void FillClick();
  void WidthChanged(int width);
  void NameEdited(const QString& name);
  void RememberClick();
  void RestoreClick();
  void ApplyClick();
  void RotateClick();
  void FromFileClick();
  void ToFileClick();

  PictureData picture_;
  std::string openedTag_;  // the picture as opened: "Отмена" asks only after a change
  std::array<int32_t, 8> colours_{};
  std::array<uint32_t, 256> palette_{};
  int pen_ = 1;
  bool updating_ = false;
  bool shownOnce_ = false;
  int panelColumns_ = 0;
  std::vector<uint8_t> savedPixels_;
  int savedWidth_ = 1;

  imageeditor::TDrawPanel* panel_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QRadioButton* fixedPenButton_ = nullptr;
  QRadioButton* cyclePenButton_ = nullptr;
  QLabel* penSample_ = nullptr;
  QPushButton* chooseButton_ = nullptr;
  QPushButton* fillButton_ = nullptr;
  QPushButton* leftButton_ = nullptr;
  QPushButton* rightButton_ = nullptr;
  QPushButton* upButton_ = nullptr;
  QPushButton* downButton_ = nullptr;
  QSpinBox* widthEdit_ = nullptr;
  QLineEdit* nameEdit_ = nullptr;
  QCheckBox* borderBox_ = nullptr;
  QPushButton* rememberButton_ = nullptr;
  QPushButton* restoreButton_ = nullptr;
  QPlainTextEdit* codeEdit_ = nullptr;
  QPushButton* applyButton_ = nullptr;
  std::array<QRadioButton*, 4> angleButtons_{};
  QCheckBox* mirrorXBox_ = nullptr;
  QCheckBox* mirrorYBox_ = nullptr;
  QPushButton* rotateButton_ = nullptr;
  QPushButton* fromFileButton_ = nullptr;
  QPushButton* toFileButton_ = nullptr;
  QWidget* controls_ = nullptr;
};

// Opens the editor modally on tagText (Windows-1251) for a board of
// heightBytes and channelCount with the given channel colours. On "OK"
// tagText becomes the edited picture's tag and the result is true.
bool EditPicture(QWidget* parent, std::string& tagText, int heightBytes, int channelCount,
                 const std::array<int32_t, 8>& colours);

}  // namespace lentar::gui
