// The editing panel's commands, shared by the main window and the free-text
// window: both hold a set text in a SetTextEdit and offer the same buttons
// with the same behaviour on their own editor.
//
// Every tag command works on the editor's selection, else on the tag of its
// kind around the caret, else at the caret (FindEditTarget), opens its dialog
// and puts the dialog's text in place, the caret as the buttons have always
// left it.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "markup/compiler.h"

class QWidget;

namespace lentar {
class TRecProject;
class TTabFontList;
}  // namespace lentar

namespace lentar::gui {

class SetTextEdit;

// "Регистр": the case of the selection, or of the whole text.
void ChangeCaseCommand(QWidget* owner, SetTextEdit& memo);
// "Пробелы": an SP tag.
void SpacesCommand(QWidget* owner, SetTextEdit& memo);
// "Шрифт": a FONT tag from the font bank dialog.
void FontCommand(QWidget* owner, SetTextEdit& memo, TRecProject& project);
// "Параметр": a PAR tag, with the font in force at the caret.
void ParameterCommand(QWidget* owner, SetTextEdit& memo, TRecProject& project);
// "Эффект": an effect tag.
void EffectCommand(QWidget* owner, SetTextEdit& memo);
// "Цвет": a colour tag for the project's channels.
void ColorCommand(QWidget* owner, SetTextEdit& memo, const TRecProject& project);
// "Изображение": a picture tag from the image editor.
void PictureCommand(QWidget* owner, SetTextEdit& memo);
// "Символы": characters from the symbol table behind a FONT tag.
void SymbolsCommand(QWidget* owner, SetTextEdit& memo, TRecProject& project);

// Compiles a set text with the project's font height and colour channels
// against OutDataSize. ok is false when the image is too large; with
// showSizeError the size message is shown then.
CompileResult CompileSetText(const std::string& text, const TRecProject& project,
                             bool showSizeError);
// "Размер данных (<length>) превышает максимальный размер!", then the limit
// and where the operator sets it.
QString DataSizeText(size_t length, size_t limit);
// Writes an export file (replacing it whole); the platform's error text in
// the error box on failure.
bool WriteExportFile(const std::string& path, const std::vector<uint8_t>& bytes);
// The next GPRS file version (kept in the settings) and the package of the
// image under it. The version taken is not given back when the write fails.
std::vector<uint8_t> NextGprsPackage(const CompileResult& image);
// "GPRS": asks for the file in the folder and under the name of the last one
// (LastGprsFile, which becomes the chosen path) and writes the package. Does
// nothing for an empty image, nor when refuse (if given) turns the chosen
// path down.
void SaveGprsForLoading(QWidget* owner, const CompileResult& image,
                        const std::function<bool(const std::string&)>& refuse = {});

// The preview of a window: its own emulation window, made on the first
// preview and kept until the window goes (or it is closed by the operator).
class PreviewHost : public QObject {
  Q_OBJECT

 public:
  explicit PreviewHost(QWidget* owner);
  ~PreviewHost() override;

  // Starts the preview of text in the emulation window and returns; the
  // owner is disabled until it ends or is stopped (finished()). With resetDefaultFont the
  // project's default font is set back from the settings first (the main
  // window's preview), else only the bank's selection is re-applied.
  void Run(const std::string& text, TRecProject& project, bool resetDefaultFont);
  bool Running() const { return running_; }
  // Asks a running preview to stop.
  void Stop();
  // Destroys the emulation window unless a preview is still using it.
  void CloseWindow();
  QWidget* Window() const { return emulation_.data(); }

 signals:
  // The operator closed the emulation window.
  void windowClosed();
  // A preview has ended and the owner is back.
  void finished();

 private:
  void ShowWindow(const TRecProject& project);
  void Finished(TTabFontList& bank);

  bool closing_ = false;
  QWidget* owner_;
  QPointer<QWidget> emulation_;
  // A window closed while its preview still ran: kept alive until the run has
  // let go of it.
  QPointer<QWidget> closedEmulation_;
  bool running_ = false;
};

}  // namespace lentar::gui
