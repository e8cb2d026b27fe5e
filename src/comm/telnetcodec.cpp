#include "comm/telnetcodec.h"

namespace lentar::comm::telnet {

Codec::Codec(Role role) : role_(role) {
  local_.fill(Q::No);
  remote_.fill(Q::No);
}

bool Codec::LocalSupported(uint8_t option) const {
  return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}

bool Codec::RemoteSupported(uint8_t option) const {
  // A serial server may announce that it echoes; it means the device's own
  // echo, which a client takes as it comes.
  if (role_ == Role::Client && option == kOptEcho) return true;
  return option == kOptBinary || option == kOptSuppressGoAhead || option == kOptComPort;
}

std::vector<uint8_t> Codec::Start() {
  std::vector<uint8_t> out;
  const auto offer = [&](uint8_t verb, uint8_t option) {
    out.insert(out.end(), {kIAC, verb, option});
    if (verb == kWILL) local_[option] = Q::WantYes;
    if (verb == kDO) remote_[option] = Q::WantYes;
  };
  offer(kWILL, kOptBinary);
  offer(kDO, kOptBinary);
  offer(kWILL, kOptSuppressGoAhead);
  offer(kDO, kOptSuppressGoAhead);
  offer(role_ == Role::Client ? kWILL : kDO, kOptComPort);
  return out;
}

void Codec::OnOption(uint8_t verb, uint8_t option, std::vector<uint8_t>& reply) {
  // Answer only when a state changes, so two ends never echo each other's
  // answers for ever; and only once for each option of each side, so that a
  // peer repeating a request it was refused, or turning an option on and off
  // without end, cannot make this side write without end (a peer that also
  // never reads would have every answer pile up here).
  ++optionCommands_;
  const bool localSide = verb == kDO || verb == kDONT;
  const auto send = [&](uint8_t v) {
    bool& answered = localSide ? localAnswered_[option] : remoteAnswered_[option];
    if (answered) return;
    answered = true;
    reply.insert(reply.end(), {kIAC, v, option});
  };
  switch (verb) {
    case kDO:
      if (local_[option] == Q::WantYes) {
        local_[option] = Q::Yes;
      } else if (local_[option] == Q::No) {
        if (LocalSupported(option)) {
          local_[option] = Q::Yes;
          send(kWILL);
        } else {
          send(kWONT);
        }
      }
      break;
    case kDONT:
      if (local_[option] == Q::WantYes) {
        local_[option] = Q::No;
        if (option == kOptComPort) localComRefused_ = true;
      } else if (local_[option] == Q::Yes) {
        local_[option] = Q::No;
        send(kWONT);
      }
      break;
    case kWILL:
      if (remote_[option] == Q::WantYes) {
        remote_[option] = Q::Yes;
      } else if (remote_[option] == Q::No) {
        if (RemoteSupported(option)) {
          remote_[option] = Q::Yes;
          send(kDO);
        } else {
          send(kDONT);
        }
      }
      break;
    case kWONT:
      if (remote_[option] == Q::WantYes) {
        remote_[option] = Q::No;
        if (option == kOptComPort) remoteComRefused_ = true;
      } else if (remote_[option] == Q::Yes) {
        remote_[option] = Q::No;
        send(kDONT);
      }
      break;
    default:
      break;
  }
}

void Codec::EndSubnegotiation(std::vector<ComEvent>& events) {
  if (!sbOverflow_ && sbOption_ == kOptComPort && !sb_.empty()) {
    uint8_t command = sb_[0];
    // Each side hears the other's numbering: the client takes the server's
    // offset off; the server takes the client's commands as they are.
    if (role_ == Role::Client) {
      if (command > kServerOffset) command = static_cast<uint8_t>(command - kServerOffset);
      else command = 0;
    } else if (command >= kServerOffset) {
      command = 0;
    }
    if (command >= 1 && command <= static_cast<uint8_t>(ComCommand::PurgeData))
      events.push_back(ComEvent{command, std::vector<uint8_t>(sb_.begin() + 1, sb_.end())});
  }
  sb_.clear();
  sbOverflow_ = false;
}

void Codec::Receive(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data,
                    std::vector<uint8_t>& reply, std::vector<ComEvent>& events) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (state_) {
      case State::Data:
        if (b == kIAC) {
          state_ = State::Iac;
          break;
        }
        // Outside binary mode a carriage return travels as CR NUL; the NUL is
        // not data.
        if (afterCr_ && b == 0) {
          afterCr_ = false;
          break;
        }
        afterCr_ = b == '\r' && !ReceivesBinary();
        data.push_back(b);
        break;
      case State::Iac:
        afterCr_ = false;
        if (b == kIAC) {
          data.push_back(kIAC);
          state_ = State::Data;
        } else if (b == kWILL || b == kWONT || b == kDO || b == kDONT) {
          verb_ = b;
          state_ = State::Option;
        } else if (b == kSB) {
          state_ = State::SbOption;
        } else {
          state_ = State::Data;  // NOP, GA, break and the rest carry nothing
        }
        break;
      case State::Option:
        OnOption(verb_, b, reply);
        state_ = State::Data;
        break;
      case State::SbOption:
        sbOption_ = b;
        sb_.clear();
        sbOverflow_ = false;
        state_ = State::SbData;
        break;
      case State::SbData:
        if (b == kIAC) {
          state_ = State::SbIac;
        } else if (sb_.size() < kMaxSubnegotiation) {
          sb_.push_back(b);
        } else {
          sbOverflow_ = true;
        }
        break;
      case State::SbIac:
        if (b == kSE) {
          EndSubnegotiation(events);
          state_ = State::Data;
        } else if (b == kIAC) {
          if (sb_.size() < kMaxSubnegotiation) sb_.push_back(kIAC);
          else sbOverflow_ = true;
          state_ = State::SbData;
        } else {
          // A command inside a subnegotiation ends it without meaning; the
          // byte is taken as the command it is.
          sb_.clear();
          sbOverflow_ = false;
          state_ = State::Iac;
          --i;
        }
        break;
    }
  }
}

