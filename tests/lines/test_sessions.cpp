// Sessions side by side in one process: two boards, or a board and a loader,
// each talked to from its own thread in its own session, on simulators
// started by the test. Each session keeps its own address byte, deadline and
// pace, and what goes out on its line is its own.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "comm/boardprotocol.h"
#include "comm/boardupload.h"
#include "comm/linkframe.h"
#include "comm/loaderprotocol.h"
#include "comm/session.h"
#include "lines/portline.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using namespace lentar::comm::testing;
using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// Everything the program wrote on one line, taken apart into the requests.
class WireLog {
 public:
  void Add(const uint8_t* bytes, size_t count) {
    std::lock_guard guard(lock_);
    bytes_.insert(bytes_.end(), bytes, bytes + count);
  }
  std::vector<Bytes> Requests() const {
    std::lock_guard guard(lock_);
    FrameAssembler assembler;
    std::vector<Bytes> requests;
    for (uint8_t b : bytes_) {
      if (assembler.Feed(b, 0, 1000) != FrameAssembler::Outcome::Accepted) continue;
      Bytes payload(kMaxFramePayload);
      size_t n = 0;
      assembler.Take(payload.data(), payload.size(), n);
      payload.resize(n);
      requests.push_back(payload);
    }
    return requests;
  }
  // The second byte of every request: the address it carried.
  std::set<uint8_t> Addresses() const {
    std::set<uint8_t> addresses;
    for (const Bytes& r : Requests())
      if (r.size() >= 2) addresses.insert(r[1]);
    return addresses;
  }

 private:
  mutable std::mutex lock_;
  Bytes bytes_;
};

// The program's own line, with every byte written also kept in a log.
class RecordingLine : public SerialLine {
 public:
  explicit RecordingLine(std::shared_ptr<WireLog> log)
      : inner_(MakePortLine()), log_(std::move(log)) {}
  void SetHandlers(DataHandler onData, TickHandler onTick) override {
    inner_->SetHandlers(std::move(onData), std::move(onTick));
  }
  bool Open(const std::string& device, const PortConfig& config, std::string& error) override {
    return inner_->Open(device, config, error);
  }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  bool Write(const uint8_t* bytes, size_t count) override {
    log_->Add(bytes, count);
    return inner_->Write(bytes, count);
  }
  bool Apply(const PortConfig& config) override { return inner_->Apply(config); }
  void SetDTR(bool on) override { inner_->SetDTR(on); }
  void SetRTS(bool on) override { inner_->SetRTS(on); }
  bool DSR() override { return inner_->DSR(); }
  void Purge() override { inner_->Purge(); }
  void WatchLineState(bool on) override { inner_->WatchLineState(on); }
  std::vector<std::string> ListPorts() override { return inner_->ListPorts(); }

 private:
  std::unique_ptr<SerialLine> inner_;
  std::shared_ptr<WireLog> log_;
};

LineFactory Recording(const std::shared_ptr<WireLog>& log) {
  return [log] { return std::make_unique<RecordingLine>(log); };
}

// One board for the test: its own simulator with an address, its own
// session and wire log.
struct Board {
  int address;
  int replyTimeout;
  bool streamed;  // paced blocks without replies, or every block acknowledged
  int replyDelayMs;  // the simulated board's delay before every reply
  Bytes image;
  fs::path dir;
  SimProcess sim;
  std::shared_ptr<WireLog> log = std::make_shared<WireLog>();
  std::unique_ptr<BoardSession> session;
  UploadReport report;

  Board(int address, int replyTimeout, bool streamed, int replyDelayMs, Bytes image, fs::path dir)
      : address(address), replyTimeout(replyTimeout), streamed(streamed),
        replyDelayMs(replyDelayMs), image(std::move(image)), dir(std::move(dir)) {}

  void Start() {
    fs::create_directories(dir);
    ASSERT_TRUE(sim.Start(dir, {"--address", std::to_string(address), "--save-dir", dir.string(),
                                "--board-file", (dir / "board.mem").string(), "--delay-ms",
                                std::to_string(replyDelayMs)}))
        << sim.Log();
    session = std::make_unique<BoardSession>(Recording(log));
    session->Port().Open(sim.Link());
    ASSERT_TRUE(session->Port().IsOpen()) << session->Port().LastErrorText();
    session->AddressByte = AddressByteFor(address);
    session->ReplyTimeout = replyTimeout;
  }

  // Runs on a thread of its own.
  void Upload() {
    PreparePortRate(*session, 0, 0);
    UploadOptions options;
    options.streamed = streamed;
    options.restart = true;
    report = UploadImage(*session, image.data(), image.size(), options);
  }

