#include "gui/editor/settextedit.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QSet>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "core/keycorr.h"
#include "gui/common/messages.h"
#include "markup/tags.h"

namespace lentar::gui {

namespace {

// The characters of the code page's upper half (0x80..0xFF); the one byte
// the code page leaves unassigned has none.
const QSet<char16_t>& UpperHalf() {
  static const QSet<char16_t> set = [] {
    QSet<char16_t> s;
    for (int b = 0x80; b <= 0xFF; ++b) {
      const QString c = FromBoardText(std::string(1, static_cast<char>(b)));
      if (c.size() == 1 && c[0] != QChar::ReplacementCharacter) s.insert(c[0].unicode());
    }
    return s;
  }();
  return set;
}

bool FitsChar(QChar c) {
  if (c.unicode() < 0x80) return true;
  if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) return true;
  return UpperHalf().contains(c.unicode());
}

}  // namespace

SetTextEdit::SetTextEdit(QWidget* parent) : QPlainTextEdit(parent) {}

bool SetTextEdit::FitsCodePage(const QString& text) {
  for (QChar c : text) {
    if (!FitsChar(c)) return false;
  }
  return true;
}

QString SetTextEdit::ToCodePage(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      out += QLatin1Char('?');
      ++i;
    } else {
      out += FitsChar(c) ? c : QLatin1Char('?');
    }
  }
  return out;
}

std::string SetTextEdit::BoardText() const {
  QString raw = document()->toRawText();
  for (QChar& c : raw) {
    if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) c = QLatin1Char('\n');
  }
  return ToBoardText(raw);
}

std::string SetTextEdit::FileText() const {
  const std::string text = BoardText();
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

void SetTextEdit::SetFileText(const std::string& bytes) { setPlainText(FromBoardText(bytes)); }

void SetTextEdit::ReplaceRange(int start, int end, const std::string& text, int caret) {
  QTextCursor cursor(document());
  cursor.setPosition(start);
  cursor.setPosition(end, QTextCursor::KeepAnchor);
  cursor.insertText(FromBoardText(text));
  const int last = document()->characterCount() - 1;
  cursor.setPosition(std::clamp(caret, 0, std::max(last, 0)));
  setTextCursor(cursor);
  setFocus();
}

// Whether a key event's text is a character to type: shortcuts such as
// Ctrl+A carry control characters, Enter and Tab their own, and none of them is
// corrected.
static bool TypesCharacter(const QString& text) {
  if (text.isEmpty()) return false;
  for (QChar c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
  }
  return true;
}

void SetTextEdit::TypePendingChar() {
  const std::string byte(1, static_cast<char>(pendingChar_));
  pendingChar_ = 0;
  insertPlainText(FromBoardText(byte));
  ensureCursorVisible();
}

void SetTextEdit::keyPressEvent(QKeyEvent* event) {
  // Keyboard correction: the key press asks the rules of the active input
  // language for the byte this key must type in the current upper-case
  // state; that byte then takes the place of the key's character.
  if (corrections_) {
    const KeyboardPlatform& keyboard = Keyboard();
    const bool upper = upperCase_.Upper(keyboard, *event);
    pendingChar_ = corrections_->FindChar(keyboard.ActiveLanguage(), keyboard.VirtualKey(*event),
                                          upper ? 1 : 0) &
                   0xFF;
    if (pendingChar_ != 0 && TypesCharacter(event->text())) {
      TypePendingChar();
      event->accept();
      return;
    }
    // A key whose character is a control character has had its character.
    if (!event->text().isEmpty()) pendingChar_ = 0;
  }
  // A character the board cannot show is refused rather than changed.
  if (!event->text().isEmpty() && !FitsCodePage(event->text())) {
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void SetTextEdit::inputMethodEvent(QInputMethodEvent* event) {
  // An input method delivers the character of the last key press here.
  if (pendingChar_ != 0 && !event->commitString().isEmpty()) {
    QInputMethodEvent rest(event->preeditString(), event->attributes());
    rest.setCommitString(QString(), event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&rest);
    TypePendingChar();
    return;
  }
  if (!FitsCodePage(event->commitString())) {
    QInputMethodEvent fixed(event->preeditString(), event->attributes());
    fixed.setCommitString(ToCodePage(event->commitString()), event->replacementStart(),
                          event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&fixed);
    return;
  }
  QPlainTextEdit::inputMethodEvent(event);
}

void SetTextEdit::insertFromMimeData(const QMimeData* source) {
  if (source && source->hasText()) {
    insertPlainText(ToCodePage(source->text()));
    return;
  }
  QPlainTextEdit::insertFromMimeData(source);
}

bool SetTextEdit::PasteRecoded() {
  const QString clip = QGuiApplication::clipboard()->text();
  if (clip.isEmpty()) return false;
  const TReplaceDefines none;
  const TReplaceDefines& rules = corrections_ ? *corrections_ : none;
  std::string text = rules.RecodeText(Keyboard().ActiveLanguage(), clip.toStdU16String());
  // The editor holds one "\n" per line break: CR LF and a lone CR become one.
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      lines += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      lines += text[i];
    }
  }
  const QTextCursor cursor = textCursor();
  const int start = cursor.selectionStart();
  ReplaceRange(start, cursor.selectionEnd(), lines, start + static_cast<int>(lines.size()));
  return true;
}

EditTarget FindEditTarget(const SetTextEdit& editor, std::string_view tagName) {
  EditTarget target;
  const QTextCursor cursor = editor.textCursor();
  const std::string text = editor.BoardText();
  if (cursor.hasSelection()) {
    target.selection = true;
    target.start = cursor.selectionStart();
    target.end = cursor.selectionEnd();
  } else {
    const int caret = cursor.position();
    target.start = target.end = caret;
    const TagLocation tag = FindTagAt(text, tagName, caret);
    // openPos and closePos are 1-based: the caret stands after the "{" and
    // before the "}".
    if (tag.found && caret >= tag.openPos && caret < tag.closePos) {
      target.tagFound = true;
      target.start = tag.openPos - 1;
      target.end = tag.closePos;
    }
  }
  const size_t start = std::min(static_cast<size_t>(target.start), text.size());
  const size_t end = std::min(static_cast<size_t>(target.end), text.size());
  target.text = text.substr(start, end - start);
  return target;
}

}  // namespace lentar::gui
