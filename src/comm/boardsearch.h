// Looking for a board on the serial ports.
//
// Every candidate port is opened in turn and asked for the handshake
// (CmdConnect) with the broadcast address 0x80, which every board answers
// whatever address it was given. The waits around each probe are long on
// purpose: USB adapters and some boards need a moment after the port opens
// and after the bit rate changes before they take a request. They live in the
// search's options, so that each search (and each test) has its own.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace lentar::comm {

class BoardSession;

struct BoardSearchTimings {
  int beforeOpenMs = 1000;  // after the port is shown as the one being probed
  int afterOpenMs = 1000;
  int afterRateMs = 100;    // after the bit rate was set
  int afterPurgeMs = 1000;
  int afterCloseMs = 1000;
};

// One port to probe: the device to open, and its place in the "COM1".."COMn"
// list (-1 for a device that is not one of them, such as /dev/ttyUSB0).
struct SearchCandidate {
  std::string device;
  int comIndex = -1;
  bool operator==(const SearchCandidate&) const = default;
};

// The ports worth probing, in order: "COM1".."COM<comCount>" whose system
// device exists (deviceOfCom gives it, empty for none), then every other
// device the system reports, each device once.
std::vector<SearchCandidate> BoardSearchCandidates(
    const std::vector<std::string>& reported, int comCount,
    const std::function<std::string(int comIndex)>& deviceOfCom);

// candidates with the device the operator typed (a path or a network port
// such as socket://host:port) moved, or added, to the front: the board is
// most likely there, and a network port is never among the reported ones.
// An empty typed device changes nothing.
std::vector<SearchCandidate> TypedDeviceFirst(std::vector<SearchCandidate> candidates,
                                              const std::string& typed);

struct BoardSearchOptions {
  // The link speed of every probe: RateTable[rateIndex]; an index outside
  // 3..7 means 3, 9600 bit/s.
  int rateIndex = 3;
  BoardSearchTimings timings;
};

struct BoardSearchHooks {
  // Called before candidate index is probed (the progress of the search);
  // false ends the search there, as the session's stop flag does. May be
  // empty.
  std::function<bool(size_t index)> beforeProbe;
  // Waits ms milliseconds. Empty: a pause that the session's stop flag ends
  // at once.
  std::function<void(int ms)> wait;
  // Takes candidate index's line before it is opened (one program on a line
  // at a time); false passes the candidate over unopened: the line is in
  // use by another program. May be empty.
  std::function<bool(size_t index)> takeLine;
  // Gives the line taken for candidate index back once it is closed again.
  // May be empty.
  std::function<void(size_t index)> releaseLine;
};

enum class BoardSearchOutcome {
  Found,
  NotFound,
  Interrupted,  // the stop flag (or beforeProbe) ended it before a board answered
};

struct BoardSearchResult {
  BoardSearchOutcome outcome = BoardSearchOutcome::NotFound;
  int index = -1;  // Found: the candidate whose board answered
  // NotFound: "Табло не обнаружено!"; Interrupted: InterruptedText(); Found:
  // "Табло обнаружено на порту " (Windows-1251), the caller names the port.
  std::string text;
};

// Probes the candidates in order on the session's line and leaves the line
// closed. Sets the session's address byte to 0x80 first. The session's stop
// flag ends the search between probes and during its pauses; a probe's own
// exchange is let finish, and its answer is not taken once the stop came.
BoardSearchResult SearchBoard(BoardSession& session, const std::vector<SearchCandidate>& candidates,
                              const BoardSearchOptions& options, const BoardSearchHooks& hooks = {});

}  // namespace lentar::comm
