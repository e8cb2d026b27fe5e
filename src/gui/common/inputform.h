// TInputForm: the multi-field input dialog behind InputValues.
#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace lentar::gui {

class TInputForm : public QDialog {
  Q_OBJECT

 public:
  // At most kMaxFields (label, edit) pairs are built from prompts; field i
  // starts with values[i] when present.
  static constexpr int kMaxFields = 32;

  TInputForm(const QString& title, const QStringList& prompts, int editWidth,
             const QStringList& values, int columns, QWidget* parent = nullptr);

  int FieldCount() const { return static_cast<int>(edits_.size()); }
  QStringList Values() const;
  QLineEdit* Field(int i) const { return edits_.value(i); }
  // Field i shows dots instead of what is typed, with a "Показать пароль"
  // toggle under the fields.
  void HideTyping(int i);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QList<QLineEdit*> edits_;
  QPushButton* okButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QVBoxLayout* fieldsBox_ = nullptr;
  QCheckBox* showTyping_ = nullptr;
};

}  // namespace lentar::gui
