// TRBForm: the one-of-many choice dialog behind ChooseOption.
#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QPushButton;
class QRadioButton;

namespace lentar::gui {

class TRBForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMaxOptions = 128;

  TRBForm(const QString& title, const QStringList& options, int defaultIndex, int columns,
          QWidget* parent = nullptr);

  // Position of the checked option, or -1.
  int CheckedIndex() const;
  int OptionCount() const { return static_cast<int>(options_.size()); }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void UpdateOkButton();

  QList<QRadioButton*> options_;
  QButtonGroup* group_ = nullptr;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
};

}  // namespace lentar::gui
