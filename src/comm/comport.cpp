#include "comm/comport.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/textutil.h"

namespace lentar::comm {

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

constexpr std::array<const char*, kModemResultCount> kModemCodes = {
    "ERROR", "NO CARRIER", "NO DIAL TONE", "BUSY", "NO ANSWER"};

std::string Normalized(std::string_view text) { return UpperCase(TrimBlanks(text)); }

}  // namespace

const char* ModemResultCode(int index) {
  return index >= 0 && index < kModemResultCount ? kModemCodes[static_cast<size_t>(index)] : "";
}

namespace {
constexpr const char8_t* kPermissionDeniedStart = u8"Нет прав на доступ к порту ";
}  // namespace

std::string PermissionDeniedText(const std::string& device) {
  return Utf8ToCp1251(kPermissionDeniedStart) + device +
         Utf8ToCp1251(u8". Порты доступны участникам группы dialout: добавьте пользователя в неё "
                      u8"(sudo usermod -aG dialout ИМЯ) и войдите в систему заново.");
}

bool IsPermissionDeniedText(std::string_view reason) {
  const std::string start = Utf8ToCp1251(kPermissionDeniedStart);
  return reason.substr(0, start.size()) == start;
}

std::string ModemResultText(int index) {
  switch (index) {
    case 0: return Utf8ToCp1251(u8"Ошибка");
    case 1: return Utf8ToCp1251(u8"Нет несущей");
    case 2: return Utf8ToCp1251(u8"Нет гудка");
    case 3: return Utf8ToCp1251(u8"Занято");
    case 4: return Utf8ToCp1251(u8"Нет ответа");
    default: return {};
  }
}

TComPort::TComPort(bool dtrDefault, bool rtsDefault, LineFactory lineFactory)
    : dtrDefault_(dtrDefault),
      rtsDefault_(rtsDefault),
      lineFactory_(std::move(lineFactory)),
      config_(PortConfig::Default(dtrDefault, rtsDefault)),
      dtr_(dtrDefault),
      rts_(rtsDefault) {
  if (lineFactory_) line_ = lineFactory_();
}

const std::vector<std::string>& TComPort::AvailablePorts() const {
  std::call_once(portsListed_, [this] {
    if (line_) availablePorts_ = line_->ListPorts();
  });
  return availablePorts_;
}

TComPort::~TComPort() { Release(); }

void TComPort::Release() {
  if (line_) {
    if (line_->IsOpen()) line_->Purge();
    line_->Close();
  }
  {
    std::lock_guard guard(frameLock_);
    receiving_ = false;
  }
  frameArrived_.notify_all();
  line_.reset();
}

void TComPort::Open(const std::string& name) {
  if (line_) line_->Close();
  {
    std::lock_guard guard(frameLock_);
    receiving_ = false;
    assembler_.Reset();
    // A fresh line owes no replies.
    exchange_.replyOutstanding = false;
    exchange_.framesAccounted = framesArrived_;
  }
  frameArrived_.notify_all();
  SetInterByteTimeout(500);
  portName_ = name;
  if (name.empty()) {
    lastErrorText_ = Utf8ToCp1251(u8"Порт закрыт");
    openFailed_ = true;
    return;
  }
  if (!line_ && lineFactory_) line_ = lineFactory_();
  if (!line_) {
    lastErrorText_ = Utf8ToCp1251(u8"Порт закрыт");
    openFailed_ = true;
    return;
  }
  config_ = PortConfig::Default(dtrDefault_, rtsDefault_);
  {
    std::lock_guard guard(signalLock_);
    dtr_ = dtrDefault_;
    rts_ = rtsDefault_;
    hangUpAsked_ = false;  // the new line starts with the lines as configured
  }
  {
    std::lock_guard watch(watchLock_);
    bool watched = false;
    {
      std::lock_guard guard(callLock_);
      watched = lineState_ != nullptr;
    }
    line_->WatchLineState(watched);
  }
  line_->SetHandlers([this](const uint8_t* bytes, size_t count) { OnData(bytes, count); },
                     [this] { OnTick(); });
  {
    std::lock_guard guard(frameLock_);
    receiving_ = true;
  }
  std::string error;
  if (!line_->Open(name, config_, error)) {
    {
      std::lock_guard guard(frameLock_);
      receiving_ = false;
    }
    lastErrorText_ = error.empty() ? Utf8ToCp1251(u8"Порт закрыт") : error;
    openFailed_ = true;
    return;
  }
  lastErrorText_.clear();
  openFailed_ = false;
}

bool TComPort::IsOpen() const { return line_ && line_->IsOpen(); }

std::string TComPort::LostText() const {
  if (!line_ || line_->IsOpen()) return {};
  return line_->CloseReason();
}

bool TComPort::SendFrame(const uint8_t* payload, size_t length) {
  if (!IsOpen()) return false;
  const std::vector<uint8_t> frame = BuildFrame(payload, length);
  if (frame.empty()) return false;
  return line_->Write(frame.data(), frame.size());
}

