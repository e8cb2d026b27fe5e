// Fuzzes the reader of the register's CSV files (what `lentar-cli fleet
// import` reads) on arbitrary bytes.
//
// Invariants checked (any violation aborts):
// - reading never crashes or reads outside the input, whatever the bytes,
//   quotes, separators, escapes and encodings;
// - every board read has a name, without control characters, and no name
//   twice; no group is empty;
// - the boards read, written out with their passwords and read again, are the
//   same boards field by field (empty and absent kept apart), and write out
//   to the same bytes; written without passwords, they read back with the
//   password columns absent;
// - the delivery log writers take any texts.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_set>

#include "fleet/reports.h"

namespace {

using lentar::fleet::BoardRecord;
using lentar::fleet::BoardsFile;

void Check(bool condition) {
  if (!condition) std::abort();
}

bool Same(const BoardRecord& a, const BoardRecord& b) {
  return a.name == b.name && a.groups == b.groups && a.line == b.line && a.address == b.address &&
         a.speed == b.speed && a.loadSpeed == b.loadSpeed && a.modem == b.modem &&
         a.dial == b.dial && a.pulse == b.pulse && a.initLines == b.initLines &&
         a.modemPassword == b.modemPassword && a.password == b.password && a.ini == b.ini &&
         a.note == b.note;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  BoardsFile file;
  std::string error;
  if (!lentar::fleet::ReadBoardsCsv(bytes, file, error)) {
    Check(!error.empty());
    return 0;
  }
  std::unordered_set<std::string> names;
  for (const auto& b : file.boards) {
    Check(!b.name.empty());
    Check(lentar::fleet::FirstControlChar(b.name) < 0);
    Check(names.insert(b.name).second);
    for (const auto& g : b.groups) Check(!g.empty());
  }

  const std::string csv = lentar::fleet::BoardsCsv(file.boards, true);
  BoardsFile again;
  Check(lentar::fleet::ReadBoardsCsv(csv, again, error));
  Check(again.hasPassword && again.hasModemPassword && !again.windows1251);
  Check(again.boards.size() == file.boards.size());
  for (size_t i = 0; i < file.boards.size(); ++i) Check(Same(again.boards[i], file.boards[i]));
  Check(lentar::fleet::BoardsCsv(again.boards, true) == csv);

  BoardsFile withoutPasswords;
  Check(lentar::fleet::ReadBoardsCsv(lentar::fleet::BoardsCsv(file.boards, false), withoutPasswords,
                                     error));
  Check(!withoutPasswords.hasPassword && !withoutPasswords.hasModemPassword);
  Check(withoutPasswords.boards.size() == file.boards.size());

  // The log's writers over the same texts.
  std::vector<lentar::fleet::LogEntry> entries;
  for (const auto& b : file.boards) {
    lentar::fleet::LogEntry e;
    e.board = b.name;
    e.groups = b.groups;
    e.line = b.line;
    e.message = b.note;
    e.setFile = b.ini;
    e.outcome = b.dial;
    entries.push_back(e);
  }
  Check(lentar::fleet::LogCsv(entries).rfind("\xEF\xBB\xBF", 0) == 0);
  (void)lentar::fleet::LogCsvPlain(entries);
  return 0;
}