  void Check() {
    EXPECT_EQ(report.outcome, UploadOutcome::Done) << "board " << address;
    // The board saved exactly one upload: its own image.
    EXPECT_EQ(ReadFileBytes(dir / "upload-1.bin"), image) << "board " << address;
    EXPECT_FALSE(fs::exists(dir / "upload-2.bin")) << "board " << address;
    // Every request on this line carried this board's address, and only it.
    EXPECT_EQ(log->Addresses(), std::set<uint8_t>{AddressByteFor(address)}) << "board " << address;
    EXPECT_GT(log->Requests().size(), image.size() / kBlockSize);
    // The session kept its own deadline and address.
    EXPECT_EQ(session->ReplyTimeout, replyTimeout);
    EXPECT_EQ(session->AddressByte, AddressByteFor(address));
  }

  void Stop() {
    session.reset();
    EXPECT_TRUE(sim.Stop());
  }
};

TEST(Sessions, TwoBoardsUploadDifferentImagesAtOnce) {
  const fs::path dir = TestFolder("lentar_sessions", "two_boards");
  Board first(3, 1500, true, 0, ImagePattern(3000, 1), dir / "first");
  Board second(9, 2500, false, 100, ImagePattern(2200, 77), dir / "second");
  first.Start();
  second.Start();
  ASSERT_FALSE(HasFatalFailure());
  std::thread a([&] { first.Upload(); });
  std::thread b([&] { second.Upload(); });
  a.join();
  b.join();
  first.Check();
  second.Check();
  // Each upload measured its own line's pace: half the round trip and 20 ms,
  // so the slow board's session keeps at least 70 ms whatever the other
  // measured meanwhile.
  EXPECT_GE(second.session->BlockDelay, 70);
  first.Stop();
  second.Stop();
  fs::remove_all(dir);
}

TEST(Sessions, ABoardAndALoaderAtOnce) {
  const fs::path dir = TestFolder("lentar_sessions", "board_and_loader");
  Board board(5, 1200, false, 0, ImagePattern(4000, 5), dir / "board");
  board.Start();
  ASSERT_FALSE(HasFatalFailure());

  const fs::path loaderDir = dir / "loader";
  fs::create_directories(loaderDir);
  SimProcess loaderSim;
  ASSERT_TRUE(loaderSim.Start(loaderDir, {"--loader", "--memory-type", "1"})) << loaderSim.Log();
  const auto loaderLog = std::make_shared<WireLog>();
  LoaderSession loader(Recording(loaderLog));
  loader.Port().Open(loaderSim.Link());
  ASSERT_TRUE(loader.Port().IsOpen()) << loader.Port().LastErrorText();
  loader.Port().SetBaudRate(9600);
  loader.LoaderSwitchPause = 10;
  loader.LoaderReplyTimeout = 3000;

  const Bytes block = ImagePattern(700, 42);
  bool stored = false;
  DirEntry entry;
  std::thread l([&] {
    LoaderInfo info;
    LoaderDirectory directory{};
    if (!ConnectLoader(loader, info) || !ReadDirectory(loader, directory, 7)) return;
    entry = {AllocateBlock(directory, info.MemoryType(), block.size()),
             static_cast<uint16_t>(block.size()), "both", 1};
    stored = StoreBlock(loader, directory, FindFreeEntry(directory), entry, block.data(), 7);
  });
  std::thread b([&] { board.Upload(); });
  l.join();
  b.join();

  board.Check();
  ASSERT_TRUE(stored);
  EXPECT_EQ(loader.PageSize, 64) << "the loader's page, in its own session";
  EXPECT_EQ(loader.Speed, kLoaderBaseSpeed) << "back at the base speed";
  Bytes back;
  ASSERT_TRUE(ReadBlock(loader, entry, 7, back));
  EXPECT_EQ(back, block);
  EXPECT_EQ(loaderLog->Addresses(), std::set<uint8_t>{kLoaderAddress});
  board.Stop();
  loader.Port().Open("");
  EXPECT_TRUE(loaderSim.Stop());
  fs::remove_all(dir);
}

}  // namespace

namespace {

// "Прервать" pressed on the window's thread reaches a pause on the worker,
// and one flag shared by two sessions stops both.
TEST(Sessions, AStopFromAnotherThreadEndsAPauseAndReachesEverySessionSharingIt) {
  using lentar::comm::PauseUnlessStopped;
  using lentar::comm::StopFlag;
  EXPECT_TRUE(PauseUnlessStopped(nullptr, 1));
  StopFlag already;
  already.Request();
  EXPECT_FALSE(PauseUnlessStopped(&already, 60000));

  BoardSession board;
  LoaderSession loader;
  auto shared = std::make_shared<StopFlag>();
  board.ShareStop(shared);
  loader.ShareStop(shared);
  EXPECT_FALSE(board.StopRequested());
  std::thread presser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    board.Stop().Request();
  });
  // Without the stop this would wait a minute and the test would time out.
  EXPECT_FALSE(PauseUnlessStopped(&loader.Stop(), 60000));
  presser.join();
  EXPECT_TRUE(loader.StopRequested());
  shared->Clear();
  EXPECT_FALSE(board.StopRequested());
  EXPECT_TRUE(PauseUnlessStopped(&board.Stop(), 1));
}

}  // namespace
