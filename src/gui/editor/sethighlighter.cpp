#include "gui/editor/sethighlighter.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/textutil.h"
#include "gui/common/messages.h"
#include "markup/encoder.h"
#include "markup/tags.h"

namespace lentar::gui {

namespace {

const QString kOpen = QStringLiteral("{[");
const QString kClose = QStringLiteral("]}");

struct NamedKind {
  std::string_view name;
  SetHighlighter::Kind kind;
};
constexpr std::array<NamedKind, 13> kTagKinds = {{
    {"FONT", SetHighlighter::Kind::LookTag},
    {"FCOL", SetHighlighter::Kind::LookTag},
    {"BCOL", SetHighlighter::Kind::LookTag},
    {"INV", SetHighlighter::Kind::LookTag},
    {"SPD", SetHighlighter::Kind::TimingTag},
    {"PAUSE", SetHighlighter::Kind::TimingTag},
    {"BLINK", SetHighlighter::Kind::TimingTag},
    {"JMP", SetHighlighter::Kind::TimingTag},
    {"FRAME", SetHighlighter::Kind::TimingTag},
    {"EFF", SetHighlighter::Kind::TimingTag},
    {"SP", SetHighlighter::Kind::ContentTag},
    {"IMG", SetHighlighter::Kind::ContentTag},
    {"PAR", SetHighlighter::Kind::ContentTag},
}};

// Room given to the encoder when judging a tag: a record of every kind fits;
// a long run of blank columns stops early, which still counts as written.
constexpr size_t kJudgeRoom = 4096;

}  // namespace

SetHighlighter::SetHighlighter(QTextDocument* document, int fontHeightBytes, int channelCount)
    : QSyntaxHighlighter(document), fontHeightBytes_(fontHeightBytes), channelCount_(channelCount) {
  settledClose_ = LastClose();
  connect(document, &QTextDocument::contentsChange, this, &SetHighlighter::ContentsChange);
}

void SetHighlighter::SetBoard(int fontHeightBytes, int channelCount) {
  if (fontHeightBytes == fontHeightBytes_ && channelCount == channelCount_) return;
  fontHeightBytes_ = fontHeightBytes;
  channelCount_ = channelCount;
  rehighlight();
}

QTextCharFormat SetHighlighter::FormatOf(Kind kind) {
  QTextCharFormat f;
  switch (kind) {
    case Kind::LookTag:
      f.setForeground(QColor(0x1a, 0x4f, 0xc0));
      break;
    case Kind::TimingTag:
      f.setForeground(QColor(0x10, 0x7a, 0x3a));
      break;
    case Kind::ContentTag:
      f.setForeground(QColor(0x80, 0x28, 0xa8));
      break;
    case Kind::DroppedTag:
      f.setForeground(QColor(0x90, 0x90, 0x90));
      f.setUnderlineStyle(QTextCharFormat::WaveUnderline);
      f.setUnderlineColor(QColor(0xd0, 0x00, 0x00));
      break;
    case Kind::Unclosed:
      f.setForeground(QColor(0xb0, 0x00, 0x00));
      f.setBackground(QColor(0xff, 0xe0, 0xe0));
      break;
    case Kind::Entity:
      f.setForeground(QColor(0x9a, 0x4a, 0x00));
      f.setBackground(QColor(0xff, 0xf0, 0xb8));
      break;
  }
  return f;
}

SetHighlighter::Kind SetHighlighter::ClassifyBody(const QString& body) const {
  // Line breaks inside a tag reach the board as spaces, and entities are
  // decoded before tags are read.
  QString flat = body;
  for (QChar& c : flat) {
    if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == QLatin1Char('\n') ||
        c == QLatin1Char('\r')) {
      c = QLatin1Char(' ');
    }
  }
  const TagParts parts = SplitTagBody(DecodeEntities(ToBoardText(flat)));
  const auto known = std::find_if(kTagKinds.begin(), kTagKinds.end(),
                                  [&](const NamedKind& k) { return k.name == parts.name; });
  if (known == kTagKinds.end()) return Kind::DroppedTag;
  // "{[Sp:0]}" asks for no columns and rightly writes nothing.
  if (parts.name == "SP") return known->kind;
  std::array<uint8_t, kJudgeRoom> record{};
  const size_t written = EncodeTag(parts.name, parts.args, parts.extra, record.data(),
                                   record.size(), fontHeightBytes_, channelCount_);
  return written > 0 ? known->kind : Kind::DroppedTag;
}