void TComPort::OnData(const uint8_t* bytes, size_t count) {
  std::lock_guard lineGuard(lineLock_);
  if (lineMode_) {
    lineArrived_ += count;
    // Whole chunks only: a chunk that does not fit is dropped.
    if (lineCount_ + count < kLineBufferSize) {
      for (size_t i = 0; i < count; ++i)
        lineBuffer_[(lineHead_ + lineCount_ + i) & (kLineBufferSize - 1)] = bytes[i];
      lineCount_ += count;
    }
    return;
  }
  bool arrived = false;
  {
    std::lock_guard guard(frameLock_);
    const int64_t now = NowMs();
    if (count > 0) lastByteMs_ = now;
    for (size_t i = 0; i < count; ++i)
      switch (assembler_.Feed(bytes[i], now, interByteTimeout_)) {
        case FrameAssembler::Outcome::Accepted:
          arrived = true;
          ++framesArrived_;
          break;
        case FrameAssembler::Outcome::Rejected: ++framesRejected_; break;
        case FrameAssembler::Outcome::Pending: break;
      }
  }
  if (arrived) frameArrived_.notify_all();
}

bool TComPort::GetFrame(uint8_t* destination, size_t room, size_t& length) {
  std::lock_guard guard(frameLock_);
  if (!receiving_) {
    length = 0;
    return false;
  }
  return assembler_.Take(destination, room, length);
}

bool TComPort::WaitFrame(uint8_t* destination, size_t room, int deadlineMs, size_t& length) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs > 0 ? deadlineMs : 0);
  std::unique_lock guard(frameLock_);
  frameArrived_.wait_until(guard, deadline, [this] { return !receiving_ || assembler_.Ready(); });
  if (!receiving_) {
    length = 0;
    return false;
  }
  return assembler_.Take(destination, room, length);
}

namespace {
std::string TextOfPayload(const uint8_t* area, size_t n) {
  size_t end = 0;
  while (end < n && area[end] != 0) ++end;
  return std::string(reinterpret_cast<const char*>(area), end);
}
}  // namespace

bool TComPort::GetTextFrame(std::string& text) {
  std::array<uint8_t, kMaxFramePayload> area{};
  size_t n = 0;
  const bool got = GetFrame(area.data(), area.size(), n);
  text = got ? TextOfPayload(area.data(), n) : std::string();
  return got;
}

bool TComPort::WaitTextFrame(std::string& text, int deadlineMs) {
  std::array<uint8_t, kMaxFramePayload> area{};
  size_t n = 0;
  const bool got = WaitFrame(area.data(), area.size(), deadlineMs, n);
  text = got ? TextOfPayload(area.data(), n) : std::string();
  return got;
}

bool TComPort::DiscardFrame() {
  std::array<uint8_t, kMaxFramePayload> area{};
  size_t n = 0;
  return GetFrame(area.data(), area.size(), n);
}

uint64_t TComPort::FramesArrived() const {
  std::lock_guard guard(frameLock_);
  return framesArrived_;
}

uint64_t TComPort::FramesRejected() const {
  std::lock_guard guard(frameLock_);
  return framesRejected_;
}

bool TComPort::Settle(int quietMs, int limitMs, uint64_t& arrived) {
  const int64_t start = NowMs();
  const int64_t limit = start + std::max(limitMs, 0);
  std::array<uint8_t, kMaxFramePayload> area{};
  std::unique_lock guard(frameLock_);
  for (;;) {
    size_t n = 0;
    assembler_.Take(area.data(), area.size(), n);
    arrived = framesArrived_;
    if (!receiving_) return true;
    const int64_t now = NowMs();
    const int64_t quietAt = std::max(lastByteMs_, start) + std::max(quietMs, 0);
    if (now >= quietAt) return true;
    if (now >= limit) return false;
    frameArrived_.wait_for(guard, std::chrono::milliseconds(std::min(quietAt, limit) - now));
  }
}

int32_t TComPort::BaudRate() const { return config_.BaudRate(); }

void TComPort::SetBaudRate(int32_t rate) {
  config_.SetBaudRate(rate);
  ApplyConfig();
}

void TComPort::SetBaudIndex(int index) { SetBaudRate(RateOfIndex(index)); }

void TComPort::ApplyConfig() {
  if (IsOpen()) line_->Apply(config_);
}

int TComPort::InterByteTimeout() const {
  std::lock_guard guard(frameLock_);
  return interByteTimeout_;
}

void TComPort::SetInterByteTimeout(int ms) {
  std::lock_guard guard(frameLock_);
  interByteTimeout_ = ms;
}

void TComPort::SetDTR(bool on) {
  {
    std::lock_guard guard(signalLock_);
    dtr_ = on;
    if (IsOpen()) line_->SetDTR(on);
  }
  CompleteHangUp();
}

