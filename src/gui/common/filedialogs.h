// The open and save file dialogs of the program.
//
// Filters are written the way the program stores them, description and
// pattern pairs separated by "|": "Текстовые файлы (*.txt)|*.txt|Все файлы|*.*".
// Paths going in and out are Windows-1251 texts, like every path the program
// keeps; the file system is reached through core/paths.h.
//
// Tests answer the dialogs through FileDialogCapture instead of a real
// dialog, the same way MessageCapture answers message boxes.
#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

class QWidget;

namespace lentar::gui {

// Qt's form of a "|"-separated filter: one entry per description, each
// ending in its patterns in brackets ("Все файлы (*)"; "*.*" means every file).
QStringList QtFileFilters(const QString& filter);

// Which filter a dialog starts on and which name it proposes, from the filter
// index and the proposed file name:
//   0         the first filter, fileName proposed as it stands;
//   positive  that filter (1-based), only the name part of fileName proposed;
//   negative  the first filter whose pattern holds "*." + fileName's extension
//             (letter case ignored), else the first; the name part proposed.
struct FileDialogProposal {
  int filter = 0;  // 0-based entry of QtFileFilters
  std::string name;
};
FileDialogProposal ProposeFile(const QString& filter, int filterIndex, const std::string& fileName);

// The folder a file dialog opens in: last, the folder used before, when it
// still exists and is not the program's own; else the operator's documents
// folder (else the home folder). With a final separator.
std::string DialogStartFolder(const std::string& last);

// The open-file dialog: the chosen file must exist. On OK fileName is the
// chosen path (with multiple: every chosen path, joined by CR LF) and folder
// the folder of the (first) chosen path, with a final separator. Cancel, and
// any failure inside the dialog, return false and change nothing.
bool ChooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                    std::string& folder, int filterIndex, std::string& fileName, bool multiple,
                    bool hideReadOnly);

// The save-file dialog: the folder must exist; defaultExtension ("txt", no dot)
// is added to a name typed without one; overwritePrompt asks before replacing
// an existing file. On OK fileName is the chosen path and folder its folder.
bool ChooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                    const QString& defaultExtension, int filterIndex, std::string& fileName,
                    bool overwritePrompt, bool hideReadOnly, std::string& folder);

// What a dialog was asked to show, as a test sees it.
struct FileDialogRequest {
  bool save = false;
  QString title;
  QStringList filters;  // Qt form
  int selectedFilter = 0;
  std::string folder;
  std::string proposedName;
  QString defaultExtension;
  bool multiple = false;
  bool overwritePrompt = false;
};

// Capture mode for tests: while one is alive no dialog is shown; every request
// is recorded and answered with the next queued path (Windows-1251), or with
// Cancel when no answer is queued or the queued answer is empty.
class FileDialogCapture {
 public:
  FileDialogCapture();
  ~FileDialogCapture();
  FileDialogCapture(const FileDialogCapture&) = delete;
  FileDialogCapture& operator=(const FileDialogCapture&) = delete;

  // The path chosen in the next dialog; an empty text cancels it.
  void QueueAnswer(const std::string& path);
  void QueueCancel() { QueueAnswer(std::string()); }
  const std::vector<FileDialogRequest>& Requests() const { return requests_; }
  void Clear() { requests_.clear(); }

  // Used by the dialogs.
  static FileDialogCapture* Active();
  std::string Record(const FileDialogRequest& request);

 private:
  std::vector<FileDialogRequest> requests_;
  std::vector<std::string> answers_;
  FileDialogCapture* previous_ = nullptr;
};

}  // namespace lentar::gui
