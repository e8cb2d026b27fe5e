#include "cli/fleet_text.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "cli/cli_common.h"
#include "core/textutil.h"

namespace lentar::cli {

namespace {

using fleet::BoardRecord;
using fleet::LogEntry;

std::string Utf8(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) text += separator;
    text += Utf8(items[i]);
  }
  return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> items;
  if (text.empty()) return items;
  size_t at = 0;
  while (true) {
    const size_t end = text.find(separator, at);
    items.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return items;
}

std::string CsvField(const std::string& utf8) {
  if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
  std::string quoted = "\"";
  for (char c : utf8) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvRow(const std::vector<std::string>& fields) {
  std::string row;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) row += ',';
    row += CsvField(fields[i]);
  }
  return row + "\n";
}

// RFC 4180 records: quoted fields may hold commas, quotes and line breaks.
bool ParseCsv(const std::string& text, std::vector<std::vector<std::string>>& rows,
              std::string& error) {
  rows.clear();
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, fieldStarted = false;
  size_t line = 1;
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
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
      fieldStarted = false;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(field);
      field.clear();
      fieldStarted = false;
      if (!(row.size() == 1 && row[0].empty())) rows.push_back(row);
      row.clear();
      ++line;
    } else {
      field += c;
      fieldStarted = true;
    }
  }
  if (quoted) {
    error = "строка " + std::to_string(line) + ": кавычка не закрыта";
    return false;
  }
  if (fieldStarted || !row.empty()) {
    row.push_back(field);
    rows.push_back(row);
  }
  return true;
}

std::string Nullable(const std::optional<std::string>& utf8) {
  return utf8 ? JsonString(*utf8) : "null";
}

std::optional<std::string> InitText(const BoardRecord& b) {
  if (!b.initLines) return std::nullopt;
  return Join(*b.initLines, "\n");
}

std::string OutcomeWord(const std::string& outcome) {
  if (outcome == "delivered") return "доставлено";
  if (outcome == "failed") return "сбой линии";
  if (outcome == "refused") return "отказ";
  if (outcome == "interrupted") return "прервано";
  if (outcome == "skipped") return "пропущено";
  if (outcome.empty()) return "не завершено";
  return outcome;
}

}  // namespace

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string BoardLine(const BoardRecord& b) {
  std::string text = Utf8(b.name) + ": " + Utf8(b.line);
  text += b.address >= 0 ? ", адрес " + std::to_string(b.address) : ", без адреса";
  if (!b.groups.empty()) text += ", группы: " + Join(b.groups, ", ");
  if (b.speed) text += ", " + std::to_string(b.speed) + " бит/с";
  if (b.loadSpeed) text += ", загрузка " + std::to_string(b.loadSpeed) + " бит/с";
  if (b.modem) text += std::string(", через модем ") + (b.pulse ? "(импульсный) " : "") + Utf8(b.dial);
  if (!b.password.empty()) text += ", пароль задан";
  if (!b.ini.empty()) text += ", настройки " + Utf8(b.ini);
  if (!b.note.empty()) text += " — " + Utf8(b.note);
  return text;
}

std::string BoardsJson(const std::vector<BoardRecord>& boards) {
  std::string out = "[";
  for (size_t i = 0; i < boards.size(); ++i) {
    const BoardRecord& b = boards[i];
    std::string groups = "[";
    for (size_t g = 0; g < b.groups.size(); ++g)
      groups += (g ? "," : "") + JsonString(Utf8(b.groups[g]));
    groups += "]";
    std::string init = "null";
    if (b.initLines) {
      init = "[";
      for (size_t l = 0; l < b.initLines->size(); ++l)
        init += (l ? "," : "") + JsonString(Utf8((*b.initLines)[l]));
      init += "]";
    }
    out += i ? ",\n " : "\n ";
    out += "{\"name\":" + JsonString(Utf8(b.name)) + ",\"groups\":" + groups +
           ",\"line\":" + JsonString(Utf8(b.line)) + ",\"address\":" + std::to_string(b.address) +
           ",\"speed\":" + std::to_string(b.speed) + ",\"load_speed\":" +
           std::to_string(b.loadSpeed) + ",\"modem\":" + (b.modem ? "true" : "false") +
           ",\"dial\":" + JsonString(Utf8(b.dial)) + ",\"pulse\":" + (b.pulse ? "true" : "false") +
           ",\"init\":" + init + ",\"modem_password\":" +
           Nullable(b.modemPassword ? std::optional<std::string>(Utf8(*b.modemPassword))
                                    : std::nullopt) +
           ",\"password\":" + JsonString(Utf8(b.password)) + ",\"ini\":" + JsonString(Utf8(b.ini)) +
           ",\"note\":" + JsonString(Utf8(b.note)) + "}";
  }
  return out + (boards.empty() ? "]\n" : "\n]\n");
}

