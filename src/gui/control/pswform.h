// TPswForm "Пароли": the password pad over the eight stored passwords.
//
// Eight numbered buttons, each with a label telling whether its slot holds a
// password ("Активен": 1 to 8 characters) or not ("Пустой"); a close button
// that cancels and an extra button, captioned by the caller, that closes with
// OK. The pad works on a copy of the passwords and never changes them.
#pragma once

#include <QDialog>
#include <array>
#include <string>

class QLabel;
class QPushButton;

namespace lentar::gui {

class TPswForm : public QDialog {
  Q_OBJECT

 public:
  // Longest password a slot holds.
  static constexpr size_t kMaxPasswordLength = 8;

  // extraCaption empty: the extra button is hidden. An empty prompt keeps
  // "Нажмите кнопку для смены пароля".
  TPswForm(const std::array<std::string, 8>& stored, const QString& prompt,
           const QString& extraCaption, const QString& closeCaption,
           QWidget* parent = nullptr);

  // 1..8 for a numbered button, -1 for the extra button, 0 otherwise.
  int Result() const { return result_; }
  // Whether slot n (1..8) holds a password of 1 to 8 characters.
  bool SlotActive(int n) const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  // Button1..Button8, the password slots "1".."8": the slot is the result.
  void SlotClick(int number);
  // Button10, the extra choice (such as "Другой"): the result is -1.
  void ExtraClick();

  std::array<std::string, 8> passwords_;
  int result_ = 0;
  QLabel* promptLabel_ = nullptr;
  std::array<QPushButton*, 8> slotButtons_{};
  std::array<QLabel*, 8> stateLabels_{};
  QPushButton* closeButton_ = nullptr;
  QPushButton* extraButton_ = nullptr;
};

// The board's password: a numbered button gives stored password n (possibly
// empty; a slot shown "Пустой" gives the empty password); "Другой" asks for a
// password (and its confirmation when confirm) in the input dialog titled
// title. False when cancelled, when the two texts differ ("Пароль и
// подтверждение не совпадают") or the text is longer than 8 characters
// ("Слишком длинный пароль"). password is Windows-1251.
bool ChoosePassword(QWidget* parent, const std::array<std::string, 8>& stored,
                    const QString& prompt, const QString& title, std::string& password,
                    bool confirm);

// A slot number: 1..8, -1 for the extra button (shown only when extraCaption
// is not empty), 0 when closed.
int ChoosePasswordSlot(QWidget* parent, const std::array<std::string, 8>& stored,
                       const QString& prompt, const QString& extraCaption);

// Changes stored password slot (1..8) of the settings: asks for the password
// and its confirmation ("Сменить пароль №" + slot); refuses a confirmation
// that differs ("Пароль и подтверждение не совпадают") and a password of more
// than 8 characters ("Слишком длинный пароль") in boxes owned by owner.
// Nothing is sent anywhere. True when the password was stored.
bool ChangeStoredPassword(QWidget* owner, int slot);

}  // namespace lentar::gui
