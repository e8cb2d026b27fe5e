#include "fleet/reports.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <unordered_set>

#include "core/textutil.h"

namespace lentar::fleet {

namespace {

std::string U(const char8_t* utf8) { return std::string(reinterpret_cast<const char*>(utf8)); }
std::string Utf8(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }

bool StartsGuarded(std::string_view text) {
  if (text.empty()) return false;
  switch (text[0]) {
    case '=': case '+': case '-': case '@': case '\t': case '\r': case '\'': return true;
    default: return false;
  }
}

// The letters that follow a backslash in a list cell (see the header).
bool IsEscapeLetter(char c) {
  return c == '\\' || c == ';' || c == 'n' || c == 'r' || c == 'e' || c == '0';
}

// One item of a list cell (or a lone text such as the modem password), with
// separator (0: none) and line breaks escaped; an empty item is "\e".
std::string EscapedItem(const std::string& item, char separator) {
  if (item.empty()) return "\\e";
  std::string out;
  out.reserve(item.size());
  for (size_t i = 0; i < item.size(); ++i) {
    const char c = item[i];
    if (c == '\\') {
      // Doubled only where it could be taken for an escape.
      out += i + 1 == item.size() || IsEscapeLetter(item[i + 1]) ? "\\\\" : "\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (separator && c == separator) {
      out += '\\';
      out += c;
    } else {
      out += c;
    }
  }
  return out;
}

std::string JoinedItems(const std::vector<std::string>& items, char separator) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += separator;
    out += EscapedItem(items[i], separator == '\n' ? 0 : separator);
  }
  return out;
}

// The items of a list cell, escapes undone; separator splits only where it is
// not escaped.
std::vector<std::string> SplitItems(std::string_view cell, char separator) {
  std::vector<std::string> items;
  std::string item;
  for (size_t i = 0; i < cell.size(); ++i) {
    const char c = cell[i];
    if (c == '\\' && i + 1 < cell.size()) {
      const char next = cell[i + 1];
      switch (next) {
        case '\\': item += '\\'; ++i; continue;
        case ';': item += ';'; ++i; continue;
        case 'n': item += '\n'; ++i; continue;
        case 'r': item += '\r'; ++i; continue;
        case 'e': ++i; continue;
        default: item += '\\'; continue;  // stands for itself
      }
    }
    if (separator != 0 && c == separator) {
      items.push_back(std::move(item));
      item.clear();
      continue;
    }
    item += c;
  }
  items.push_back(std::move(item));
  return items;
}

std::string UnescapedText(std::string_view cell) { return SplitItems(cell, 0).front(); }

std::string CsvLine(const std::vector<std::string>& fields, char separator, const char* lineEnd) {
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) row += separator;
    row += CsvQuoted(fields[i], separator);
  }
  return row + lineEnd;
}

std::optional<long long> Number(std::string_view text, long long lo, long long hi) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == text.size() || text.size() - i > 12) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value < lo || value > hi) return std::nullopt;
  return value;
}

// The length of the UTF-8 character at text[i] when it is well formed, else 0.
size_t Utf8Length(std::string_view text, size_t i, char32_t* codePoint = nullptr) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  size_t length = 0;
  char32_t cp = 0;
  if (c < 0x80) {
    length = 1;
    cp = c;
  } else if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  if (codePoint) *codePoint = cp;
  return length;
}

}  // namespace

// ---- Cells ----------------------------------------------------------------

std::string GuardedCell(std::string_view text) {
  return StartsGuarded(text) ? "'" + std::string(text) : std::string(text);
}

std::string UnguardedCell(std::string_view cell) {
  if (cell.size() >= 2 && cell[0] == '\'' && StartsGuarded(cell.substr(1)))
    return std::string(cell.substr(1));
  return std::string(cell);
}