void TComPort::SetRTS(bool on) {
  {
    std::lock_guard guard(signalLock_);
    rts_ = on;
    if (IsOpen()) line_->SetRTS(on);
  }
  CompleteHangUp();
}

// On the receive thread: the line-state handler asked to drop DTR.
void TComPort::HangUpFromLineState() {
  hangUpAsked_ = true;
  CompleteHangUp();
}

// Makes an asked-for hang-up unless another thread holds signalLock_; that
// one looks again after releasing it, so the hang-up is never lost and always
// comes after the change that was under way.
void TComPort::CompleteHangUp() {
  while (hangUpAsked_) {
    std::unique_lock guard(signalLock_, std::try_to_lock);
    if (!guard.owns_lock()) return;
    if (!hangUpAsked_.exchange(false)) return;
    dtr_ = false;
    if (IsOpen()) line_->SetDTR(false);
  }
}

void TComPort::RestoreLines() {
  SetRTS(rtsDefault_);
  SetDTR(dtrDefault_);
}

bool TComPort::DSRState() { return IsOpen() && line_->DSR(); }

void TComPort::Purge() {
  if (IsOpen()) line_->Purge();
  std::lock_guard guard(frameLock_);
  assembler_.Reset();
}

void TComPort::SetLineMode(bool on) {
  std::lock_guard guard(lineLock_);
  lineMode_ = on;
}

bool TComPort::LineMode() const {
  std::lock_guard guard(lineLock_);
  return lineMode_;
}

void TComPort::ClearLineBuffer() {
  std::lock_guard guard(lineLock_);
  lineBuffer_.fill(0);
  lineHead_ = 0;
  lineCount_ = 0;
  lineArrived_ = 0;
}

uint64_t TComPort::LineBytesSinceClear() const {
  std::lock_guard guard(lineLock_);
  return lineArrived_;
}

bool TComPort::ReadLine(std::string& line) {
  std::lock_guard guard(lineLock_);
  const auto at = [this](size_t i) { return lineBuffer_[(lineHead_ + i) & (kLineBufferSize - 1)]; };
  size_t cr = 0;
  while (cr < lineCount_ && at(cr) != 0x0D) ++cr;
  if (cr == lineCount_) return false;
  line.clear();
  for (size_t i = 0; i < cr; ++i) line.push_back(static_cast<char>(at(i)));
  size_t end = cr + 1;
  while (end < lineCount_ && (at(end) == 0x0D || at(end) == 0x0A)) ++end;
  lineHead_ = (lineHead_ + end) & (kLineBufferSize - 1);
  lineCount_ -= end;
  return !line.empty();
}

bool TComPort::WaitForLine(const std::string& expected) {
  const std::string wanted = Normalized(expected);
  std::string line;
  while (ReadLine(line))
    if (Normalized(line) == wanted) return true;
  return false;
}

int TComPort::ReadModemResult() {
  std::string line;
  while (ReadLine(line)) {
    const std::string got = Normalized(line);
    for (int i = 0; i < kModemResultCount; ++i)
      if (got == kModemCodes[static_cast<size_t>(i)]) return i;
  }
  return -1;
}

bool TComPort::ModemReset() {
  SetDTR(false);
  SleepMs(1200);
  SetDTR(true);
  SleepMs(1200);
  ClearLineBuffer();
  WriteText("ATZ", true);
  SleepMs(500);
  return WaitForLine("OK");
}

bool TComPort::WriteText(const std::string& text, bool addCrLf) {
  if (!IsOpen()) return false;
  bool ok = line_->Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  if (ok && addCrLf) {
    static constexpr uint8_t kCrLf[2] = {0x0D, 0x0A};
    ok = line_->Write(kCrLf, 2);
  }
  return ok;
}

void TComPort::SetLineStateHandler(LineStateHandler handler) {
  std::lock_guard watch(watchLock_);
  const bool watched = handler != nullptr;
  {
    std::lock_guard guard(callLock_);
    lineState_ = std::move(handler);
  }
  // Outside callLock_: the line carries this into its receive thread, whose
  // tick may be waiting for callLock_.
  if (line_) line_->WatchLineState(watched);
}

void TComPort::OnTick() {
  // A line that closed under us (a network connection dropped, a device
  // pulled out) ends every wait at once: no reply can come any more.
  if (line_ && !line_->IsOpen()) {
    {
      std::lock_guard guard(frameLock_);
      receiving_ = false;
    }
    frameArrived_.notify_all();
  }
  std::lock_guard guard(callLock_);
  if (!lineState_) return;
  bool hangUp = false;
  lineState_(DSRState(), hangUp);
  if (hangUp) HangUpFromLineState();
}

void TComPort::SetConfig(const PortConfig& config) {
  config_ = config;
  ApplyConfig();
}

std::string TComPort::ConfigToHex() const { return config_.ToHex(); }

void TComPort::ConfigFromHex(std::string_view hex) {
  config_.FromHex(hex);
  ApplyConfig();
}

}  // namespace lentar::comm
