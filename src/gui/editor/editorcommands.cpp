#include "gui/editor/editorcommands.h"

#include <QTextCursor>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "core/atomicfile.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "gui/common/dialogs.h"
#include "gui/common/filedialogs.h"
#include "gui/common/messages.h"
#include "gui/editor/imgform.h"
#include "gui/editor/settextedit.h"
#include "gui/markup/bankform.h"
#include "gui/markup/colorform.h"
#include "gui/markup/effform.h"
#include "gui/markup/parsetform.h"
#include "gui/markup/rform.h"
#include "gui/markup/symbviewform.h"
#include "markup/fonts.h"
#include "markup/gprs.h"
#include "markup/project.h"
#include "markup/tags.h"

namespace lentar::gui {

namespace {

const QString kTextFileFilter = QStringLiteral("Текстовые файлы (*.txt)|*.txt|Все файлы|*.*");

// Shows the tag being edited selected while its dialog is open.
void SelectTarget(SetTextEdit& memo, const EditTarget& target) {
  if (!target.tagFound) return;
  QTextCursor select = memo.textCursor();
  select.setPosition(target.start);
  select.setPosition(target.end, QTextCursor::KeepAnchor);
  memo.setTextCursor(select);
}

// The number a tag's arguments hold, within the int range.
int TagNumber(const std::string& tag) {
  const int64_t n = TextToInt(SplitTag(tag).parts.args);
  return static_cast<int>(std::clamp<int64_t>(n, INT32_MIN, INT32_MAX));
}

// Puts a tag that replaced target: an edited tag keeps the caret inside it,
// so the button edits it again; a new one leaves the caret after it.
void PutTag(SetTextEdit& memo, const EditTarget& target, const std::string& tag) {
  const int caret = target.tagFound ? target.start + 3 : target.start + static_cast<int>(tag.size());
  memo.ReplaceRange(target.start, target.end, tag, caret);
}

// The font number in force at position: that of the nearest complete FONT
// tag before it, else the default font.
int FontInForce(const std::string& text, int position) {
  const TagLocation tag = FindTagBefore(text, "FONT", position);
  if (tag.found && tag.openPos >= 1 && tag.closePos >= tag.openPos &&
      static_cast<size_t>(tag.closePos) <= text.size()) {
    const SplitTagResult split = SplitTag(
        std::string_view(text).substr(static_cast<size_t>(tag.openPos - 1),
                                      static_cast<size_t>(tag.closePos - tag.openPos + 1)));
    if (split.ok) {
      return static_cast<int>(std::clamp<int64_t>(TextToInt(split.parts.args), INT32_MIN, INT32_MAX));
    }
  }
  return Settings().DefFont;
}

// The platform's text for the error that made a file write fail.
QString WriteErrorText(int error, const std::string& path) {
  if (error == 0) {
    std::error_code ec;
    error = std::filesystem::is_directory(NativePath(path), ec) ? EISDIR : EIO;
  }
  return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

// ---- Tag buttons ----------------------------------------------------------------

void ChangeCaseCommand(QWidget* owner, SetTextEdit& memo) {
  const QTextCursor cursor = memo.textCursor();
  const std::string text = memo.BoardText();
  int start = 0;
  int end = static_cast<int>(text.size());
  if (cursor.hasSelection()) {
    start = cursor.selectionStart();
    end = cursor.selectionEnd();
  }
  int mode = -1;
  if (!ChooseOption(owner, QStringLiteral("Изменить регистр"),
                    QStringLiteral("строчные\rПРОПИСНЫЕ\rКак в предложениях"), 2, 1, mode) ||
      mode < 0 || mode > 2) {
    return;
  }
  const std::string converted =
      ChangeCase(std::string_view(text).substr(static_cast<size_t>(start),
                                               static_cast<size_t>(end - start)),
                 mode);
  memo.ReplaceRange(start, end, converted, start + static_cast<int>(converted.size()));
}

void SpacesCommand(QWidget* owner, SetTextEdit& memo) {
  const EditTarget target = FindEditTarget(memo, "SP");
  int count = 10;
  if (target.tagFound) count = TagNumber(target.text);
  SelectTarget(memo, target);
  if (!InputNumber(owner, QStringLiteral("Вставить пробелы"), QStringLiteral("Количество:"), count) ||
      count < 0) {
    return;
  }
  PutTag(memo, target, "{[Sp:" + std::to_string(count) + "]}");
}

void FontCommand(QWidget* owner, SetTextEdit& memo, TRecProject& project) {
  TTabFontList& bank = project.Fonts();
  const EditTarget target = FindEditTarget(memo, "FONT");
  const int number = target.tagFound ? TagNumber(target.text) : Settings().DefFont;
  SelectTarget(memo, target);
  const std::optional<int> chosen =
      ShowFontBank(owner, bank, BankFormMode::ChooseWithRestore, number);
  if (!chosen || *chosen < 0) return;
  PutTag(memo, target, "{[Font:" + std::to_string(*chosen) + "]}");
}

void ParameterCommand(QWidget* owner, SetTextEdit& memo, TRecProject& project) {
  TTabFontList& bank = project.Fonts();
  const int fontNumber = FontInForce(memo.BoardText(), memo.textCursor().position());
  const EditTarget target = FindEditTarget(memo, "PAR");
  SelectTarget(memo, target);
  const std::string tag = EditParameterTag(owner, bank, fontNumber, target.text);
  if (tag.empty()) return;
  PutTag(memo, target, tag);
}

void EffectCommand(QWidget* owner, SetTextEdit& memo) {
  const EditTarget target = FindEditTarget(memo, "");
  SelectTarget(memo, target);
  const std::string tag = EditEffectTag(owner, target.text);
  if (tag.empty()) return;
  memo.ReplaceRange(target.start, target.end, tag, target.start + 3);
}

void ColorCommand(QWidget* owner, SetTextEdit& memo, const TRecProject& project) {
  const EditTarget target = FindEditTarget(memo, "");
  SelectTarget(memo, target);
  const std::string tag =
      EditColorTag(owner, project.ColorChannelCount, project.ChannelColors, target.text);
  if (tag.empty()) return;
  memo.ReplaceRange(target.start, target.end, tag, target.start + 3);
}

void PictureCommand(QWidget* owner, SetTextEdit& memo) {
  const EditTarget target = FindEditTarget(memo, "IMG");
  SelectTarget(memo, target);
  std::string tag = target.text;
  const TSettings& settings = Settings();
  if (!EditPicture(owner, tag, settings.DefFontHeight, settings.ColorChannelCount,
                   settings.ChannelColors)) {
    return;
  }
  // A new picture leaves the caret after its tag, so that typing goes on
  // beside it (a letter typed inside the tag would break it and the picture
  // would drop out of the set); an edited one keeps the caret in the tag.
  PutTag(memo, target, tag);
}

void SymbolsCommand(QWidget* owner, SetTextEdit& memo, TRecProject& project) {
  TTabFontList& bank = project.Fonts();
  // Symbols are always inserted: in place of the selection, else at the caret.
  const QTextCursor cursor = memo.textCursor();
  const int start = cursor.selectionStart();
  const int end = cursor.selectionEnd();
  const std::string text = ChooseSymbols(owner, bank, QStringLiteral("Вставить символы"));
  if (text.empty()) return;
  memo.ReplaceRange(start, end, text, start + static_cast<int>(text.size()));
}

// ---- Compiling and the GPRS package ---------------------------------------------

CompileResult CompileSetText(const std::string& text, const TRecProject& project,
                             bool showSizeError) {
  const TSettings& settings = Settings();
  const size_t limit = settings.OutDataSize > 0 ? static_cast<size_t>(settings.OutDataSize) : 0;
  CompileResult result =
      CompileBoardData(text, project.FontHeight, project.ColorChannelCount, limit);
  if (!result.ok && showSizeError) ShowError(DataSizeText(result.length(), limit));
  return result;
}

QString DataSizeText(size_t length, size_t limit) {
  // The board's own sentence first; then the limit and where it is set, so
  // the operator knows whether to shorten the set or give the board's real
  // memory size.
  return FromBoardText(DataSizeMessage(length)) +
         QStringLiteral("\nНаибольший размер: %1 байт. Он задаётся в \"Настройки\" → "
                        "\"Опции табло\" → \"Размер данных\".")
             .arg(static_cast<qulonglong>(limit));
}

bool WriteExportFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  errno = 0;
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (WriteFileAtomically(path, view)) return true;
  ShowError(WriteErrorText(errno, path));
  return false;
}

std::vector<uint8_t> NextGprsPackage(const CompileResult& image) {
  TSettings& settings = Settings();
  // The number is taken from the settings file under its lock and stored
  // back at once, so that the command line running meanwhile never hands
  // out the same one. Where the file cannot take it (unwritable, or damaged
  // and left in place), the run's own counter goes on and reaches the file
  // at the end of the run.
  uint32_t version = 0;
  SettingsFileState state = SettingsFileState::Read;
  if (TakeGprsVersion(SettingsFilePath(), NextGprsVersion, settings.GprsFileVersion, version,
                      state)) {
    settings.GprsFileVersion = version;
  } else {
    settings.GprsFileVersion = NextGprsVersion(settings.GprsFileVersion);
  }
  return EncodeGprsPackage(kGprsBoardDataType, image.image.data(), image.length(),
                           static_cast<int32_t>(settings.GprsFileVersion));
}

void SaveGprsForLoading(QWidget* owner, const CompileResult& image,
                        const std::function<bool(const std::string&)>& refuse) {
  if (!image.ok || image.length() == 0) return;
  TSettings& settings = Settings();
  std::string fileName = FileNameOf(settings.LastGprsFile);
  std::string folder = FilePathOf(settings.LastGprsFile);
  if (!ChooseSaveFile(owner, QStringLiteral("Сохранить данные для GPRS загрузки"), kTextFileFilter,
                      QStringLiteral("txt"), 0, fileName, true, true, folder) ||
      (refuse && refuse(fileName))) {
    return;
  }
  settings.LastGprsFile = fileName;
  WriteExportFile(fileName, NextGprsPackage(image));
}

// ---- Preview --------------------------------------------------------------------

PreviewHost::PreviewHost(QWidget* owner) : QObject(owner), owner_(owner) {}

PreviewHost::~PreviewHost() {
  // A run still going ends with its window; nothing is given back then.
  closing_ = true;
  delete emulation_.data();
  delete closedEmulation_.data();
}

void PreviewHost::Stop() {
  if (auto* window = static_cast<TRForm*>(emulation_.data())) window->RequestStop();
}

void PreviewHost::CloseWindow() {
  if (emulation_ && !running_) delete emulation_.data();
}

void PreviewHost::ShowWindow(const TRecProject& project) {
  auto* window = static_cast<TRForm*>(emulation_.data());
  if (!window) {
    // A window of its own, not a child: the owner is disabled while the
    // preview runs and the emulation window must stay usable.
    window = new TRForm(nullptr);
    emulation_ = window;
    connect(window, &TRForm::closed, this, [this, window] {
      if (emulation_ == window) emulation_ = nullptr;
      if (running_) {
        closedEmulation_ = window;
      } else {
        window->deleteLater();
      }
      emit windowClosed();
    });
  }
  window->show();
  window->SetBoard(project.DisplayLength, project.FontHeight, project.ChannelColors,
                   project.ColorChannelCount);
  window->Reset();
  window->raise();
  window->activateWindow();
}

void PreviewHost::Run(const std::string& text, TRecProject& project, bool resetDefaultFont) {
  if (running_) return;
  TTabFontList& bank = project.Fonts();
  const TSettings& settings = Settings();
  owner_->setEnabled(false);
  running_ = true;
  if (resetDefaultFont) project.SetDefaultFont(settings.DefFont);
  bank.Reselect();
  ShowWindow(project);
  // The run goes on from the emulation window's timer; the owner comes back
  // when it ends.
  RunEmulation(text, settings.Speed, settings.DispLen, static_cast<TRForm*>(emulation_.data()),
               project.ColorChannelCount, project.ChannelColors, bank, settings,
               [this, &bank](int64_t) { Finished(bank); });
}

void PreviewHost::Finished(TTabFontList& bank) {
  running_ = false;
  if (closing_) return;
  if (closedEmulation_) closedEmulation_->deleteLater();
  closedEmulation_ = nullptr;
  owner_->setEnabled(true);
  bank.Reselect();
  emit finished();
}

}  // namespace lentar::gui
