// The register and the delivery log as lentar-cli fleet prints and reads
// them: one Russian line per board and JSON, all in UTF-8 (the CSV files
// are fleet/reports.h's).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fleet/register.h"

namespace lentar::cli {

// Windows-1251 text for a terminal: UTF-8 with control characters escaped,
// so that a name such as "\x1b[31m" never drives the terminal.
std::string Shown(const std::string& cp1251);

// "NAME: LINE, адрес N, группы: a, b, через модем НОМЕР, ..." for list.
std::string BoardLine(const fleet::BoardRecord& board);
// The boards for programs. Passwords only with withPasswords; otherwise
// "password_set" and "modem_password_set" say whether the board has them.
std::string BoardsJson(const std::vector<fleet::BoardRecord>& boards, bool withPasswords);

std::string LogText(const std::vector<fleet::LogEntry>& entries);
std::string LogJson(const std::vector<fleet::LogEntry>& entries);

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (a 'T' in place
// of the blank too) as the log's time text; nullopt when malformed.
std::optional<std::string> NormalizeSince(const std::string& text);

// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);

}  // namespace lentar::cli
