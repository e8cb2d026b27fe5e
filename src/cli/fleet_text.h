// The register and the delivery log as lentar-cli fleet prints and reads
// them: one Russian line per board, CSV and JSON, all in UTF-8.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fleet/register.h"

namespace lentar::cli {

// The columns of a register in CSV, in order.
inline constexpr const char* kCsvHeader =
    "name,groups,line,address,speed,load_speed,modem,dial,pulse,init,modem_password,password,"
    "ini,note";

// "NAME: LINE, адрес N, группы: a, b, через модем НОМЕР, ..." for list.
std::string BoardLine(const fleet::BoardRecord& board);
std::string BoardsJson(const std::vector<fleet::BoardRecord>& boards);
std::string BoardsCsv(const std::vector<fleet::BoardRecord>& boards);
// The boards of a CSV file with kCsvHeader's columns (any order, the header
// names them; name and line are required). False with the row and the
// reason (UTF-8) when a row is malformed or a board unsound.
bool ParseBoardsCsv(const std::string& text, std::vector<fleet::BoardRecord>& boards,
                    std::string& error);

std::string LogText(const std::vector<fleet::LogEntry>& entries);
std::string LogCsv(const std::vector<fleet::LogEntry>& entries);
std::string LogJson(const std::vector<fleet::LogEntry>& entries);

// "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (a 'T' in place
// of the blank too) as the log's time text; nullopt when malformed.
std::optional<std::string> NormalizeSince(const std::string& text);

// A JSON string literal of UTF-8 text.
std::string JsonString(const std::string& utf8);

}  // namespace lentar::cli