int SetHighlighter::LastClose() const {
  QTextDocument* doc = document();
  if (!doc) return -1;
  const QTextCursor found =
      doc->find(kClose, doc->characterCount() - 1, QTextDocument::FindBackward);
  return found.isNull() ? -1 : found.selectionStart();
}

bool SetHighlighter::HasCloseFrom(int position) const {
  return !document()->find(kClose, position).isNull();
}

void SetHighlighter::ContentsChange(int position, int removed, int added) {
  // Whether an "{[" is a tag depends on a "]}" anywhere after it: when the
  // last one moved other than by this edit's shift, the lines between its old
  // and its new place change their reading. The edited lines themselves have
  // just been highlighted.
  // New formats are reported as changes of the same length; only new text
  // counts.
  if (reformatting_ || removed == added) return;
  const int old = settledClose_;
  const int now = LastClose();
  settledClose_ = now;
  int shifted = -1;
  bool destroyed = false;
  if (old >= position + removed) {
    shifted = old - removed + added;
  } else if (old >= 0 && old + 2 <= position) {
    shifted = old;
  } else if (old >= 0) {
    destroyed = true;
  }
  if (!destroyed && shifted == now) return;
  QTextDocument* doc = document();
  int from = std::min(now, destroyed ? position : shifted);
  int to = std::max(now, destroyed ? position + added : shifted);
  from = std::max(from, 0);
  to = std::clamp(to + 2, from, std::max(doc->characterCount() - 1, from));
  reformatting_ = true;
  for (QTextBlock b = doc->findBlock(from); b.isValid() && b.position() <= to; b = b.next()) {
    const bool edited = b.position() >= position && b.position() + b.length() <= position + added;
    if (!edited) rehighlightBlock(b);
  }
  reformatting_ = false;
}

QString SetHighlighter::BodyFrom(int open) const {
  const QTextCursor close = document()->find(kClose, open);
  QTextCursor body(document());
  body.setPosition(open + 2);
  if (!close.isNull()) body.setPosition(close.selectionStart(), QTextCursor::KeepAnchor);
  return body.selectedText();
}

void SetHighlighter::highlightBlock(const QString& text) {
  const int base = currentBlock().position();
  const int length = static_cast<int>(text.size());
  int i = 0;
  const int previous = previousBlockState();
  if (previous > 0) {
    // Inside a tag opened on an earlier line; its whole text decides its kind.
    const QTextCharFormat format = FormatOf(ClassifyBody(BodyFrom(previous - 1)));
    const int close = static_cast<int>(text.indexOf(kClose));
    if (close < 0) {
      setFormat(0, length, format);
      setCurrentBlockState(previous);
      HighlightEntities(text);
      return;
    }
    setFormat(0, close + 2, format);
    i = close + 2;
  }
  setCurrentBlockState(0);
  while (i < length) {
    const int open = static_cast<int>(text.indexOf(kOpen, i));
    if (open < 0) break;
    const int close = static_cast<int>(text.indexOf(kClose, open));
    if (close >= 0) {
      setFormat(open, close + 2 - open, FormatOf(ClassifyBody(text.mid(open + 2, close - open - 2))));
      i = close + 2;
      continue;
    }
    if (HasCloseFrom(base + length)) {
      // The tag goes on over the next lines; the state names where it opened
      // (never 0, which means "outside a tag").
      setFormat(open, length - open, FormatOf(ClassifyBody(BodyFrom(base + open))));
      setCurrentBlockState(base + open + 1);
    } else {
      // No "]}" follows anywhere: the board shows this and everything after it.
      setFormat(open, length - open, FormatOf(Kind::Unclosed));
    }
    break;
  }
  HighlightEntities(text);
}

void SetHighlighter::HighlightEntities(const QString& text) {
  // As the compiler decodes them: "&#", the next ";", a number 0..255 between;
  // after a bad one the search goes on behind its ";".
  qsizetype from = 0;
  while (from + 1 < text.size()) {
    const qsizetype start = text.indexOf(QStringLiteral("&#"), from);
    if (start < 0) return;
    const qsizetype end = text.indexOf(QLatin1Char(';'), start + 2);
    if (end < 0) return;
    const std::string content = ToBoardText(text.mid(start + 2, end - start - 2));
    int32_t value = 0;
    if (StrictTextToInt(TrimBlankView(content), value) && value >= 0 && value <= 255) {
      QTextCharFormat f = format(static_cast<int>(start));
      f.merge(FormatOf(Kind::Entity));
      setFormat(static_cast<int>(start), static_cast<int>(end + 1 - start), f);
    }
    from = end + 1;
  }
}

}  // namespace lentar::gui
