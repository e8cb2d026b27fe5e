// The text editor of a message set, and the editing steps that the main
// window and the free-text window share.
//
// The set is Windows-1251 text. The editor holds it as Unicode, one character
// per byte of the set: characters the code page lacks are refused when typed
// and become "?" when pasted or dropped, so positions in the editor and in the
// board text always agree. Line breaks are one character in the editor and
// CR LF in the set file.
#pragma once

#include <QPlainTextEdit>
#include <string>
#include <string_view>

#include "gui/layouts/keyboardinput.h"

namespace lentar {
class TReplaceDefines;
}

namespace lentar::gui {

class SetTextEdit : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit SetTextEdit(QWidget* parent = nullptr);

  // The text with one "\n" per line break, as Windows-1251 bytes: position i
  // of the editor is byte i.
  std::string BoardText() const;
  // The text as a set file holds it: lines joined by CR LF.
  std::string FileText() const;
  // Replaces the whole text with a set file's bytes (any of CR LF, LF or CR
  // ends a line). The undo history starts afresh.
  void SetFileText(const std::string& bytes);

  // Replaces the characters [start, end) with text (Windows-1251, "\n" for
  // line breaks), puts the caret at position caret without a selection and
  // focuses the editor. The change can be undone.
  void ReplaceRange(int start, int end, const std::string& text, int caret);

  // The keyboard correction rules that typing applies (none: typing is left
  // as it is). The editor does not own them.
  void SetCorrections(const TReplaceDefines* corrections) { corrections_ = corrections; }
  const TReplaceDefines* Corrections() const { return corrections_; }
  // The byte the last key press asked for, waiting for that key's character;
  // 0 when none.
  int PendingChar() const { return pendingChar_; }
  // "Вставить с перекодировкой": the clipboard's text, converted by the
  // correction rules of the active input language (RecodeText), replaces the
  // selection; the caret goes after it. False, with nothing changed, when the
  // clipboard holds no text.
  bool PasteRecoded();

  // True when every character of text has a Windows-1251 byte.
  static bool FitsCodePage(const QString& text);
  // text with every character the code page lacks replaced by "?" (a
  // surrogate pair counts as one character).
  static QString ToCodePage(const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  // Types the pending byte in place of the key's character and clears it.
  void TypePendingChar();

  const TReplaceDefines* corrections_ = nullptr;
  int pendingChar_ = 0;
  UpperCaseState upperCase_;
};

// The part of the text a tag button works on (the editor pattern of the tag
// buttons): the selection when there is one; otherwise the tag of the wanted
// name around the caret (caret after its "{" and before its "}"; an empty name
// accepts any tag); otherwise the empty range at the caret.
struct EditTarget {
  int start = 0;        // editor position where the replaced range begins
  int end = 0;          // position after it
  bool selection = false;
  bool tagFound = false;
  std::string text;     // the range's text, Windows-1251
};
EditTarget FindEditTarget(const SetTextEdit& editor, std::string_view tagName);

}  // namespace lentar::gui
