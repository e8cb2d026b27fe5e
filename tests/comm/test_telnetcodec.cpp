// The telnet / RFC 2217 codec: option negotiation between the two roles,
// IAC escaping both ways, the carriage return outside binary mode, and
// com-port subnegotiations, including the malformed ones a hostile peer sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/telnetcodec.h"

namespace {

using namespace lentar::comm::telnet;
using Bytes = std::vector<uint8_t>;

struct Decoded {
  Bytes data, reply;
  std::vector<ComEvent> events;
};

Decoded Feed(Codec& codec, const Bytes& bytes) {
  Decoded d;
  codec.Receive(bytes.data(), bytes.size(), d.data, d.reply, d.events);
  return d;
}

// Runs the opening negotiation of a client and a server to its end.
void Negotiate(Codec& client, Codec& server) {
  Bytes toServer = client.Start(), toClient = server.Start();
  for (int round = 0; round < 5 && (!toServer.empty() || !toClient.empty()); ++round) {
    const Decoded atServer = Feed(server, toServer);
    const Decoded atClient = Feed(client, toClient);
    EXPECT_TRUE(atServer.data.empty() && atClient.data.empty());
    toServer = atClient.reply;
    toClient = atServer.reply;
  }
  EXPECT_TRUE(toServer.empty() && toClient.empty()) << "the negotiation settles";
}

TEST(TelnetCodec, BothRolesAgreeOnBinaryAndComPortControl) {
  Codec client(Codec::Role::Client), server(Codec::Role::Server);
  EXPECT_FALSE(client.ComPortAgreed());
  Negotiate(client, server);
  for (const Codec* c : {&client, &server}) {
    EXPECT_TRUE(c->ComPortAgreed());
    EXPECT_FALSE(c->ComPortRefused());
    EXPECT_TRUE(c->SendsBinary());
    EXPECT_TRUE(c->ReceivesBinary());
  }
}

TEST(TelnetCodec, ClientAnswersWhatASerialServerOffers) {
  Codec client(Codec::Role::Client);
  client.Start();
  // A ser2net greeting: it will suppress go-ahead and echo, wants binary both
  // ways, and asks for the com-port option; plus an option nobody knows.
  const Decoded d = Feed(client, {kIAC, kWILL, kOptSuppressGoAhead, kIAC, kWILL, kOptEcho,
                                  kIAC, kDO, kOptBinary, kIAC, kWILL, kOptBinary, kIAC, kDO,
                                  kOptComPort, kIAC, kDO, 24, kIAC, kWILL, 31});
  EXPECT_TRUE(d.data.empty());
  // Echo is taken (it was not asked for); terminal type and window size are
  // refused; the rest answered the client's own offers and need no reply.
  EXPECT_EQ(d.reply, (Bytes{kIAC, kDO, kOptEcho, kIAC, kWONT, 24, kIAC, kDONT, 31}));
  EXPECT_TRUE(client.ComPortAgreed());
  // The same offers once more change nothing and draw no answer.
  EXPECT_TRUE(Feed(client, {kIAC, kDO, kOptComPort, kIAC, kWILL, kOptBinary}).reply.empty());
}

TEST(TelnetCodec, RefusedComPortOption) {
  const struct {
    Codec::Role role;
    Bytes refusal;
  } cases[] = {{Codec::Role::Client, {kIAC, kDONT, kOptComPort}},
               {Codec::Role::Server, {kIAC, kWONT, kOptComPort}}};
  for (const auto& c : cases) {
    Codec codec(c.role);
    codec.Start();
    EXPECT_FALSE(codec.ComPortRefused());
    const Decoded d = Feed(codec, c.refusal);
    EXPECT_TRUE(d.reply.empty()) << "a refusal of our own offer is not answered";
    EXPECT_TRUE(codec.ComPortRefused());
    EXPECT_FALSE(codec.ComPortAgreed());
  }
}

TEST(TelnetCodec, DataRoundTripsWithEscapes) {
  Codec client(Codec::Role::Client), server(Codec::Role::Server);
  Negotiate(client, server);
  const Bytes data = {0x06, 0xFF, 0xFF, 0x0D, 0x00, 0x0D, 0x0A, 0xFA, 0xF0, 0xFF};
  Bytes wire;
  client.EncodeData(data.data(), data.size(), wire);
  EXPECT_EQ(wire, (Bytes{0x06, 0xFF, 0xFF, 0xFF, 0xFF, 0x0D, 0x00, 0x0D, 0x0A, 0xFA, 0xF0, 0xFF,
                         0xFF}))
      << "255 doubled; binary mode sends CR as it is";
  // Cut anywhere, it decodes to the same bytes.
  for (size_t cut = 0; cut <= wire.size(); ++cut) {
    Codec receiver(Codec::Role::Server);
    Codec peer(Codec::Role::Client);
    Negotiate(peer, receiver);
    Bytes got = Feed(receiver, Bytes(wire.begin(), wire.begin() + static_cast<long>(cut))).data;
    const Bytes rest = Feed(receiver, Bytes(wire.begin() + static_cast<long>(cut), wire.end())).data;
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, data) << "cut at " << cut;
  }
}

