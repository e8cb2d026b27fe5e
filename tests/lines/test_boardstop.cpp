// Stopping board work through the session's stop flag, against
// lentar-boardsim: the upload (acknowledged, streamed, through a modem), the
// search for a board and the modem call, each stopped at its first, a middle
// and its last step. Stopped work is never reported as done, leaves the line
// as the next user expects it, and an upload stopped part way is completed
// by "Дозагрузка" to the very byte.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/boardsearch.h"
#include "comm/boardupload.h"
#include "comm/modem.h"
#include "comm/session.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using namespace lentar::comm::testing;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

enum class Step { First, Middle, Last };

const char* StepName(Step step) {
  return step == Step::First ? "first" : step == Step::Middle ? "middle" : "last";
}

const ModemTimings kQuickModem{0, 10, 10, 200, 50, 0};

// Counts the lines of text in the simulator's log.
size_t Occurrences(const std::string& log, const std::string& text) {
  size_t n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

// Sets the stop flag from a thread of its own once the simulator's log shows
// text: the work on the calling thread is then in the middle of its step.
// Join before the session goes.
std::thread StopWhenLogged(const SimProcess& sim, BoardSession& session, std::string text) {
  return std::thread([&sim, &session, text = std::move(text)] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sim.Log().find(text) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    session.Stop().Request();
  });
}

