#include "gui/common/filedialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QHeaderView>
#include <QSplitter>
#include <QTreeView>
#include <filesystem>

#include "core/folders.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "gui/common/messages.h"

namespace lentar::gui {

namespace {

FileDialogCapture* gActiveFileCapture = nullptr;

struct FilterPair {
  QString description;
  QString pattern;
};

std::vector<FilterPair> SplitFilter(const QString& filter) {
  const QStringList parts = filter.split(QLatin1Char('|'));
  std::vector<FilterPair> pairs;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    pairs.push_back({parts[i].trimmed(), parts[i + 1].trimmed()});
  }
  if (parts.size() % 2 == 1 && !parts.back().trimmed().isEmpty()) {
    // A description without a pattern: take it as its own pattern.
    pairs.push_back({parts.back().trimmed(), parts.back().trimmed()});
  }
  return pairs;
}

QString ToQtPath(const std::string& path) {
  if (path.empty()) return QString();
  return QString::fromStdU16String(NativePath(path).u16string());
}

std::string FromQtPath(const QString& path) {
  return FromNativePath(std::filesystem::path(path.toStdU16String()));
}

std::string ExtensionOf(const std::string& fileName) {
  const std::string name = FileNameOf(fileName);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

}  // namespace

QStringList QtFileFilters(const QString& filter) {
  QStringList result;
  for (const FilterPair& pair : SplitFilter(filter)) {
    QStringList patterns;
    for (QString p : pair.pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      p = p.trimmed();
      // "*.*" is every file to the operator, with or without a dot in its name.
      if (p == QStringLiteral("*.*")) p = QStringLiteral("*");
      if (!p.isEmpty()) patterns << p;
    }
    if (patterns.isEmpty()) patterns << QStringLiteral("*");
    // A description that already names its patterns in brackets loses them:
    // Qt reads the patterns from the final brackets and they must be ours.
    QString description = pair.description;
    if (description.endsWith(QLatin1Char(')'))) {
      const qsizetype open = description.lastIndexOf(QLatin1Char('('));
      if (open >= 0) description = description.left(open).trimmed();
    }
    result << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                  QLatin1Char(')');
  }
  return result;
}

FileDialogProposal ProposeFile(const QString& filter, int filterIndex,
                               const std::string& fileName) {
  FileDialogProposal proposal;
  const std::vector<FilterPair> pairs = SplitFilter(filter);
  const int count = static_cast<int>(pairs.size());
  if (filterIndex == 0) {
    proposal.name = fileName;
    return proposal;
  }
  proposal.name = FileNameOf(fileName);
  if (filterIndex > 0) {
    proposal.filter = filterIndex <= count ? filterIndex - 1 : 0;
    return proposal;
  }
  const std::string ext = ExtensionOf(fileName);
  if (!ext.empty()) {
    const QString wanted = QStringLiteral("*.") + FromBoardText(ext).toUpper();
    for (int i = 0; i < count; ++i) {
      if (pairs[static_cast<size_t>(i)].pattern.toUpper().contains(wanted)) {
        proposal.filter = i;
        break;
      }
    }
  }
  return proposal;
}

namespace {

// Runs one dialog (or the test capture). Returns the chosen paths, empty on
// Cancel.
std::vector<std::string> RunFileDialog(QWidget* parent, const FileDialogRequest& request,
                                       bool hideReadOnly) {
  if (FileDialogCapture* capture = FileDialogCapture::Active()) {
    const std::string answer = capture->Record(request);
    if (answer.empty()) return {};
    return {answer};
  }
  std::vector<std::string> chosen;
  try {
    QFileDialog dialog(parent, request.title, ToQtPath(request.folder));
    dialog.setNameFilters(request.filters);
    if (request.selectedFilter >= 0 && request.selectedFilter < request.filters.size()) {
      dialog.selectNameFilter(request.filters[request.selectedFilter]);
    }
    if (request.save) {
      dialog.setAcceptMode(QFileDialog::AcceptSave);
      dialog.setFileMode(QFileDialog::AnyFile);
      dialog.setDefaultSuffix(request.defaultExtension);
      dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
      dialog.setSizeGripEnabled(true);
    } else {
      dialog.setAcceptMode(QFileDialog::AcceptOpen);
      dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles
                                          : QFileDialog::ExistingFile);
    }
    // Room for the names, sizes, types and dates of a folder's files; the
    // detail columns of Qt's own dialog as wide as their texts.
    dialog.resize(dialog.sizeHint().expandedTo(QSize(820, 480)));
    if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
      for (int column = 1; column < 4; ++column) {
        details->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
      }
    }
    if (auto* places = dialog.findChild<QSplitter*>(QStringLiteral("splitter"))) {
      places->setSizes({170, 650});  // "Компьютер" and the home folder readable
    }
    // The read-only box of other platforms' dialogs has no counterpart here.
    (void)hideReadOnly;
    if (!request.proposedName.empty()) dialog.selectFile(ToQtPath(request.proposedName));
    if (dialog.exec() != QDialog::Accepted) return {};
    for (const QString& file : dialog.selectedFiles()) chosen.push_back(FromQtPath(file));
  } catch (...) {
    return {};  // a failure inside the dialog reads as Cancel
  }
  return chosen;
}

}  // namespace