TEST(TelnetCodec, CarriageReturnOutsideBinaryMode) {
  // Neither side has agreed to binary: CR travels as CR NUL.
  Codec sender(Codec::Role::Client), receiver(Codec::Role::Server);
  const Bytes text = {'A', 'T', 0x0D, 0x0A, 0x0D, 'x'};
  Bytes wire;
  sender.EncodeData(text.data(), text.size(), wire);
  EXPECT_EQ(wire, (Bytes{'A', 'T', 0x0D, 0x00, 0x0A, 0x0D, 0x00, 'x'}));
  EXPECT_EQ(Feed(receiver, wire).data, text);
  // In binary mode a NUL after CR is data.
  Codec client(Codec::Role::Client), server(Codec::Role::Server);
  Negotiate(client, server);
  EXPECT_EQ(Feed(server, {0x0D, 0x00}).data, (Bytes{0x0D, 0x00}));
}

TEST(TelnetCodec, ComPortCommandsBetweenTheRoles) {
  Codec client(Codec::Role::Client), server(Codec::Role::Server);
  Negotiate(client, server);
  Bytes wire;
  client.EncodeBaudRate(115200, wire);
  client.EncodeCommand(ComCommand::SetControl, kControlDtrOff, wire);
  const uint8_t iac = 0xFF;
  client.EncodeCommand(ComCommand::SetModemStateMask, &iac, 1, wire);
  EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 10),
            (Bytes{kIAC, kSB, kOptComPort, 1, 0x00, 0x01, 0xC2, 0x00, kIAC, kSE}));
  const Decoded atServer = Feed(server, wire);
  ASSERT_EQ(atServer.events.size(), 3u);
  EXPECT_EQ(atServer.events[0].command, 1);
  EXPECT_EQ(Codec::BaudRateOf(atServer.events[0].value), 115200u);
  EXPECT_EQ(atServer.events[1], (ComEvent{5, {kControlDtrOff}}));
  EXPECT_EQ(atServer.events[2], (ComEvent{11, {0xFF}})) << "255 in a value travels doubled";

  // The server's answers carry its offset; the client sees the plain codes.
  Bytes back;
  server.EncodeCommand(ComCommand::NotifyModemState, kModemDsr | kModemDeltaDsr, back);
  EXPECT_EQ(back[3], 107);
  const Decoded atClient = Feed(client, back);
  ASSERT_EQ(atClient.events.size(), 1u);
  EXPECT_EQ(atClient.events[0], (ComEvent{7, {kModemDsr | kModemDeltaDsr}}));
}

