// The fleet's files for people and programs: the register as CSV (written by
// `lentar-cli fleet export`, read by `fleet import`) and the delivery log as
// CSV (written by the fleet log window's "Экспорт в CSV..." and by
// `fleet log --csv`), one writer for both.
//
// Plain C++ over core: no Qt, so that the CSV reader can be fuzzed on its
// own.
//
// A spreadsheet takes a cell that starts with '=', '+', '-' or '@' (and,
// in some, a tab or a carriage return) for a formula: a board called
// =HYPERLINK(...) would run as one the moment an operator opens the file.
// Every text cell that starts so is written with a leading apostrophe, so
// that the spreadsheet shows it as text; a text that itself starts with an
// apostrophe gets one more, and the reader takes exactly one off again.
//
// The register's CSV keeps apart what the register keeps apart:
//  - groups are separated by ';' inside their cell, and a ';' or '\' that is
//    part of a group's name is written "\;" or "\\";
//  - the modem's initialisation lines are separated by line breaks: an empty
//    cell means the settings' ModemInit, "\0" no line at all, "\e" one empty
//    line (an empty line between others stays empty);
//  - the modem password: an empty cell means DefModemPass of the settings,
//    "\e" an empty password;
//  - a backslash not followed by one of these letters stands for itself, so
//    modem commands such as "AT\N0" read as written.
// Passwords are written only when asked for. A file without the password
// (or modem_password) column leaves the register's passwords as they are;
// with the column, an empty board password means none.
//
// Files are UTF-8; a file that is not valid UTF-8 is read as Windows-1251
// (what a spreadsheet saves on a Russian Windows). A character the register
// cannot keep (it keeps Windows-1251) is refused, never turned into '?'.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "fleet/register.h"

namespace lentar::fleet {

// ---- Cells ----------------------------------------------------------------

// text with a leading apostrophe when a spreadsheet would take it for a
// formula (or when it starts with an apostrophe itself).
std::string GuardedCell(std::string_view text);
// The reverse of GuardedCell: one leading apostrophe taken off when a guarded
// character follows it.
std::string UnguardedCell(std::string_view cell);
// A field as CSV writes it: quoted when it holds the separator, a quote or a
// line break.
std::string CsvQuoted(std::string_view field, char separator);
// RFC 4180 records separated by separator; quoted fields may hold the
// separator, quotes and line breaks. Blank lines are skipped. False with the
// line (UTF-8) when a quote is never closed.
bool ReadCsv(std::string_view text, char separator, std::vector<std::vector<std::string>>& rows,
             std::string& error);

// ---- Text -----------------------------------------------------------------

bool IsValidUtf8(std::string_view text);
// UTF-8 text as Windows-1251 in cp1251; false (cp1251 untouched) when a
// character has no place in Windows-1251, with that character in bad (UTF-8),
// or when the text is not UTF-8 at all (bad empty).
bool Utf8ToBoardText(std::string_view utf8, std::string& cp1251, std::string& bad);
// UTF-8 text with every control character written as \xNN (a line break as
// \n, a tab as \t), so that a name never drives the terminal it is printed on.
// keepLineBreaks: line breaks stay (a message of several lines).
std::string VisibleText(std::string_view utf8, bool keepLineBreaks = false);
// The first control character of Windows-1251 text (bytes below 32 and 127),
// or -1.
int FirstControlChar(std::string_view cp1251);

// ---- The register ---------------------------------------------------------

// The register's columns, in the order export writes them. Passwords only
// with withPasswords.
inline constexpr const char* kBoardsCsvHeader =
    "name,groups,line,address,speed,load_speed,modem,dial,pulse,init,modem_password,password,"
    "ini,note";
std::string BoardsCsv(const std::vector<BoardRecord>& boards, bool withPasswords);

struct BoardsFile {
  std::vector<BoardRecord> boards;
  bool hasPassword = false;       // the file has a password column
  bool hasModemPassword = false;  // and a modem_password column
  bool windows1251 = false;       // it was not UTF-8 and was read as Windows-1251
};
// The boards of a CSV file with kBoardsCsvHeader's columns (any order and any
// of them; name and line are required), separated by commas or, as a
// spreadsheet on a Russian desktop saves them, semicolons. False with the
// record and the reason (UTF-8: it quotes the file) when the file is
// malformed, a name appears twice, a value is no number or flag, a name or a
// group holds a control character, or a text holds a character the register
// cannot keep. The records are not checked further (CheckBoard does that).
bool ReadBoardsCsv(std::string_view bytes, BoardsFile& file, std::string& error);

// ---- The delivery log -----------------------------------------------------

// The outcome of an attempt as the operator reads it ("Доставлено", ...;
// "не завершена" for an attempt that never ended), UTF-8.
std::string LogOutcomeText(const std::string& outcome);
// The log as a spreadsheet opens it on a Russian desktop: UTF-8 with a
// byte-order mark, semicolons, Russian headings, CRLF, outcomes in words,
// text cells guarded.
std::string LogCsv(const std::vector<LogEntry>& entries);
// The log for programs: UTF-8, commas, English column names, LF, outcomes as
// the register keeps them (delivered, failed, ...), groups as in the
// register's CSV, no guarding.
std::string LogCsvPlain(const std::vector<LogEntry>& entries);

}  // namespace lentar::fleet
