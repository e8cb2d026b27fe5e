// Opening the line to a board, the one way the windows and lentar-cli open
// it, against lentar-boardsim: a port that does not open is told with its
// reason; a direct line follows the link speed (anything outside 9600..57600
// is 9600); a modem's port is left to the dial; a stop during the board's
// settling closes the line again.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/session.h"
#include "core/textutil.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using lentar::comm::testing::SimProcess;
using lentar::comm::testing::TestFolder;
namespace fs = std::filesystem;

TEST(BoardLink, OpensAtTheLinkSpeedOrSaysWhyNot) {
  const fs::path dir = TestFolder("lentar_boardlink", "open");
  SimProcess sim;
  ASSERT_TRUE(sim.Start(dir, {})) << sim.Log();
  const struct {
    const char* what;
    std::string device;
    bool modem;
    int baseSpeed;
    bool stop;
    BoardLinkOutcome outcome;
    int32_t rate;  // of the open line
  } cases[] = {
      {"a port that does not exist", (dir / "none").string(), false, 0, false,
       BoardLinkOutcome::PortFailed, 0},
      {"57600 bit/s", sim.Link(), false, 4, false, BoardLinkOutcome::Open, 57600},
      {"a speed setting out of range is 9600", sim.Link(), false, 9, false,
       BoardLinkOutcome::Open, 9600},
      {"a negative one too", sim.Link(), false, -2, false, BoardLinkOutcome::Open, 9600},
      {"a modem's port keeps its rate for the dial", sim.Link(), true, 4, false,
       BoardLinkOutcome::Open, 9600},
      {"stopped while the board settles", sim.Link(), false, 0, true,
       BoardLinkOutcome::Interrupted, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BoardSession session;
    session.Port().SetBaudRate(9600);
    BoardLinkOptions options;
    options.device = c.device;
    options.modem = c.modem;
    options.baseSpeed = c.baseSpeed;
    // A stop must end the board's settling, however long it would be.
    options.settleMs = c.stop ? 10 * 60 * 1000 : 0;
    if (c.stop) session.Stop().Request();
    auto open = std::async(std::launch::async, [&] { return OpenBoardLink(session, options); });
    ASSERT_EQ(open.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const BoardLinkResult link = open.get();
    EXPECT_EQ(link.outcome, c.outcome);
    EXPECT_EQ(session.Port().IsOpen(), c.outcome == BoardLinkOutcome::Open);
    if (c.outcome == BoardLinkOutcome::PortFailed) {
      EXPECT_EQ(link.text, lentar::Utf8ToCp1251(u8"Ошибка коммуникационного порта!"));
      EXPECT_FALSE(link.reason.empty());
    } else if (c.outcome == BoardLinkOutcome::Interrupted) {
      EXPECT_EQ(link.text, InterruptedText());
    } else {
      EXPECT_TRUE(link.text.empty());
      EXPECT_EQ(session.Port().BaudRate(), c.rate);
      EXPECT_EQ(session.ReplyTimeout, BoardSession::kLineReplyTimeout);
      EXPECT_TRUE(CmdConnect(session)) << "the board answers on the line just opened";
    }
    session.Port().Open("");
  }
  EXPECT_TRUE(sim.Stop());
  fs::remove_all(dir);
}

}  // namespace
