#include "cli/fleet_text.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "cli/cli_common.h"
#include "core/textutil.h"
#include "fleet/reports.h"

namespace lentar::cli {

namespace {

using fleet::BoardRecord;
using fleet::LogEntry;

std::string Utf8(const std::string& cp1251) { return Cp1251ToUtf8(cp1251); }

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string text;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) text += separator;
    text += Shown(items[i]);
  }
  return text;
}

std::string Nullable(const std::optional<std::string>& utf8) {
  return utf8 ? JsonString(*utf8) : "null";
}

std::string OutcomeWord(const std::string& outcome) {
  if (outcome == "delivered") return "доставлено";
  if (outcome == "failed") return "сбой линии";
  if (outcome == "refused") return "отказ";
  if (outcome == "interrupted") return "прервано";
  if (outcome == "skipped") return "пропущено";
  if (outcome == "not-started") return "не начато";
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

std::string Shown(const std::string& cp1251) { return fleet::VisibleText(Cp1251ToUtf8(cp1251)); }

std::string BoardLine(const BoardRecord& b) {
  std::string text = Shown(b.name) + ": " + Shown(b.line);
  text += b.address >= 0 ? ", адрес " + std::to_string(b.address) : ", без адреса";
  if (!b.groups.empty()) text += ", группы: " + Join(b.groups, ", ");
  if (b.speed) text += ", " + std::to_string(b.speed) + " бит/с";
  if (b.loadSpeed) text += ", загрузка " + std::to_string(b.loadSpeed) + " бит/с";
  if (b.modem) text += std::string(", через модем ") + (b.pulse ? "(импульсный) " : "") + Shown(b.dial);
  if (b.modem && b.modemPassword) text += ", свой пароль на модем";
  if (!b.password.empty()) text += ", пароль задан";
  if (!b.ini.empty()) text += ", настройки " + Shown(b.ini);
  if (!b.note.empty()) text += " — " + Shown(b.note);
  return text;
}

std::string BoardsJson(const std::vector<BoardRecord>& boards, bool withPasswords) {
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
    // Whether a password is set, never the password itself unless asked for:
    // a listing ends up in scripts, logs and tickets.
    std::string passwords = ",\"password_set\":" + std::string(b.password.empty() ? "false" : "true") +
                            ",\"modem_password_set\":" + (b.modemPassword ? "true" : "false");
    if (withPasswords)
      passwords += ",\"modem_password\":" +
                   Nullable(b.modemPassword ? std::optional<std::string>(Utf8(*b.modemPassword))
                                            : std::nullopt) +
                   ",\"password\":" + JsonString(Utf8(b.password));
    out += i ? ",\n " : "\n ";
    out += "{\"name\":" + JsonString(Utf8(b.name)) + ",\"groups\":" + groups +
           ",\"line\":" + JsonString(Utf8(b.line)) + ",\"address\":" + std::to_string(b.address) +
           ",\"speed\":" + std::to_string(b.speed) + ",\"load_speed\":" +
           std::to_string(b.loadSpeed) + ",\"modem\":" + (b.modem ? "true" : "false") +
           ",\"dial\":" + JsonString(Utf8(b.dial)) + ",\"pulse\":" + (b.pulse ? "true" : "false") +
           ",\"init\":" + init + passwords + ",\"ini\":" + JsonString(Utf8(b.ini)) +
           ",\"note\":" + JsonString(Utf8(b.note)) + "}";
  }
  return out + (boards.empty() ? "]\n" : "\n]\n");
}

std::string LogText(const std::vector<LogEntry>& entries) {
  std::string out;
  for (const auto& e : entries) {
    out += Shown(e.started) + "  " + Shown(e.board);
    if (!e.groups.empty()) out += " (" + Join(e.groups, ", ") + ")";
    out += ", попытка " + std::to_string(e.attempt) + ": " + OutcomeWord(e.outcome);
    if (!e.message.empty()) out += ": " + Shown(e.message);
    out += "\n    " + Shown(e.setFile) + ", " + std::to_string(e.size) + " байт, SHA-256 " +
           fleet::VisibleText(e.sha256) + ", " + Shown(e.operatorName);
    if (!e.finished.empty()) out += ", до " + Shown(e.finished);
    out += "\n";
  }
  out += "Попыток: " + std::to_string(entries.size()) + "\n";
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
           ",\"run\":" + JsonString(e.run) + "}";
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