std::string BoardsCsv(const std::vector<BoardRecord>& boards) {
  std::string out = std::string(kCsvHeader) + "\n";
  for (const auto& b : boards)
    out += CsvRow({Utf8(b.name), Join(b.groups, ";"), Utf8(b.line), std::to_string(b.address),
                   std::to_string(b.speed), std::to_string(b.loadSpeed), b.modem ? "1" : "0",
                   Utf8(b.dial), b.pulse ? "1" : "0", InitText(b).value_or(""),
                   b.modemPassword ? Utf8(*b.modemPassword) : "", Utf8(b.password), Utf8(b.ini),
                   Utf8(b.note)});
  return out;
}

bool ParseBoardsCsv(const std::string& text, std::vector<BoardRecord>& boards, std::string& error) {
  boards.clear();
  std::vector<std::vector<std::string>> rows;
  if (!ParseCsv(text, rows, error)) return false;
  if (rows.empty()) {
    error = "файл пуст: нужна строка заголовка (" + std::string(kCsvHeader) + ")";
    return false;
  }
  std::map<std::string, size_t> column;
  const std::vector<std::string> known = Split(kCsvHeader, ',');
  for (size_t i = 0; i < rows[0].size(); ++i) {
    std::string name = rows[0][i];
    if (i == 0 && name.rfind("\xEF\xBB\xBF", 0) == 0) name.erase(0, 3);  // a spreadsheet's BOM
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      error = "неизвестный столбец '" + name + "' (известны: " + kCsvHeader + ")";
      return false;
    }
    column[name] = i;
  }
  for (const char* required : {"name", "line"})
    if (!column.count(required)) {
      error = std::string("нет столбца '") + required + "'";
      return false;
    }
  for (size_t r = 1; r < rows.size(); ++r) {
    const auto& row = rows[r];
    const std::string where = "запись " + std::to_string(r) + ": ";
    const auto get = [&](const char* name) -> std::string {
      const auto it = column.find(name);
      return it != column.end() && it->second < row.size() ? row[it->second] : std::string();
    };
    const auto number = [&](const char* name, long long lo, long long hi, int& value) {
      const std::string v = get(name);
      if (v.empty()) return true;
      const auto n = ParseNumber(v, lo, hi);
      if (!n) {
        error = where + name + " '" + v + "' не число " + std::to_string(lo) + ".." +
                std::to_string(hi);
        return false;
      }
      value = static_cast<int>(*n);
      return true;
    };
    const auto flag = [&](const char* name, bool& value) {
      const std::string v = get(name);
      if (v.empty() || v == "0") value = false;
      else if (v == "1") value = true;
      else {
        error = where + name + " должен быть 0 или 1, а не '" + v + "'";
        return false;
      }
      return true;
    };
    BoardRecord b;
    b.name = CommandLineText(get("name"));
    for (const auto& g : Split(get("groups"), ';')) b.groups.push_back(CommandLineText(g));
    b.line = CommandLineText(get("line"));
    if (!number("address", -1, 127, b.address) || !number("speed", 0, 57600, b.speed) ||
        !number("load_speed", 0, 57600, b.loadSpeed) || !flag("modem", b.modem) ||
        !flag("pulse", b.pulse))
      return false;
    b.dial = CommandLineText(get("dial"));
    if (const std::string init = get("init"); !init.empty()) {
      std::vector<std::string> lines;
      for (auto& l : Split(init, '\n')) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        lines.push_back(CommandLineText(l));
      }
      b.initLines = lines;
    }
    if (const std::string mp = get("modem_password"); !mp.empty())
      b.modemPassword = CommandLineText(mp);
    b.password = CommandLineText(get("password"));
    b.ini = CommandLineText(get("ini"));
    b.note = CommandLineText(get("note"));
    if (const std::string why = fleet::CheckBoard(b); !why.empty()) {
      error = where + Utf8(why);
      return false;
    }
    for (const auto& other : boards)
      if (other.name == b.name) {
        error = where + "табло '" + Utf8(b.name) + "' уже было выше";
        return false;
      }
    boards.push_back(std::move(b));
  }
  return true;
}

