// The simulated board's state and its answers to the board protocol, apart
// from the line: one request payload in, at most one reply payload out.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "simdevice.h"

namespace lentar::boardsim {

struct SimOptions {
  int capacity[2] = {32000, 32000};
  int address = -1;       // -1: answers every address
  std::string password;   // empty: no password, access granted
  // The password a call through the modem must give before the board takes
  // commands from it; unset: the board password.
  std::optional<std::string> modemPassword;
};

class SimBoard {
 public:
  // Called with the buffer index and its bytes after every completed upload.
  using UploadHook = std::function<void(int buffer, const std::vector<uint8_t>& data)>;

  explicit SimBoard(const SimOptions& options);

  // The reply to one request (nullopt: the board stays silent, as it does for
  // a streamed block, another board's address or a malformed request).
  // newRateIndex is set when the reply must go out before the line switches
  // to that speed.
  Reply Handle(const std::vector<uint8_t>& request, int& newRateIndex);

  void SetUploadHook(UploadHook hook) { onUpload_ = std::move(hook); }
  // What the board keeps when its power goes, as one block of bytes: the
  // buffers with their loaded lengths, the buffer on show and the block map
  // of a streamed upload. RestoreMemory takes such a block back (false, and
  // nothing changed, when it is not one); a buffer of another capacity gets
  // as much as fits.
  std::vector<uint8_t> Memory() const;
  bool RestoreMemory(const std::vector<uint8_t>& memory);
  // A modem call ended: the next call asks for the modem password again.
  void EndModemCall() { modemAccess_ = ModemPassword().empty(); }
  // The computer's clock the board's clock runs from (tests of the board).
  void SetTimeSource(std::function<std::time_t()> now) { clock_.SetTimeSource(std::move(now)); }

 private:
  struct Buffer {
    std::vector<uint8_t> data;  // capacity bytes
    int length = 0;             // bytes of the loaded image, 0 = none
  };

  // The commands the board answers, one handler each.
  Reply Connect(Request&);
  Reply Version(Request&);
  Reply ReadAutoBrightness(Request&);
  Reply WriteAutoBrightness(Request&);
  Reply ReadClock(Request&);
  Reply SetClock(Request&);
  Reply Flip(Request&);
  Reply ReadStatus(Request&);
  Reply SetBrightness(Request&);
  Reply WriteBlock(Request&);
  Reply SwitchBuffer(Request&);
  Reply SetSpeed(Request&);
  Reply SetDefaultFont(Request&);
  Reply ReadBufferInfo(Request&);
  Reply EnterPassword(Request&);
  Reply ChangePassword(Request&);
  Reply SwitchRate(Request&);
  Reply ReadOptions(Request&);
  Reply SetClearOnSwitch(Request&);
  Reply EnterModemPassword(Request&);
  Reply ReadModemAccess(Request&);
  Reply BeginStream(Request&);
  Reply StreamBlock(Request&);
  Reply ReadBlockMap(Request&);
  static const std::array<Command<SimBoard>, 24> kCommands;

  bool WriteData(int buffer, size_t offset, const uint8_t* data, size_t length);
  static std::string PasswordOf(const uint8_t* bytes, size_t length);
  const std::string& ModemPassword() const {
    return options_.modemPassword ? *options_.modemPassword : options_.password;
  }

  SimOptions options_;
  Buffer buffers_[2];
  int current_ = 0;
  bool flipped_ = false;
  int speed_ = 3;
  int brightness_ = 5;
  int defaultFont_ = 0;
  int fontCount_ = 4;
  bool clearOnSwitch_ = false;
  bool access_ = true;
  bool modemAccess_ = true;
  // Automatic brightness: on, brightness in darkness, sensor readings for
  // darkness and bright light.
  bool autoBright_ = false;
  int darkBrightness_ = 2;
  int darkSensor_ = 100;
  int brightSensor_ = 900;
  SimClock clock_;
  std::array<uint8_t, 64> blockMap_{};
  UploadHook onUpload_;
};

}  // namespace lentar::boardsim