class BoardStop : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = TestFolder("lentar_boardstop",
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

// A call through the simulator's modem on session; true when it came up.
bool Call(BoardSession& session, const SimProcess& sim) {
  session.Port().Open(sim.Link());
  DialRequest request;
  request.number = "123";
  const DialStart call = DialAndWait(session, request, 20000, kQuickModem);
  return call.dialling;
}

TEST_F(BoardStop, AnUploadStopsBetweenBlocksAndIsCompletedByAResume) {
  enum class Way { Acknowledged, Streamed, Modem };
  const struct {
    Way way;
    const char* name;
  } ways[] = {{Way::Acknowledged, "acknowledged"},
              {Way::Streamed, "streamed"},
              {Way::Modem, "through a modem"}};
  const Bytes image = ImagePattern(2000, 5);  // 16 blocks
  for (const auto& way : ways) {
    for (const Step step : {Step::First, Step::Middle, Step::Last}) {
      SCOPED_TRACE(std::string(way.name) + ", stopped at the " + StepName(step) + " step");
      const fs::path dir = dir_ / (std::string(way.name) + StepName(step));
      fs::create_directories(dir);
      SimProcess sim;
      const std::vector<std::string> args = {"--save-dir", dir.string(), "-v"};
      if (way.way == Way::Modem) {
        std::vector<std::string> modem = {"--modem", "--connect-delay-ms", "50"};
        modem.insert(modem.end(), args.begin(), args.end());
        ASSERT_TRUE(sim.StartListening(dir, true, modem)) << sim.Log();
      } else {
        ASSERT_TRUE(sim.Start(dir, args)) << sim.Log();
      }
      BoardSession session;
      if (way.way == Way::Modem) {
        ASSERT_TRUE(Call(session, sim)) << sim.Log();
      } else {
        session.Port().Open(sim.Link());
        ASSERT_TRUE(session.Port().IsOpen());
      }

      UploadOptions options;
      options.modem = way.way == Way::Modem;
      options.streamed = way.way == Way::Streamed;
      // A direct line loads at 28800 bit/s and must come back to 9600.
      options.baseSpeed = 0;
      options.loadSpeed = options.modem ? 0 : 2;
      options.streamRecord = (dir / "streams.ini").string();
      options.portName = "board";
      UploadHooks hooks;
      // The first block out, half the image, every block (the end marker
      // not yet sent).
      hooks.progress = [&session, step](int percent) {
        if (step == Step::First || (step == Step::Middle && percent >= 50) || percent == 100)
          session.Stop().Request();
      };
      const UploadReport stopped =
          UploadImage(session, image.data(), image.size(), options, hooks);
      EXPECT_EQ(stopped.outcome, UploadOutcome::Interrupted);
      EXPECT_EQ(stopped.text, InterruptedText());
      EXPECT_TRUE(stopped.resumable) << "noted as a broken-off upload";
      EXPECT_FALSE(fs::exists(dir / "upload-1.bin")) << "the board never closed the upload";
      if (way.way != Way::Modem) {
        EXPECT_EQ(session.Port().BaudRate(), 9600);
        EXPECT_EQ(Occurrences(sim.Log(), "command 0x37"), 2u)
            << "to the loading speed and back: " << sim.Log();
      }

      // The operator hangs up (lentar-cli does it for him) and calls again.
      session.Stop().Clear();
      if (way.way == Way::Modem) {
        HangUp(session);
        session.Port().Open("");
        ASSERT_TRUE(Call(session, sim)) << sim.Log();
      }
      options.full = false;
      const UploadReport resumed = UploadImage(session, image.data(), image.size(), options, {});
      EXPECT_EQ(resumed.outcome, UploadOutcome::Done) << sim.Log();
      EXPECT_EQ(ReadFileBytes(dir / "upload-1.bin"), image);
      if (way.way == Way::Acknowledged) {
        EXPECT_EQ(Occurrences(sim.Log(), "command 0x2C buffer 0 offset 0 data 128"), 1u)
            << "the resume sends only what the board did not confirm";
      }
      if (way.way == Way::Modem) HangUp(session);
      session.Port().Open("");
      EXPECT_TRUE(sim.Stop());
    }
  }
}

// Stopped before the board's buffer is touched, nothing is noted to resume:
// "Дозагрузка" is refused and the board keeps what it showed.
TEST_F(BoardStop, AnUploadStoppedBeforeItsFirstBlockChangesNothing) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start(dir_, {"--save-dir", dir_.string(), "-v"})) << sim.Log();
  BoardSession session;
  session.Port().Open(sim.Link());
  const Bytes image = ImagePattern(700, 3);
  UploadOptions options;
  options.streamRecord = (dir_ / "streams.ini").string();
  options.portName = "board";
  UploadHooks hooks;
  hooks.transferStarts = [&session] { session.Stop().Request(); };
  const UploadReport report = UploadImage(session, image.data(), image.size(), options, hooks);
  EXPECT_EQ(report.outcome, UploadOutcome::Interrupted);
  EXPECT_FALSE(report.resumable);
  EXPECT_EQ(Occurrences(sim.Log(), "command 0x2C"), 0u) << "no block, not even the clearing";
  session.Stop().Clear();
  options.full = false;
  EXPECT_EQ(UploadImage(session, image.data(), image.size(), options).outcome,
            UploadOutcome::ResumeUnknown);
  session.Port().Open("");
}