std::string LogText(const std::vector<LogEntry>& entries) {
  std::string out;
  for (const auto& e : entries) {
    out += Utf8(e.started) + "  " + Utf8(e.board);
    if (!e.groups.empty()) out += " (" + Join(e.groups, ", ") + ")";
    out += ", попытка " + std::to_string(e.attempt) + ": " + OutcomeWord(e.outcome);
    if (!e.message.empty()) out += ": " + Utf8(e.message);
    out += "\n    " + Utf8(e.setFile) + ", " + std::to_string(e.size) + " байт, SHA-256 " +
           e.sha256 + ", " + Utf8(e.operatorName);
    if (!e.finished.empty()) out += ", до " + Utf8(e.finished);
    out += "\n";
  }
  out += "Попыток: " + std::to_string(entries.size()) + "\n";
  return out;
}

std::string LogCsv(const std::vector<LogEntry>& entries) {
  std::string out =
      "started,finished,board,groups,line,address,operator,set_file,sha256,size,attempt,outcome,"
      "message\n";
  for (const auto& e : entries)
    out += CsvRow({Utf8(e.started), Utf8(e.finished), Utf8(e.board), Join(e.groups, ";"),
                   Utf8(e.line), std::to_string(e.address), Utf8(e.operatorName),
                   Utf8(e.setFile), e.sha256, std::to_string(e.size), std::to_string(e.attempt),
                   e.outcome, Utf8(e.message)});
  return out;
}

std::string LogJson(const std::vector<LogEntry>& entries) {
  std::string out = "[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const LogEntry& e = entries[i];
    std::string groups = "[";
    for (size_t g = 0; g < e.groups.size(); ++g)
      groups += (g ? "," : "") + JsonString(Utf8(e.groups[g]));
    groups += "]";
    out += i ? ",\n " : "\n ";
    out += "{\"started\":" + JsonString(Utf8(e.started)) + ",\"finished\":" +
           JsonString(Utf8(e.finished)) + ",\"board\":" + JsonString(Utf8(e.board)) +
           ",\"groups\":" + groups + ",\"line\":" + JsonString(Utf8(e.line)) + ",\"address\":" +
           std::to_string(e.address) + ",\"operator\":" + JsonString(Utf8(e.operatorName)) +
           ",\"set_file\":" + JsonString(Utf8(e.setFile)) + ",\"sha256\":" + JsonString(e.sha256) +
           ",\"size\":" + std::to_string(e.size) + ",\"attempt\":" + std::to_string(e.attempt) +
           ",\"outcome\":" + JsonString(e.outcome) + ",\"message\":" + JsonString(Utf8(e.message)) +
           "}";
  }
  return out + (entries.empty() ? "]\n" : "\n]\n");
}

std::optional<std::string> NormalizeSince(const std::string& text) {
  // YYYY-MM-DD, then optionally [ T]HH:MM, then optionally :SS.
  const auto digits = [&](size_t at, size_t n) {
    if (at + n > text.size()) return false;
    for (size_t i = at; i < at + n; ++i)
      if (text[i] < '0' || text[i] > '9') return false;
    return true;
  };
  if (!(digits(0, 4) && text.size() >= 10 && text[4] == '-' && digits(5, 2) && text[7] == '-' &&
        digits(8, 2)))
    return std::nullopt;
  const int month = std::stoi(text.substr(5, 2)), day = std::stoi(text.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  std::string out = text.substr(0, 10);
  if (text.size() == 10) return out;
  if (!((text[10] == ' ' || text[10] == 'T') && digits(11, 2) && text.size() >= 16 &&
        text[13] == ':' && digits(14, 2)))
    return std::nullopt;
  if (std::stoi(text.substr(11, 2)) > 23 || std::stoi(text.substr(14, 2)) > 59) return std::nullopt;
  out += " " + text.substr(11, 5);
  if (text.size() == 16) return out;
  if (!(text.size() == 19 && text[16] == ':' && digits(17, 2) && std::stoi(text.substr(17, 2)) < 60))
    return std::nullopt;
  return out + text.substr(16, 3);
}

}  // namespace lentar::cli