void Codec::EncodeData(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out) const {
  const bool binary = SendsBinary();
  for (size_t i = 0; i < count; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == kIAC) out.push_back(kIAC);
    else if (bytes[i] == '\r' && !binary) out.push_back(0);
  }
}

void Codec::EncodeCommand(ComCommand command, const uint8_t* value, size_t count,
                          std::vector<uint8_t>& out) const {
  uint8_t code = static_cast<uint8_t>(command);
  if (role_ == Role::Server) code = static_cast<uint8_t>(code + kServerOffset);
  out.insert(out.end(), {kIAC, kSB, kOptComPort, code});
  for (size_t i = 0; i < count; ++i) {
    out.push_back(value[i]);
    if (value[i] == kIAC) out.push_back(kIAC);
  }
  out.insert(out.end(), {kIAC, kSE});
}

void Codec::EncodeBaudRate(uint32_t rate, std::vector<uint8_t>& out) const {
  const uint8_t value[4] = {static_cast<uint8_t>(rate >> 24), static_cast<uint8_t>(rate >> 16),
                            static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate)};
  EncodeCommand(ComCommand::SetBaudRate, value, 4, out);
}

uint32_t Codec::BaudRateOf(const std::vector<uint8_t>& value) {
  if (value.size() != 4) return 0;
  return uint32_t{value[0]} << 24 | uint32_t{value[1]} << 16 | uint32_t{value[2]} << 8 |
         uint32_t{value[3]};
}

bool Codec::ComPortAgreed() const {
  return local_[kOptComPort] == Q::Yes || remote_[kOptComPort] == Q::Yes;
}

bool Codec::ComPortRefused() const {
  if (ComPortAgreed()) return false;
  return role_ == Role::Client ? localComRefused_ : remoteComRefused_;
}

bool Codec::SendsBinary() const { return local_[kOptBinary] == Q::Yes; }
bool Codec::ReceivesBinary() const { return remote_[kOptBinary] == Q::Yes; }

}  // namespace lentar::comm::telnet
