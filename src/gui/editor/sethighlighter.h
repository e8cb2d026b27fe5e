// Colours the tags of a message set as the board will read them, so that the
// operator sees at a glance what becomes a command and what is shown as text:
// tags by kind (look, timing, content), tags the board drops without trace
// (unknown names, arguments the encoder rejects), an "{[" that no "]}"
// follows (the board shows it and the rest as plain text) and numeric
// entities ("&#65;"), each of which becomes one character on the board.
//
// The reading follows the compiler: a tag runs from "{[" to the first "]}"
// after it, may span lines, and its name and arguments are judged by the
// tag encoder itself. Entities are judged line by line.
#pragma once

#include <QSyntaxHighlighter>
#include <QTextCharFormat>

namespace lentar::gui {

class SetHighlighter : public QSyntaxHighlighter {
  Q_OBJECT

 public:
  enum class Kind {
    LookTag,     // font, colours, inversion
    TimingTag,   // speed, pauses, blinking, frames, effects
    ContentTag,  // blank columns, pictures, live values
    DroppedTag,  // unknown name or rejected arguments: no bytes on the board
    Unclosed,    // "{[" without a "]}" after it: plain text from there on
    Entity,      // "&#N;" with N in 0..255: one character on the board
  };

  SetHighlighter(QTextDocument* document, int fontHeightBytes, int channelCount);

  // The board's font height and colour channels, which some tags' arguments
  // are judged by; highlights again when they change.
  void SetBoard(int fontHeightBytes, int channelCount);

  // The format used for a kind of text.
  static QTextCharFormat FormatOf(Kind kind);
  // How the board takes a tag body (the text between "{[" and "]}").
  Kind ClassifyBody(const QString& body) const;

 protected:
  void highlightBlock(const QString& text) override;

 private:
  // Document position of the last "]}" (-1 when there is none): an "{[" is
  // a tag only when it stands before it.
  int LastClose() const;
  // True when a "]}" starts at or after position.
  bool HasCloseFrom(int position) const;
  // The body of the tag whose "{[" stands at document position open.
  QString BodyFrom(int open) const;
  void ContentsChange(int position, int removed, int added);
  void HighlightEntities(const QString& text);

  int fontHeightBytes_;
  int channelCount_;
  // The last "]}" that the present highlighting was made with.
  int settledClose_ = -1;
  bool reformatting_ = false;
};

}  // namespace lentar::gui