TEST(TelnetCodec, MalformedSubnegotiationsAreDropped) {
  const struct {
    const char* name;
    Codec::Role role;
    Bytes bytes;
    Bytes data;
    size_t events;
  } cases[] = {
      {"the client's numbering heard by a client", Codec::Role::Client,
       {kIAC, kSB, kOptComPort, 7, 0x20, kIAC, kSE}, {}, 0},
      {"the server's numbering heard by a server", Codec::Role::Server,
       {kIAC, kSB, kOptComPort, 101, 0, kIAC, kSE}, {}, 0},
      {"an unknown command", Codec::Role::Client, {kIAC, kSB, kOptComPort, 150, kIAC, kSE}, {}, 0},
      {"an empty one", Codec::Role::Client, {kIAC, kSB, kOptComPort, kIAC, kSE, 'a'}, {'a'}, 0},
      {"another option's", Codec::Role::Client, {kIAC, kSB, 24, 1, kIAC, kSE, 'b'}, {'b'}, 0},
      {"a command inside ends it", Codec::Role::Client,
       {kIAC, kSB, kOptComPort, 107, 0x20, kIAC, kNOP, 'c'}, {'c'}, 0},
      {"a well-formed one after a broken one", Codec::Role::Client,
       {kIAC, kSB, kOptComPort, 107, kIAC, kDO, 99, kIAC, kSB, kOptComPort, 107, 0x20, kIAC, kSE},
       {}, 1},
  };
  for (const auto& c : cases) {
    Codec codec(c.role);
    const Decoded d = Feed(codec, c.bytes);
    EXPECT_EQ(d.data, c.data) << c.name;
    EXPECT_EQ(d.events.size(), c.events) << c.name;
  }
}

TEST(TelnetCodec, AnEndlessSubnegotiationDoesNotGrow) {
  Codec codec(Codec::Role::Client);
  Bytes flood = {kIAC, kSB, kOptComPort, 107};
  flood.insert(flood.end(), 100000, 0x20);
  flood.insert(flood.end(), {kIAC, kSE, 'z'});
  const Decoded d = Feed(codec, flood);
  EXPECT_TRUE(d.events.empty()) << "too long to be a com-port command";
  EXPECT_EQ(d.data, Bytes{'z'}) << "and the data after it is not lost";
  // The longest that still counts.
  Bytes longest = {kIAC, kSB, kOptComPort, 107};
  longest.insert(longest.end(), kMaxSubnegotiation - 1, 0x20);
  longest.insert(longest.end(), {kIAC, kSE});
  EXPECT_EQ(Feed(codec, longest).events.size(), 1u);
}

}  // namespace

// A peer that floods option requests (and perhaps never reads) gets at most
// one answer per option and side, however often it asks; beyond a serial
// server's few options it is known as flooding.
TEST(TelnetCodec, OptionFloodsDrawOneAnswerPerOption) {
  const auto repeat = [](Bytes unit, size_t times) {
    Bytes out;
    for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
    return out;
  };
  Bytes everything;
  for (int option = 0; option < 256; ++option)
    for (uint8_t verb : {kWILL, kDO, kWONT, kDONT})
      everything.insert(everything.end(), {kIAC, verb, static_cast<uint8_t>(option)});
  const struct {
    const char* name;
    Bytes flood;
    size_t replyLimit;
    Bytes reply;  // when not empty: the whole answer
  } cases[] = {
      {"an unknown option asked for again and again", repeat({kIAC, kDO, 99}, 10000), 3,
       {kIAC, kWONT, 99}},
      {"an unknown option offered again and again", repeat({kIAC, kWILL, 99}, 10000), 3,
       {kIAC, kDONT, 99}},
      {"binary offered and withdrawn without end", repeat({kIAC, kWILL, 0, kIAC, kWONT, 0}, 5000),
       3, {kIAC, kDO, kOptBinary}},
      {"every option, every verb, forty times", repeat(everything, 40), 2 * 256 * 3, {}},
  };
  for (const auto& c : cases) {
    Codec codec(Codec::Role::Client);
    const Decoded d = Feed(codec, c.flood);
    EXPECT_LE(d.reply.size(), c.replyLimit) << c.name;
    if (!c.reply.empty()) {
      EXPECT_EQ(d.reply, c.reply) << c.name;
    }
    EXPECT_TRUE(d.data.empty()) << c.name;
    EXPECT_TRUE(codec.Flooding()) << c.name;
  }
  // A real negotiation is nowhere near it.
  Codec client(Codec::Role::Client), server(Codec::Role::Server);
  Negotiate(client, server);
  EXPECT_FALSE(client.Flooding());
}
