#include "fleet/boardline.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <map>

#ifndef _WIN32
#include <fcntl.h>
#include <netdb.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#else
#include <winsock2.h>
#include <ws2tcpip.h>
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

// The address a host name stands for, as the line connects to it: IPv4
// first, then IPv6; empty when the name does not resolve.
std::string ResolvedHost(const std::string& host) {
  for (const int family : {AF_INET, AF_UNSPEC}) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) continue;
    char text[NI_MAXHOST] = {};
    const int named = ::getnameinfo(found->ai_addr, static_cast<socklen_t>(found->ai_addrlen),
                                    text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    const int kind = found->ai_family;
    ::freeaddrinfo(found);
    if (named != 0) continue;
    return kind == AF_INET6 ? "[" + std::string(text) + "]" : std::string(text);
  }
  return {};
}

// socket://HOST:PORT or rfc2217://HOST:PORT taken apart leniently (a port
// with leading zeros, a host in brackets); false when it is no network name
// with a host and a numeric port.
bool SplitNetworkLine(const std::string& line, std::string& host, unsigned long& port) {
  const size_t scheme = line.find("://");
  if (scheme == std::string::npos || !IsNetworkPortName(line)) return false;
  std::string rest = line.substr(scheme + 3);
  while (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos || colon + 1 >= rest.size()) return false;
  const std::string portText = rest.substr(colon + 1);
  host = rest.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host.empty() || portText.size() > 12) return false;
  port = 0;
  for (const char c : portText) {
    if (c < '0' || c > '9') return false;
    port = port * 10 + static_cast<unsigned long>(c - '0');
  }
  return true;
}

}  // namespace

std::string LineKey(const std::string& line) {
  std::string host;
  unsigned long port = 0;
  if (SplitNetworkLine(line, host, port)) {
    const std::string lowered = LowerCase(host);
    std::string address = ResolvedHost(lowered);
    if (address.empty()) address = lowered.find(':') != std::string::npos ? "[" + lowered + "]" : lowered;
    return "tcp://" + address + ":" + std::to_string(port);
  }
  if (IsNetworkPortName(line)) return LowerCase(line);  // malformed: as written
  std::string device = line;
  if (const auto com = SystemDeviceOfComName(line)) device = *com;
#ifdef _WIN32
  return LowerCase(device);
#else
  std::error_code ec;
  const fs::path canonical = fs::weakly_canonical(NativePath(device), ec);
  return ec ? device : FromNativePath(canonical);
#endif
}

LinePlan PlanLines(const std::vector<BoardRecord>& boards) {
  LinePlan plan;
  std::map<std::string, std::string> keys;  // a line's name resolved once
  for (size_t i = 0; i < boards.size(); ++i) {
    auto known = keys.find(boards[i].line);
    if (known == keys.end()) known = keys.emplace(boards[i].line, LineKey(boards[i].line)).first;
    const std::string& key = known->second;
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

std::string LockFilePath(const std::string& folder, const std::string& key) {
  return IncludeSlash(folder) + LockName(key);
}

std::string PrepareLockFolder(const std::string& folder) {
#ifndef _WIN32
  const fs::path native = NativePath(folder);
  std::error_code ec;
  if (native.has_parent_path()) fs::create_directories(native.parent_path(), ec);
  if (::mkdir(native.c_str(), 0700) != 0 && errno != EEXIST)
    return T(u8"не удаётся создать папку блокировок линий '") + folder + "': " +
           std::strerror(errno);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0)
    return T(u8"папка блокировок линий '") + folder + T(u8"' недоступна: ") + std::strerror(errno);
  const std::string tail = T(u8"; нужна папка пользователя с правами 0700");
  if (S_ISLNK(st.st_mode))
    return T(u8"папка блокировок линий '") + folder + T(u8"' — символическая ссылка") + tail;
  if (!S_ISDIR(st.st_mode))
    return T(u8"на месте папки блокировок линий '") + folder + T(u8"' не папка") + tail;
  if (st.st_uid != ::geteuid())
    return T(u8"папка блокировок линий '") + folder +
           T(u8"' принадлежит другому пользователю (uid ") + std::to_string(st.st_uid) + ")" + tail;
  if ((st.st_mode & 022) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return T(u8"в папку блокировок линий '") + folder +
           T(u8"' могут писать другие пользователи (права ") + mode + ")" + tail;
  }
  // The user's own folder, readable by others: nobody else need see which
  // lines are in use.
  if ((st.st_mode & 077) != 0) ::chmod(native.c_str(), 0700);
#else
  std::error_code ec;
  fs::create_directories(NativePath(folder), ec);
#endif
  return {};
}

bool LineLock::Take(const std::string& folder, const std::string& key, const StopFlag* stop,
                    const std::function<void()>& busy, std::string& why) {
#ifndef _WIN32
  why = PrepareLockFolder(folder);
  if (!why.empty()) return false;
  const std::string path = LockFilePath(folder, key);
  // Never through a link: one planted where the lock file goes would have
  // the program create or lock a file of the link's choosing.
  fd_ = ::open(NativePath(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    const int error = errno;
    why = T(u8"не удаётся создать блокировку линии '") + path + "': " +
          (error == ELOOP ? T(u8"на её месте символическая ссылка") : std::string(std::strerror(error)));
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = T(u8"на месте блокировки линии '") + path + T(u8"' не обычный файл");
    ::close(fd_);
    fd_ = -1;
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
