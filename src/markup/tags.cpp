#include "markup/tags.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "core/textutil.h"

namespace lentar {

namespace {

// Windows-1251 upper-case table, built once from the shared letter pairs so
// that tag names fold exactly like every other text of the program.
const std::array<unsigned char, 256>& UpperTable() {
  static const std::array<unsigned char, 256> table = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) t[c] = UpperChar(static_cast<unsigned char>(c));
    return t;
  }();
  return table;
}

void AssignUpper(std::string& out, std::string_view text) {
  const auto& upper = UpperTable();
  out.resize(text.size());
  for (size_t i = 0; i < text.size(); ++i)
    out[i] = static_cast<char>(upper[static_cast<unsigned char>(text[i])]);
}

// The parts of a body as views into it; the name is not yet upper-cased.
struct BodyViews {
  std::string_view name, args, extra;
};

BodyViews SplitBodyViews(std::string_view body) {
  BodyViews v;
  body = TrimBlankView(body);
  const size_t colon = body.find(':');
  if (colon != std::string_view::npos) {
    v.name = TrimBlankView(body.substr(0, colon));
    std::string_view rest = TrimBlankView(body.substr(colon + 1));
    const size_t slash = rest.find('/');
    if (slash != std::string_view::npos) {
      v.args = TrimBlankView(rest.substr(0, slash));
      v.extra = TrimBlankView(rest.substr(slash + 1));
    } else {
      v.args = rest;
    }
    return v;
  }
  const size_t slash = body.find('/');
  if (slash != std::string_view::npos) {
    v.name = TrimBlankView(body.substr(0, slash));
    v.extra = TrimBlankView(body.substr(slash + 1));
  } else {
    v.name = body;
  }
  return v;
}

// Decodes the entities of buf in place (decoding only ever shortens the text).
void DecodeEntitiesInPlace(std::string& buf) {
  char* const data = buf.data();
  const size_t n = buf.size();
  size_t read = 0, write = 0;
  auto copy = [&](size_t upTo) {  // moves buf[read, upTo) down to write
    const size_t count = upTo - read;
    if (write != read && count != 0) std::memmove(data + write, data + read, count);
    write += count;
    read = upTo;
  };
  size_t from = 0;
  while (from + 1 < n) {
    const void* amp = std::memchr(data + from, '&', n - from - 1);
    if (amp == nullptr) break;
    const size_t start = static_cast<size_t>(static_cast<const char*>(amp) - data);
    if (data[start + 1] != '#') {
      from = start + 1;
      continue;
    }
    const void* semi = std::memchr(data + start + 2, ';', n - start - 2);
    if (semi == nullptr) break;  // no terminator: the rest stays as it is
    const size_t end = static_cast<size_t>(static_cast<const char*>(semi) - data);
    int32_t value = 0;
    const std::string_view content(data + start + 2, end - start - 2);
    if (StrictTextToInt(TrimBlankView(content), value) && value >= 0 && value <= 255) {
      copy(start);
      data[write++] = static_cast<char>(value);
      read = end + 1;
    }
    from = end + 1;
  }
  copy(n);
  buf.resize(write);
}

}  // namespace

std::string DecodeEntities(std::string_view text) {
  std::string out(text);
  DecodeEntitiesInPlace(out);
  return out;
}

std::string NormalizeText(std::string_view text) {
  std::string out;
  out.resize(text.size());
  char* const dst = out.data();
  size_t w = 0;
  for (const char c : text) {
    if (c == '\r' || c == '\n') {
      if (w > 0 && dst[w - 1] == ' ') continue;
      dst[w++] = ' ';
    } else {
      dst[w++] = c;
    }
  }
  out.resize(w);
  DecodeEntitiesInPlace(out);
  return out;
}

size_t ScanWorkBufferSize(size_t textLength) {
  constexpr size_t kMax = std::numeric_limits<size_t>::max();
  if (textLength > (kMax - 1024) / 20) return kMax;
  return 20 * textLength + 1024;
}

