// The telnet / RFC 2217 receive decoder on what a hostile server (or client)
// may send: it never reads outside what it was given, never grows without
// bound, answers only option negotiations, and data survives its own
// encoding. The first byte chooses the role and how the input is cut into
// chunks, since a network read may end anywhere.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comm/telnetcodec.h"
#include "fuzz_check.h"

namespace telnet = lentar::comm::telnet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t control = data[0];
  const auto role = (control & 1) ? telnet::Codec::Role::Server : telnet::Codec::Role::Client;
  const size_t chunk = 1 + ((control >> 1) & 0x3F);
  ++data;
  --size;

  telnet::Codec codec(role);
  const std::vector<uint8_t> offers = codec.Start();
  CHECK(offers.size() == 15);
  std::vector<uint8_t> received, reply;
  std::vector<telnet::ComEvent> events;
  size_t replied = 0;
  for (size_t at = 0; at < size; at += chunk) {
    const size_t n = size - at < chunk ? size - at : chunk;
    const size_t before = received.size();
    codec.Receive(data + at, n, received, reply, events);
    // Every input byte yields at most one data byte.
    CHECK(received.size() - before <= n);
    // Answers are whole three-byte negotiations, one per option command.
    CHECK(reply.size() % 3 == 0);
    for (; replied < reply.size(); replied += 3) {
      CHECK(reply[replied] == telnet::kIAC);
      CHECK(reply[replied + 1] >= telnet::kWILL);
    }
  }
  CHECK(received.size() <= size);
  for (const auto& e : events) {
    CHECK(e.command >= 1 && e.command <= 12);
    CHECK(e.value.size() < telnet::kMaxSubnegotiation);
  }
  CHECK(!(codec.ComPortAgreed() && codec.ComPortRefused()));

  // Whatever state the negotiation reached, data encoded by one side decodes
  // to the same bytes on a peer that agrees on binary mode the same way.
  telnet::Codec sender(role == telnet::Codec::Role::Client ? telnet::Codec::Role::Server
                                                            : telnet::Codec::Role::Client);
  telnet::Codec receiver(role);
  std::vector<uint8_t> toReceiver = sender.Start(), toSender = receiver.Start();
  std::vector<uint8_t> sink, answers;
  std::vector<telnet::ComEvent> ignored;
  for (int round = 0; round < 4; ++round) {
    answers.clear();
    receiver.Receive(toReceiver.data(), toReceiver.size(), sink, answers, ignored);
    toReceiver.clear();
    std::vector<uint8_t> back;
    sender.Receive(answers.data(), answers.size(), sink, back, ignored);
    sender.Receive(toSender.data(), toSender.size(), sink, back, ignored);
    toSender.clear();
    toReceiver = back;
  }
  CHECK(sink.empty());
  CHECK(sender.SendsBinary() && receiver.ReceivesBinary());
  CHECK(sender.ComPortAgreed() && receiver.ComPortAgreed());
  std::vector<uint8_t> wire;
  sender.EncodeData(data, size, wire);
  std::vector<uint8_t> decoded, noReply;
  receiver.Receive(wire.data(), wire.size(), decoded, noReply, ignored);
  CHECK(noReply.empty() && ignored.empty());
  CHECK(decoded == std::vector<uint8_t>(data, data + size));
  return 0;
}
