#include "fleet/boardline.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/portname.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "fleet/delivery.h"

namespace lentar::fleet {

namespace {

namespace fs = std::filesystem;
using namespace lentar::comm;

std::string T(const char8_t* utf8) { return Utf8ToCp1251(utf8); }

// Letters and digits kept, anything else as '_', with a hash of the whole key
// so that keys differing only in those never share a lock.
std::string LockName(const std::string& key) {
  uint32_t hash = 2166136261u;
  std::string name = "line-";
  for (unsigned char c : key) {
    hash = (hash ^ c) * 16777619u;
    name += c < 0x80 && std::isalnum(c) ? static_cast<char>(c) : '_';
  }
  if (name.size() > 180) name.resize(180);
  char tail[16];
  std::snprintf(tail, sizeof tail, "-%08x.lock", hash);
  return name + tail;
}

}  // namespace

LinePlan PlanLines(const std::vector<BoardRecord>& boards) {
  LinePlan plan;
  for (size_t i = 0; i < boards.size(); ++i) {
    const std::string key = LineKey(boards[i].line);
    auto it = std::find(plan.keys.begin(), plan.keys.end(), key);
    if (it == plan.keys.end()) {
      plan.keys.push_back(key);
      plan.members.emplace_back();
      it = plan.keys.end() - 1;
    }
    plan.members[static_cast<size_t>(it - plan.keys.begin())].push_back(i);
  }
  return plan;
}

LineLock::~LineLock() {
#ifndef _WIN32
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
#endif
}

bool LineLock::Take(const std::string& folder, const std::string& key, const StopFlag* stop,
                    const std::function<void()>& busy, std::string& why) {
#ifndef _WIN32
  std::error_code ec;
  fs::create_directories(NativePath(folder), ec);
  const std::string path = IncludeSlash(folder) + LockName(key);
  fd_ = ::open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    why = T(u8"не удаётся создать блокировку линии '") + path + "': " + std::strerror(errno);
    return false;
  }
  bool said = false;
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      why = T(u8"не удаётся заблокировать линию: ") + std::strerror(errno);
      return false;
    }
    if (!said && busy) busy();
    said = true;
    if (!PauseUnlessStopped(stop, 50)) return false;
  }
  return true;
#else
  // Windows opens a serial port for one program at a time by itself.
  (void)folder;
  (void)key;
  (void)busy;
  (void)why;
  return !(stop && stop->Requested());
#endif
}

std::string DefaultLockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/')
    return IncludeSlash(FromNativeArgument(runtime)) + "lentar-lines";
  std::error_code ec;
  std::string tmp = FromNativePath(fs::temp_directory_path(ec));
  if (tmp.empty()) tmp = "/tmp";
#ifndef _WIN32
  return IncludeSlash(tmp) + "lentar-lines-" + std::to_string(::getuid());
#else
  return IncludeSlash(tmp) + "lentar-lines";
#endif
}

std::string ReachBoard(BoardSession& session, const BoardRecord& board,
                       const TSettings& settings, const LinkOptions& o, bool& refused) {
  refused = false;
  TComPort& port = session.Port();
  if (board.modem && !CarriesModemLines(board.line)) {
    refused = true;
    return T(u8"для модема нужна линия с модемными сигналами: последовательный порт или "
             u8"rfc2217://УЗЕЛ:ПОРТ");
  }
  // The line opened as the board window opens it: a direct line at the
  // board's speed, purged and given time to settle; a modem's port as it is.
  BoardLinkOptions open;
  open.device = board.line;
  open.modem = board.modem;
  open.baseSpeed = board.speed ? SpeedIndex(board.speed) : settings.BaseSpeed;
  open.settleMs = o.settleMs;
  const BoardLinkResult opened = OpenBoardLink(session, open);
  if (opened.outcome != BoardLinkOutcome::Open)
    return opened.reason.empty() ? opened.text : opened.text + " " + opened.reason;
  session.AddressByte = AddressByteFor(board.address);
  if (!board.modem) {
    if (o.replyTimeoutMs > 0) session.ReplyTimeout = o.replyTimeoutMs;
    return {};
  }
  DialRequest request;
  request.portConfigHex = settings.ModemConfig;
  if (board.initLines) {
    request.initLines.clear();
    for (const auto& line : *board.initLines) request.initLines += line + "\n";
  } else {
    request.initLines = settings.ModemInit;
  }
  request.tone = !board.pulse;
  request.number = board.dial;
  const DialStart call = DialAndWait(session, request, o.dialTimeoutMs, o.modemTimings);
  if (!call.dialling) {
    CloseBoardPort(session);
    if (call.interrupted) return InterruptedText();
    return call.status.empty() ? T(u8"соединение не установилось за ") +
                                     std::to_string(o.dialTimeoutMs / 1000) + T(u8" с")
                               : call.status;
  }
  if (o.replyTimeoutMs > 0) session.ReplyTimeout = o.replyTimeoutMs;
  const std::string modemPassword = board.modemPassword.value_or(settings.DefModemPass);
  if (CheckModemAccess(session, [&]() -> std::optional<std::string> { return modemPassword; }))
    return {};
  std::string why;
  if (const std::string lost = port.LostText(); !lost.empty()) {
    why = lost;
  } else if (!port.DSRState()) {
    why = DialStatusCallError(1);
  } else {
    refused = true;
    why = T(u8"табло не открыло доступ через модем (пароль табло на модем)");
  }
  HangUp(session);
  CloseBoardPort(session);
  return why;
}

void LeaveBoard(BoardSession& session, const BoardRecord& board) {
  if (board.modem) HangUp(session);
  CloseBoardPort(session);
}

}  // namespace lentar::fleet