std::string CsvQuoted(std::string_view field, char separator) {
  bool plain = true;
  for (char c : field)
    if (c == separator || c == '"' || c == '\r' || c == '\n') {
      plain = false;
      break;
    }
  if (plain) return std::string(field);
  std::string quoted = "\"";
  for (char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

bool ReadCsv(std::string_view text, char separator, std::vector<std::vector<std::string>>& rows,
             std::string& error) {
  rows.clear();
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, fieldStarted = false;
  size_t line = 1, quoteLine = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"' && !fieldStarted) {
      quoted = fieldStarted = true;
      quoteLine = line;
    } else if (c == separator) {
      row.push_back(std::move(field));
      field.clear();
      fieldStarted = false;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(std::move(field));
      field.clear();
      fieldStarted = false;
      if (!(row.size() == 1 && row[0].empty())) rows.push_back(std::move(row));
      row.clear();
      ++line;
    } else {
      field += c;
      fieldStarted = true;
    }
  }
  if (quoted) {
    error = U(u8"строка ") + std::to_string(quoteLine) + U(u8": кавычка не закрыта");
    return false;
  }
  if (fieldStarted || !row.empty()) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return true;
}

// ---- Text -----------------------------------------------------------------

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const size_t length = Utf8Length(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool Utf8ToBoardText(std::string_view utf8, std::string& cp1251, std::string& bad) {
  bad.clear();
  if (std::all_of(utf8.begin(), utf8.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    cp1251.assign(utf8);
    return true;
  }
  if (!IsValidUtf8(utf8)) return false;
  std::string converted = Utf8ToCp1251(utf8);
  if (Cp1251ToUtf8(converted) == utf8) {
    cp1251 = std::move(converted);
    return true;
  }
  for (size_t i = 0; i < utf8.size();) {
    const size_t length = Utf8Length(utf8, i);
    const std::string_view one = utf8.substr(i, length);
    if (Cp1251ToUtf8(Utf8ToCp1251(one)) != one) {
      bad.assign(one);
      return false;
    }
    i += length;
  }
  bad = "?";
  return false;
}

std::string VisibleText(std::string_view utf8, bool keepLineBreaks) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    // C1 controls arrive as U+0080..U+009F, encoded C2 80..C2 9F.
    const bool c1 = c == 0xC2 && i + 1 < utf8.size() &&
                    static_cast<unsigned char>(utf8[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(utf8[i + 1]) <= 0x9F;
    if ((c >= 0x20 && c != 0x7F && !c1) || (keepLineBreaks && c == '\n')) {
      out += static_cast<char>(c);
      continue;
    }
    char buf[8];
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else if (c1) {
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned char>(utf8[++i]));
      out += buf;
    } else {
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out;
}

int FirstControlChar(std::string_view cp1251) {
  for (unsigned char c : cp1251)
    if (c < 0x20 || c == 0x7F) return c;
  return -1;
}

// ---- The register ---------------------------------------------------------

std::string BoardsCsv(const std::vector<BoardRecord>& boards, bool withPasswords) {
  std::vector<std::string> header;
  for (const auto& item : SplitItems(kBoardsCsvHeader, ','))
    if (withPasswords || (item != "password" && item != "modem_password")) header.push_back(item);
  std::string out = CsvLine(header, ',', "\n");
  for (const auto& b : boards) {
    std::string init;
    if (b.initLines) {
      std::vector<std::string> lines;
      for (const auto& l : *b.initLines) lines.push_back(Utf8(l));
      init = lines.empty() ? "\\0" : JoinedItems(lines, '\n');
    }
    std::vector<std::string> groups;
    for (const auto& g : b.groups) groups.push_back(Utf8(g));
    std::vector<std::string> row = {
        GuardedCell(Utf8(b.name)), GuardedCell(JoinedItems(groups, ';')), GuardedCell(Utf8(b.line)),
        std::to_string(b.address), std::to_string(b.speed), std::to_string(b.loadSpeed),
        b.modem ? "1" : "0", GuardedCell(Utf8(b.dial)), b.pulse ? "1" : "0", GuardedCell(init)};
    if (withPasswords) {
      row.push_back(b.modemPassword ? GuardedCell(EscapedItem(Utf8(*b.modemPassword), 0)) : "");
      row.push_back(GuardedCell(Utf8(b.password)));
    }
    row.push_back(GuardedCell(Utf8(b.ini)));
    row.push_back(GuardedCell(Utf8(b.note)));
    out += CsvLine(row, ',', "\n");
  }
  return out;
}

bool ReadBoardsCsv(std::string_view bytes, BoardsFile& file, std::string& error) {
  file = BoardsFile{};
  std::string_view text = bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a spreadsheet's mark
  file.windows1251 = !IsValidUtf8(text);
  // The separator the header uses: commas, or a Russian spreadsheet's
  // semicolons.
  char separator = ',';
  {
    const std::string_view head = text.substr(0, text.find('\n'));
    if (std::count(head.begin(), head.end(), ';') > std::count(head.begin(), head.end(), ','))
      separator = ';';
  }
  std::vector<std::vector<std::string>> rows;
  if (!ReadCsv(text, separator, rows, error)) return false;
  if (rows.empty()) {
    error = U(u8"файл пуст: нужна строка заголовка (") + kBoardsCsvHeader + ")";
    return false;
  }
  const std::vector<std::string> known = SplitItems(kBoardsCsvHeader, ',');
  std::map<std::string, size_t> column;
  for (size_t i = 0; i < rows[0].size(); ++i) {
    const std::string& name = rows[0][i];
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      error = U(u8"неизвестный столбец '") + VisibleText(file.windows1251 ? Utf8(name) : name) +
              U(u8"' (известны: ") + kBoardsCsvHeader + ")";
      return false;
    }
    if (!column.emplace(name, i).second) {
      error = U(u8"столбец '") + name + U(u8"' дважды");
      return false;
    }
  }
  for (const char* required : {"name", "line"})
    if (!column.count(required)) {
      error = U(u8"нет столбца '") + required + "'";
      return false;
    }
  file.hasPassword = column.count("password") != 0;
  file.hasModemPassword = column.count("modem_password") != 0;

  std::unordered_set<std::string> names;
  names.reserve(rows.size());
  file.boards.reserve(rows.size() - 1);
  for (size_t r = 1; r < rows.size(); ++r) {
    const auto& row = rows[r];
    const std::string where = U(u8"запись ") + std::to_string(r) + ": ";
    // The cell of a column, unguarded, in Windows-1251 (false after setting
    // error when it holds what Windows-1251 cannot).
    const auto get = [&](const char* name, std::string& value) {
      value.clear();
      const auto it = column.find(name);
      if (it == column.end() || it->second >= row.size()) return true;
      const std::string cell = UnguardedCell(row[it->second]);
      if (file.windows1251) {
        // The one byte Windows-1251 leaves unassigned: the file is in some
        // third encoding.
        if (cell.find('\x98') != std::string::npos) {
          error = where + name + U(u8": байт 0x98 не буква Windows-1251 (файл не в UTF-8 и не в "
                                   u8"Windows-1251)");
          return false;
        }
        value = cell;
        return true;
      }
      std::string bad;
      if (Utf8ToBoardText(cell, value, bad)) return true;
      error = where + name + U(u8": символ «") + VisibleText(bad) +
              U(u8"» нельзя сохранить в реестре (он хранит текст в Windows-1251)");
      return false;
    };
    const auto number = [&](const char* name, long long lo, long long hi, int& value) {
      std::string v;
      if (!get(name, v)) return false;
      if (v.empty()) return true;
      const auto n = Number(v, lo, hi);
      if (!n) {
        error = where + name + " '" + VisibleText(Utf8(v)) + U(u8"' не число ") +
                std::to_string(lo) + ".." + std::to_string(hi);
        return false;
      }
      value = static_cast<int>(*n);
      return true;
    };
    const auto flag = [&](const char* name, bool& value) {
      std::string v;
      if (!get(name, v)) return false;
      if (v.empty() || v == "0") {
        value = false;
      } else if (v == "1") {
        value = true;
      } else {
        error = where + name + U(u8" должен быть 0 или 1, а не '") + VisibleText(Utf8(v)) + "'";
        return false;
      }
      return true;
    };
    BoardRecord b;
    std::string groups, init, modemPassword;
    if (!get("name", b.name) || !get("groups", groups) || !get("line", b.line) ||
        !number("address", -1, 127, b.address) || !number("speed", 0, 57600, b.speed) ||
        !number("load_speed", 0, 57600, b.loadSpeed) || !flag("modem", b.modem) ||
        !get("dial", b.dial) || !flag("pulse", b.pulse) || !get("init", init) ||
        !get("modem_password", modemPassword) || !get("password", b.password) ||
        !get("ini", b.ini) || !get("note", b.note))
      return false;
    for (auto& g : SplitItems(groups, ';'))
      if (!g.empty()) b.groups.push_back(std::move(g));
    if (init == "\\0") {
      b.initLines.emplace();
    } else if (!init.empty()) {
      b.initLines.emplace();
      // Split on the breaks first: a spreadsheet may save them inside a cell
      // as CRLF, while a carriage return of a line itself is written "\r".
      size_t at = 0;
      while (true) {
        const size_t end = std::min(init.find('\n', at), init.size());
        std::string_view piece(init.data() + at, end - at);
        if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
        b.initLines->push_back(UnescapedText(piece));
        if (end == init.size()) break;
        at = end + 1;
      }
    }
    if (!modemPassword.empty()) b.modemPassword = UnescapedText(modemPassword);
    const auto control = [&](const std::string& text, const char* what) {
      const int c = FirstControlChar(text);
      if (c < 0) return false;
      char code[16];
      std::snprintf(code, sizeof code, "\\x%02X", c);
      error = where + what + U(u8" '") + VisibleText(Utf8(text)) +
              U(u8"' содержит управляющий символ ") + code;
      return true;
    };
    if (control(b.name, "name") || control(b.line, "line")) return false;
    for (const auto& g : b.groups)
      if (control(g, "groups")) return false;
    if (b.name.empty()) {
      error = where + U(u8"у табло нет имени");
      return false;
    }
    if (!names.insert(b.name).second) {
      error = where + U(u8"табло '") + VisibleText(Utf8(b.name)) + U(u8"' уже было выше");
      return false;
    }
    file.boards.push_back(std::move(b));
  }
  return true;
}

// ---- The delivery log -----------------------------------------------------

std::string LogOutcomeText(const std::string& outcome) {
  if (outcome == "delivered") return U(u8"Доставлено");
  if (outcome == "failed") return U(u8"Сбой линии");
  if (outcome == "refused") return U(u8"Отказ");
  if (outcome == "skipped") return U(u8"Пропущено");
  if (outcome == "interrupted") return U(u8"Прервано");
  if (outcome == "not-started") return U(u8"Не начато");
  // A row still open (its run going on, or killed) has no outcome yet; a
  // word a later program wrote is shown as it stands.
  return outcome.empty() ? U(u8"не завершена") : outcome;
}

std::string LogCsv(const std::vector<LogEntry>& entries) {
  std::string csv = "\xEF\xBB\xBF";
  csv += CsvLine({U(u8"Начало"), U(u8"Конец"), U(u8"Табло"), U(u8"Группы"), U(u8"Линия"),
                  U(u8"Адрес"), U(u8"Оператор"), U(u8"Набор"), "SHA-256", U(u8"Размер"),
                  U(u8"Попытка"), U(u8"Итог"), U(u8"Сообщение")},
                 ';', "\r\n");
  for (const auto& e : entries) {
    std::string groups;
    for (const auto& g : e.groups) groups += (groups.empty() ? "" : ", ") + g;
    const auto text = [](const std::string& cp1251) { return GuardedCell(Utf8(cp1251)); };
    csv += CsvLine({text(e.started), text(e.finished), text(e.board), text(groups), text(e.line),
                    e.address >= 0 ? std::to_string(e.address) : std::string(),
                    text(e.operatorName), text(e.setFile), GuardedCell(e.sha256),
                    std::to_string(e.size), std::to_string(e.attempt),
                    LogOutcomeText(e.outcome), text(e.message)},
                   ';', "\r\n");
  }
  return csv;
}

std::string LogCsvPlain(const std::vector<LogEntry>& entries) {
  std::string out = CsvLine({"started", "finished", "board", "groups", "line", "address",
                             "operator", "set_file", "sha256", "size", "attempt", "outcome",
                             "message", "run"},
                            ',', "\n");
  for (const auto& e : entries) {
    std::vector<std::string> groups;
    for (const auto& g : e.groups) groups.push_back(Utf8(g));
    out += CsvLine({Utf8(e.started), Utf8(e.finished), Utf8(e.board), JoinedItems(groups, ';'),
                    Utf8(e.line), std::to_string(e.address), Utf8(e.operatorName),
                    Utf8(e.setFile), e.sha256, std::to_string(e.size), std::to_string(e.attempt),
                    e.outcome, Utf8(e.message), e.run},
                   ',', "\n");
  }
  return out;
}

}  // namespace lentar::fleet
