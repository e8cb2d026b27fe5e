// A port over the in-memory line with a scripted dial-up modem behind it: it
// answers "ATZ", the initialisation lines and the dial command as told,
// records every command line, and raises DSR when the test connects the
// call.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "comm/comport.h"
#include "support/memoryline.h"

namespace lentar::gui::testing {

using comm::TComPort;
using comm::MemoryLine;

class ScriptedModem {
 public:
  struct Script {
    bool answersReset = true;         // "OK" to "ATZ"
    std::string initReply = "OK";     // to every other line before the dial
    std::string dialReply;            // to the dial command; empty: silence
  };

  ScriptedModem()
      : peer_(std::make_shared<MemoryLine::Peer>()),
        port_(true, true, [this] {
          auto line = std::make_unique<MemoryLine>(peer_);
          line_ = line.get();
          return line;
        }) {
    peer_->dsr = false;
    peer_->onWrite = [this](const std::vector<uint8_t>& written) { OnWrite(written); };
    port_.Open("modem");
  }

  Script& Answers() { return script_; }
  TComPort& Port() { return port_; }
  MemoryLine::Peer& Peer() { return *peer_; }
  // Every command line the modem received, without its CR LF.
  const std::vector<std::string>& Commands() const { return commands_; }
  bool Dtr() {
    std::lock_guard guard(peer_->lock);
    return peer_->dtr;
  }
  // The call comes up (DSR on) or goes down.
  void SetCarrier(bool on) { line_->SetPeerDSR(on); }
  // A result while dialling, as a modem sends it: a line break, the text,
  // a line break ("\r\nBUSY\r\n"), arriving after the dial command's echo
  // was read.
  void Result(const std::string& text) {
    const std::string line = "\r\n" + text + "\r\n";
    line_->Feed(std::vector<uint8_t>(line.begin(), line.end()));
  }
  // The modem says text on a line of its own.
  void Say(const std::string& text) {
    const std::string line = text + "\r\n";
    line_->Feed(std::vector<uint8_t>(line.begin(), line.end()));
  }

 private:
  void OnWrite(const std::vector<uint8_t>& written) {
    for (uint8_t b : written) {
      if (b == '\n') continue;
      if (b != '\r') {
        pending_.push_back(static_cast<char>(b));
        continue;
      }
      const std::string command = pending_;
      pending_.clear();
      commands_.push_back(command);
      if (command == "ATZ") {
        if (script_.answersReset) Say("OK");
      } else if (command.rfind("ATD", 0) == 0) {
        if (!script_.dialReply.empty()) Say(script_.dialReply);
      } else {
        Say(script_.initReply);
      }
    }
  }

  std::shared_ptr<MemoryLine::Peer> peer_;
  MemoryLine* line_ = nullptr;
  TComPort port_;
  Script script_;
  std::string pending_;
  std::vector<std::string> commands_;
};

}  // namespace lentar::gui::testing