// The search: stopped before it begins, between two probes, and during the
// settling pause of the port where the board is (which would answer).
TEST_F(BoardStop, TheSearchStopsBetweenProbesAndDuringItsPauses) {
  for (const Step step : {Step::First, Step::Middle, Step::Last}) {
    SCOPED_TRACE(std::string("stopped at the ") + StepName(step) + " step");
    const fs::path dir = dir_ / StepName(step);
    fs::create_directories(dir);
    SimProcess sim;
    ASSERT_TRUE(sim.Start(dir, {"-v"})) << sim.Log();
    const std::vector<SearchCandidate> candidates = {
        {(dir / "none-1").string(), -1}, {(dir / "none-2").string(), -1}, {sim.Link(), -1}};
    BoardSession session;
    session.ReplyTimeout = 500;
    BoardSearchOptions options;
    options.timings = {0, 0, 0, 20, 0};
    // The last step waits for the board to settle as long as a test may run:
    // only the stop ends that pause.
    if (step == Step::Last) options.timings.afterPurgeMs = 10 * 60 * 1000;
    BoardSearchHooks hooks;
    std::atomic<size_t> probed{0};
    hooks.beforeProbe = [&](size_t i) {
      ++probed;
      if (step == Step::Middle && i == 1) session.Stop().Request();
      return true;
    };
    if (step == Step::First) session.Stop().Request();
    std::thread stopper;
    if (step == Step::Last) {
      stopper = std::thread([&] {
        // The board's port is open once the other two were probed.
        while (probed < 3 && !session.StopRequested())
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        session.Stop().Request();
      });
    }
    auto search = std::async(std::launch::async,
                             [&] { return SearchBoard(session, candidates, options, hooks); });
    ASSERT_EQ(search.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "the pause ends with the stop";
    const BoardSearchResult result = search.get();
    if (stopper.joinable()) stopper.join();
    EXPECT_EQ(result.outcome, BoardSearchOutcome::Interrupted);
    EXPECT_EQ(result.index, -1);
    EXPECT_EQ(result.text, InterruptedText());
    EXPECT_FALSE(session.Port().IsOpen());
    EXPECT_EQ(sim.Log().find("command 0x"), std::string::npos) << "the board was never asked";

    // Without the stop the same search finds the board.
    session.Stop().Clear();
    options.timings.afterPurgeMs = 20;
    const BoardSearchResult found = SearchBoard(session, candidates, options);
    EXPECT_EQ(found.outcome, BoardSearchOutcome::Found);
    EXPECT_EQ(found.index, 2);
    EXPECT_FALSE(session.Port().IsOpen());
    EXPECT_TRUE(sim.Stop());
  }
}

// The modem call: stopped while the modem is reset, while it takes its
// initialisation, and while the number is being dialled. It is hung up
// (DTR down), the call never comes up, and the outcome says it was aborted.
TEST_F(BoardStop, AModemCallStopsAndHangsUp) {
  for (const Step step : {Step::First, Step::Middle, Step::Last}) {
    SCOPED_TRACE(std::string("stopped at the ") + StepName(step) + " step");
    const fs::path dir = dir_ / StepName(step);
    fs::create_directories(dir);
    SimProcess sim;
    ASSERT_TRUE(sim.StartListening(dir, true, {"--modem", "--connect-delay-ms", "1500", "-v"}))
        << sim.Log();
    BoardSession session;
    session.Port().Open(sim.Link());
    ASSERT_TRUE(session.Port().IsOpen());
    DialRequest request;
    request.number = "123";
    request.initLines = "ATE1";
    std::string told;
    request.statusChanged = [&told](const std::string& status) { told = status; };
    ModemTimings timings = kQuickModem;
    std::thread stopper;
    const int forever = 10 * 60 * 1000;
    if (step == Step::First) {
      // DTR held low for the reset: the modem has heard nothing yet.
      timings.dtrOffMs = forever;
      stopper = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        session.Stop().Request();
      });
    } else if (step == Step::Middle) {
      timings.initLineMs = forever;
      stopper = StopWhenLogged(sim, session, "modem command ATE1");
    } else {
      stopper = StopWhenLogged(sim, session, "modem command ATDT123");
    }
    auto dial = std::async(std::launch::async,
                           [&] { return DialAndWait(session, request, 0, timings); });
    ASSERT_EQ(dial.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    const DialStart call = dial.get();
    stopper.join();
    EXPECT_TRUE(call.interrupted);
    EXPECT_FALSE(call.dialling);
    EXPECT_EQ(call.status, DialStatusAborted());
    EXPECT_FALSE(session.Port().DTR()) << "hung up";
    EXPECT_FALSE(session.CallUp());
    if (step == Step::Last) {
      EXPECT_EQ(told, DialStatusDialling());
      // The dial the modem was making is dropped: no call comes up after its
      // time.
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      EXPECT_FALSE(session.Port().DSRState());
    } else {
      EXPECT_EQ(sim.Log().find("modem command ATD"), std::string::npos) << sim.Log();
    }
    session.Port().Open("");
    EXPECT_TRUE(sim.Stop());
  }
}

}  // namespace