std::string DialogStartFolder(const std::string& last) {
  // The program's own folder is no place for the operator's files (for an
  // installed program it is /usr/bin): it counts as no folder at all.
  const std::string program = IncludeSlash(ProgramFolder());
  if (!last.empty() && IncludeSlash(last) != program && FolderExists(last)) return last;
  QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (documents.isEmpty() || !QDir(documents).exists()) documents = QDir::homePath();
  return IncludeSlash(FromQtPath(documents));
}

bool ChooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                    std::string& folder, int filterIndex, std::string& fileName, bool multiple,
                    bool hideReadOnly) {
  const FileDialogProposal proposal = ProposeFile(filter, filterIndex, fileName);
  FileDialogRequest request;
  request.save = false;
  request.title = title;
  request.filters = QtFileFilters(filter);
  request.selectedFilter = proposal.filter;
  request.folder = folder;
  request.proposedName = proposal.name;
  request.multiple = multiple;
  const std::vector<std::string> chosen = RunFileDialog(parent, request, hideReadOnly);
  if (chosen.empty()) return false;
  std::string joined;
  for (const std::string& path : chosen) {
    if (!joined.empty()) joined += "\r\n";
    joined += path;
  }
  fileName = joined;
  folder = FilePathOf(chosen.front());
  return true;
}

bool ChooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                    const QString& defaultExtension, int filterIndex, std::string& fileName,
                    bool overwritePrompt, bool hideReadOnly, std::string& folder) {
  const FileDialogProposal proposal = ProposeFile(filter, filterIndex, fileName);
  FileDialogRequest request;
  request.save = true;
  request.title = title;
  request.filters = QtFileFilters(filter);
  request.selectedFilter = proposal.filter;
  request.folder = folder;
  request.proposedName = proposal.name;
  request.defaultExtension = defaultExtension;
  request.overwritePrompt = overwritePrompt;
  const std::vector<std::string> chosen = RunFileDialog(parent, request, hideReadOnly);
  if (chosen.empty()) return false;
  fileName = chosen.front();
  folder = FilePathOf(fileName);
  return true;
}

FileDialogCapture::FileDialogCapture() : previous_(gActiveFileCapture) {
  gActiveFileCapture = this;
}

FileDialogCapture::~FileDialogCapture() { gActiveFileCapture = previous_; }

FileDialogCapture* FileDialogCapture::Active() { return gActiveFileCapture; }

void FileDialogCapture::QueueAnswer(const std::string& path) { answers_.push_back(path); }

std::string FileDialogCapture::Record(const FileDialogRequest& request) {
  requests_.push_back(request);
  if (answers_.empty()) return std::string();
  std::string answer = answers_.front();
  answers_.erase(answers_.begin());
  return answer;
}

}  // namespace lentar::gui
