// TRegisterWatch: tells a window that the register it shows was changed by
// someone else: another window's connection, a lentar-cli run, another
// operator on a shared register.
//
// A register on a database server announces every change (the register's
// writes NOTIFY its change channel), and the watch listens on the window's own
// connection: the news comes at once, with nothing polled. A register file
// cannot announce anything, so its connection is asked every so often for
// SQLite's data version, which moves whenever another connection commits to
// the file; the question costs no disk read while nothing has changed.
//
// Changes coming close together are told once. The watch works on the
// thread that opened the register, like the register itself.
#pragma once

#include <QObject>
#include <QTimer>
#include <string>

namespace lentar::fleet {
class Register;
}

namespace lentar::gui {

class TRegisterWatch : public QObject {
  Q_OBJECT

 public:
  // How often a register file is asked, in ms.
  static constexpr int kPollMs = 1500;

  TRegisterWatch(fleet::Register& reg, QObject* parent);
  ~TRegisterWatch() override;

 signals:
  void changed();

 private:
  void Poll();
  void Heard();

  std::string connection_;
  bool shared_ = false;
  long long version_ = -1;
  QTimer poll_;
  // Gathers the announcements of one burst of writes into one change.
  QTimer settle_;
};

}  // namespace lentar::gui