ScanResult ScanTags(std::string_view text, std::string_view open, std::string_view close,
                    TagEncoder encoder, int fontHeightBytes, int channelCount) {
  ScanResult result;
  const size_t cap = ScanWorkBufferSize(text.size());
  // The output grows on demand up to the notional buffer size; most texts
  // compile to about their own length.
  std::vector<uint8_t>& buf = result.bytes;
  buf.resize(std::min(cap, text.size() + 1024));
  size_t length = 0;

  auto ensure = [&](size_t wanted) {  // physical size of at least wanted (<= cap)
    if (buf.size() >= wanted) return;
    size_t grown = buf.size() > cap / 2 ? cap : std::max(wanted, buf.size() * 2);
    buf.resize(std::min(cap, grown));
  };
  auto appendText = [&](std::string_view run) {
    const size_t count = length < cap ? std::min(run.size(), cap - length) : 0;
    if (count == 0) return;
    ensure(length + count);
    std::memcpy(buf.data() + length, run.data(), count);
    length += count;
    result.textCount += count;
  };

  if (open.empty() || close.empty()) {
    appendText(text);
    buf.resize(length);
    return result;
  }

  std::string name;  // upper-cased tag name, reused for every tag
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t openAt = text.find(open, pos);
    if (openAt == std::string_view::npos) break;
    const size_t closeAt = text.find(close, openAt);
    if (closeAt == std::string_view::npos) break;

    appendText(text.substr(pos, openAt - pos));

    const size_t bodyStart = std::min(openAt + open.size(), closeAt);
    const std::string_view body = text.substr(bodyStart, closeAt - bodyStart);
    const BodyViews parts = SplitBodyViews(body);
    AssignUpper(name, parts.name);
    ++result.tagCount;

    if (encoder != nullptr) {
      const size_t room = length < cap ? cap - length - 1 : 0;
      const size_t need = 2 * body.size() + 2 * kEncoderSlack;
      ensure(length + std::min(room, need));
      for (;;) {
        const size_t physical = std::min(room, buf.size() - length);
        size_t written = encoder(name, parts.args, parts.extra, buf.data() + length, physical,
                                 fontHeightBytes, channelCount);
        written = std::min(written, physical);
        if (physical < room && written + kEncoderSlack > physical) {
          // The encoder may have stopped for want of room that the notional
          // buffer still has: grow and encode the tag again.
          ensure(length + std::min(room, physical * 2 + 2 * kEncoderSlack));
          continue;
        }
        length += written;
        break;
      }
    }
    pos = closeAt + close.size();
  }
  if (pos < text.size()) appendText(text.substr(pos));
  buf.resize(length);
  return result;
}

TagParts SplitTagBody(std::string_view body) {
  const BodyViews v = SplitBodyViews(body);
  TagParts parts;
  AssignUpper(parts.name, v.name);
  parts.args.assign(v.args);
  parts.extra.assign(v.extra);
  return parts;
}

SplitTagResult SplitTag(std::string_view tagText) {
  SplitTagResult result;
  std::string_view text = TrimBlankView(tagText);
  if (text.substr(0, kTagOpen.size()) == kTagOpen) {
    const size_t closeAt = text.find(kTagClose);
    // "after the third byte": the body holds at least one byte.
    if (closeAt != std::string_view::npos && closeAt >= 3) {
      result.ok = true;
      text = text.substr(2, closeAt - 2);
    }
  }
  result.parts = SplitTagBody(text);
  return result;
}

namespace {

// 1-based byte access.
inline char At(std::string_view text, long long pos) { return text[static_cast<size_t>(pos - 1)]; }

bool BodyStartsWithName(std::string_view body, std::string_view name) {
  const auto& upper = UpperTable();
  body = TrimBlankView(body);
  if (body.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (upper[static_cast<unsigned char>(body[i])] != upper[static_cast<unsigned char>(name[i])])
      return false;
  const std::string_view rest = TrimBlankView(body.substr(name.size()));
  return rest.empty() || rest.front() == ':';
}

}  // namespace

TagLocation FindTagAt(std::string_view text, std::string_view name, int position) {
  TagLocation loc;
  const long long len = static_cast<long long>(text.size());
  long long p = position;
  if (p < len) {
    while (p > 0 && p < len && !(At(text, p) == '{' && At(text, p + 1) == '[')) --p;
  }
  loc.openPos = static_cast<int>(p);
  if (p <= 0 || p > len) return loc;  // closePos stays -1
  const size_t closeAt = text.find(kTagClose, static_cast<size_t>(p - 1));
  if (closeAt == std::string_view::npos) return loc;
  loc.closePos = static_cast<int>(closeAt + 2);  // 1-based position of the "}"
  if (name.empty()) {
    loc.found = true;
    return loc;
  }
  // Body: from just after "{[" up to the "]}" (clamped for the case where the
  // start position did not stand on a "{[").
  const size_t bodyStart = std::min(static_cast<size_t>(p - 1) + 2, closeAt);
  loc.found = BodyStartsWithName(text.substr(bodyStart, closeAt - bodyStart), name);
  return loc;
}

TagLocation FindTagBefore(std::string_view text, std::string_view name, int position) {
  const long long len = static_cast<long long>(text.size());
  long long q = position;
  // Positions two or more past the end all fail the same way; skip them in
  // steps of two so that the outcome stays that of the step-by-step walk.
  if (q > len + 1) q -= ((q - len) / 2) * 2;
  TagLocation loc;
  for (;;) {
    while (q > 1 && q < len && !(At(text, q - 1) == ']' && At(text, q) == '}')) --q;
    if (q < 3) return TagLocation{};
    loc = FindTagAt(text, name, static_cast<int>(q - 2));
    if (loc.found || q <= 2) return loc;
    q -= 2;
  }
}

}  // namespace lentar
