// TImgImpForm "Импорт изображения": how a picture whose height differs from
// the board's is imported — scaled (shrunk or stretched) to the board's
// height, or kept as it is from a chosen start row.
#pragma once

#include <QDialog>
#include <optional>

#include "markup/picturefile.h"

class QLabel;
class QRadioButton;
class QSpinBox;

namespace lentar::gui {

class TImgImpForm : public QDialog {
  Q_OBJECT

 public:
  // rows: the board's column height H; pictureHeight: the picture's height.
  TImgImpForm(int rows, int pictureHeight, QWidget* parent = nullptr);

  ImportMode Mode() const;

  QRadioButton* scaleButton() const { return scaleButton_; }
  QRadioButton* keepButton() const { return keepButton_; }
  QSpinBox* startRowEdit() const { return startRowEdit_; }

 private:
  QRadioButton* scaleButton_ = nullptr;
  QRadioButton* keepButton_ = nullptr;
  QLabel* startRowLabel_ = nullptr;
  QSpinBox* startRowEdit_ = nullptr;
};

// The question as the editor asks it: nullopt when cancelled. Tests answer it
// through ImportQuestionCapture instead of the window.
std::optional<ImportMode> AskImportMode(QWidget* parent, int rows, int pictureHeight);

// Capture mode for tests: while one is alive the window is not shown; each
// question is recorded and answered with the next queued answer (Cancel when
// none is queued).
class ImportQuestionCapture {
 public:
  ImportQuestionCapture();
  ~ImportQuestionCapture();
  ImportQuestionCapture(const ImportQuestionCapture&) = delete;
  ImportQuestionCapture& operator=(const ImportQuestionCapture&) = delete;

  void QueueAnswer(std::optional<ImportMode> answer) { answers_.push_back(answer); }
  // (rows, picture height) of every question asked.
  const std::vector<std::pair<int, int>>& Questions() const { return questions_; }

  static ImportQuestionCapture* Active();
  std::optional<ImportMode> Record(int rows, int pictureHeight);

 private:
  std::vector<std::optional<ImportMode>> answers_;
  std::vector<std::pair<int, int>> questions_;
  ImportQuestionCapture* previous_ = nullptr;
};

}  // namespace lentar::gui
