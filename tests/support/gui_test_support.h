// Helpers shared by the window tests: driving modal dialogs from the event
// loop as the operator would (a timer finds the dialog through
// QApplication::activeModalWidget and fills it in), finding children by
// object name, the editor's caret, and a main window fixture on a fresh
// program folder.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>

#include "core/paths.h"
#include "core/settings.h"
#include "gui/common/devicework.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/editor/mainlentarform.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace lentar::gui::testing {

inline QString Q(const char8_t* utf8) {
  return QString::fromUtf8(reinterpret_cast<const char*>(utf8));
}

// Runs handle on the modal dialog whose object name is name as soon as it is
// up; polls the event loop until then (a bounded number of turns).
inline void OnDialog(const QString& name, std::function<void(QWidget*)> handle,
                     int turns = 2000) {
  QTimer::singleShot(0, [name, handle, turns] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog && dialog->objectName() == name) {
      handle(dialog);
    } else if (turns > 0) {
      OnDialog(name, handle, turns - 1);
    }
  });
}

// Runs action on the modal window that is up at the next turn of the event loop.
inline void WhenModal(std::function<void(QWidget*)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* dialog = QApplication::activeModalWidget();
    QVERIFY(dialog);
    action(dialog);
  });
}

// Clicks the button named button in dialog; warns when there is none.
inline void Click(QWidget* dialog, const char* button) {
  auto* b = dialog->findChild<QAbstractButton*>(QLatin1String(button));
  if (!b) {
    qWarning("no button %s in %s", button, qPrintable(dialog->objectName()));
    return;
  }
  b->click();
}

// Waits, the event loop running, until the device work the window (and any
// window it holds) runs on a worker (an upload, a search, a call, opening a
// line) has ended and its result is shown. False when it is still running
// after ms.
inline bool WaitForDeviceWork(QWidget* window, int ms = 120000) {
  return QTest::qWaitFor(
      [window] {
        for (const TDeviceWork* work : window->findChildren<TDeviceWork*>())
          if (work->Busy()) return false;
        return true;
      },
      ms);
}

template <typename T>
T* Child(QWidget* parent, const char* name) {
  return parent->findChild<T*>(QLatin1String(name));
}

inline QPushButton* Button(QWidget& form, const char* name) {
  return form.findChild<QPushButton*>(QLatin1String(name));
}

inline QPushButton* Button(QWidget* dialog, const char* name) {
  return dialog->findChild<QPushButton*>(QString::fromLatin1(name));
}

// The main window's editor.
inline QPlainTextEdit* Memo(QWidget& form) { return form.findChild<QPlainTextEdit*>("Memo1"); }

// Puts the caret at position; with an anchor, selects from anchor to position.
inline void SetCaret(QWidget& form, int position, int anchor = -1) {
  QTextCursor c = Memo(form)->textCursor();
  c.setPosition(anchor < 0 ? position : anchor);
  if (anchor >= 0) c.setPosition(position, QTextCursor::KeepAnchor);
  Memo(form)->setTextCursor(c);
}

inline int Caret(QWidget& form) { return Memo(form)->textCursor().position(); }

// A fresh program folder (a temporary one with an empty fonts folder), the
// default settings and an empty project, for tests of the main window. A test
// class derives from it next to QObject, calls MakeProgramFolder in init and
// TearDown in cleanup.
class MainWindowFixture {
 protected:
  // False when the temporary folder could not be made.
  bool MakeProgramFolder() {
    dir_ = std::make_unique<QTemporaryDir>();
    if (!dir_->isValid()) return false;
    folder_ = FromNativePath(dir_->path().toStdString()) + "/";
    SetProgramFolder(folder_);
    EnsureFolder(FontsFolder());
    Settings() = TSettings{};
    project_ = std::make_unique<TRecProject>();
    return true;
  }

  // Shows the main window; forgets the message of a start in an empty folder
  // (no font archive). Needs messages_.
  void ShowMainForm() {
    form_ = std::make_unique<TMainLentarForm>(*project_, std::string());
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    messages_->Clear();  // the missing font archive of an empty folder
  }

  void TearDown() {
    form_.reset();
    project_.reset();
    noDialogs_.reset();
    messages_.reset();
  }

  std::unique_ptr<QTemporaryDir> dir_;
  std::string folder_;
  std::unique_ptr<TRecProject> project_;
  std::unique_ptr<MessageCapture> messages_;
  std::unique_ptr<FileDialogCapture> noDialogs_;
  std::unique_ptr<TMainLentarForm> form_;
};

}  // namespace lentar::gui::testing
