// lentar-cli loader against lentar-boardsim --loader on a pseudo-terminal,
// run as a script would run it. The simulated loader keeps its memory in a
// file of the test folder, so a test seeds the loader's blocks and checks
// what the loader holds after the program has gone.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "comm/loaderdirectory.h"
#include "core/settings.h"
#include "support/cli_test_support.h"
#include "support/sim_process.h"

namespace {

using namespace lentar::comm;
using lentar::comm::testing::SimProcess;
using Bytes = std::vector<uint8_t>;
using lentar::TSettings;

struct Block {
  int entry;
  uint32_t start;
  uint16_t size;
  std::string name;
};

std::string Pattern(size_t size, unsigned seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 13 + seed * 29 + (i >> 9));
  return data;
}

class CliLoader : public lentar::cli::testing::CliFolderTest {
 protected:
  CliLoader() : CliFolderTest("lentar_cli_loader") {}

  void TearDown() override {
    EXPECT_TRUE(sim_.Stop());
    CliFolderTest::TearDown();
  }

  // A loader memory file of the type holding the blocks (each its own
  // pattern), the rest erased.
  void SeedMemory(int type, const std::vector<Block>& blocks) {
    std::string memory(static_cast<size_t>(MemorySize(type)), '\xFF');
    LoaderDirectory d{};
    for (const Block& b : blocks) {
      WriteEntry(d, b.entry, {b.start, b.size, b.name, 1});
      memory.replace(b.start, b.size, Pattern(b.size, static_cast<unsigned>(b.entry)));
    }
    memory.replace(0, d.size(), std::string(d.begin(), d.end()));
    Write("memory.bin", memory);
  }

  void StartSim(int type, std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--loader", "--memory-type", std::to_string(type),
                               "--memory-file", Path("memory.bin")});
    ASSERT_TRUE(sim_.Start(dir_, args)) << sim_.Log();
  }

  // Stops the simulator, which writes its memory back, and reads it.
  std::string StopAndReadMemory() {
    EXPECT_TRUE(sim_.Stop());
    return Read("memory.bin");
  }

  // The memory lists every block with its bytes.
  static ::testing::AssertionResult HoldsEveryBlock(const std::string& memory,
                                                    const std::vector<Block>& blocks) {
    if (memory.size() < kLoaderDirectorySize) return ::testing::AssertionFailure() << "no memory";
    LoaderDirectory d;
    std::copy_n(memory.begin(), d.size(), d.begin());
    for (const Block& b : blocks) {
      bool found = false;
      for (int entry : BlockEntries(d)) {
        const DirEntry e = ReadEntry(d, entry);
        if (e.name == b.name && e.size == b.size && e.start + e.size <= memory.size() &&
            memory.compare(e.start, e.size, Pattern(b.size, static_cast<unsigned>(b.entry))) == 0)
          found = true;
      }
      if (!found) return ::testing::AssertionFailure() << "block " << b.name << " lost";
    }
    return ::testing::AssertionSuccess();
  }

  int Loader(const std::string& args) { return Run("loader --port board --ini lentar.ini " + args); }

  SimProcess sim_;
};

TEST_F(CliLoader, UsageErrorsComeBeforeThePort) {
  // No simulator: a usage error never touches the port.
  const char* cases[] = {"",
                         "fly",
                         "read 1",
                         "read -o x.bin",
                         "erase",
                         "erase 1 --all",
                         "write",
                         "write a.bin b.bin",
                         "list extra",
                         "list --name x",
                         "--speed 5 info",
                         "--speed x info",
                         "write a.txt --font-height 9"};
  for (const char* args : cases) EXPECT_EQ(Loader(args), 2) << args << "\n" << err_;
  EXPECT_EQ(Run("loader --help"), 0);
  EXPECT_NE(out_.find("write НАБОР|ОБРАЗ.bin [--name ИМЯ] [--defragment]"), std::string::npos);
}

// The memory file is written through, as flash is: a simulator killed right
// after an acknowledged write (a power cut) has kept it.
TEST_F(CliLoader, AKilledLoaderKeepsWhatItAcknowledged) {
  SeedMemory(1, {});
  StartSim(1);
  Write("block.bin", Pattern(700, 9));
  ASSERT_EQ(Loader("write block.bin --name kept"), 0) << err_;
  sim_.Kill();
  EXPECT_TRUE(HoldsEveryBlock(Read("memory.bin"), {{9, 0, 700, "kept"}}));
}

TEST_F(CliLoader, NoLoaderOnThePortIsRefused) {
  EXPECT_EQ(Run("loader --port /nonexistent/loader info"), 1);
  EXPECT_NE(err_.find("Ошибка коммуникационного порта!"), std::string::npos) << err_;
}

TEST_F(CliLoader, WriteListReadEraseAndInfo) {
  SeedMemory(1, {{5, 2048, 500, "old"}});
  StartSim(1);
  const std::string image = Pattern(3000, 77);
  Write("image.bin", image);
  Write("set.txt", "Hello {[Sp:3]} board");

  ASSERT_EQ(Loader("write image.bin --name \"Очень длинное имя блока\""), 0) << err_;
  EXPECT_EQ(out_, "Сохранено строкой 1: Очень длинное и, 3000 байт с адреса 2560\n");
  ASSERT_EQ(Loader("write set.txt"), 0) << err_;  // compiled, named after the file
  ASSERT_EQ(Loader("list"), 0) << err_;
  EXPECT_EQ(out_, "1\tОчень длинное и\t3000\t2560\n2\tset\t17\t1152\n3\told\t500\t2048\n");

  ASSERT_EQ(Loader("read 1 -o back.bin"), 0) << err_;
  EXPECT_EQ(Read("back.bin"), image);
  ASSERT_EQ(Loader("read 3 -o old.bin"), 0) << err_;
  EXPECT_EQ(Read("old.bin"), Pattern(500, 5));
  EXPECT_EQ(Loader("read 4 -o none.bin"), 1);
  EXPECT_NE(err_.find("нет строки 4"), std::string::npos) << err_;

  ASSERT_EQ(Loader("erase 2"), 0) << err_;
  ASSERT_EQ(Loader("info"), 0) << err_;
  for (const char* line : {"Тип памяти: 1\n", "Размер памяти: 32768\n", "Размер страницы: 64\n",
                           "Блоков: 2\n", "Свободно байт: 28096\n", "Часы: "})
    EXPECT_NE(out_.find(line), std::string::npos) << line << out_;

  ASSERT_EQ(Loader("erase --all"), 0) << err_;
  ASSERT_EQ(Loader("list"), 0) << err_;
  EXPECT_EQ(out_, "");
  const std::string memory = StopAndReadMemory();
  // Erasing clears directory entries only; the data stay where they were.
  EXPECT_EQ(memory.substr(0, 1024), std::string(1024, '\0'));
  EXPECT_EQ(memory.substr(2560, 3000), image);
}

TEST_F(CliLoader, WriteWithoutAFittingGapNeedsDefragment) {
  // 31616 bytes of data area, 3 gaps of 6400 bytes: 19200 free, but no gap
  // takes 8000 bytes.
  const std::vector<Block> blocks = {
      {0, 7552, 4000, "b"}, {1, 17984, 4000, "c"}, {2, 28416, 4000, "d"}};
  SeedMemory(1, blocks);
  StartSim(1);
  Write("big.bin", Pattern(8000, 9));
  EXPECT_EQ(Loader("write big.bin"), 1);
  EXPECT_NE(err_.find("Нет свободного блока достаточного размера!"), std::string::npos) << err_;
  Write("huge.bin", Pattern(20000, 9));
  EXPECT_EQ(Loader("write huge.bin --defragment"), 1);
  EXPECT_NE(err_.find("Недостаточно места в загрузчике! Удалите какие-либо данные!"),
            std::string::npos)
      << err_;
  const std::string untouched = StopAndReadMemory();
  StartSim(1);

  // Room is made by moving the fewest bytes: "b" alone, into the gap after
  // it; the new block takes its place at the start.
  ASSERT_EQ(Loader("write big.bin --defragment"), 0) << err_;
  EXPECT_EQ(out_, "Сохранено строкой 4: big, 8000 байт с адреса 1152\n");
  ASSERT_EQ(Loader("list"), 0) << err_;
  EXPECT_EQ(out_, "1\tb\t4000\t11584\n2\tc\t4000\t17984\n3\td\t4000\t28416\n4\tbig\t8000\t1152\n");
  const std::string memory = StopAndReadMemory();
  EXPECT_TRUE(HoldsEveryBlock(untouched, blocks));
  EXPECT_TRUE(HoldsEveryBlock(memory, blocks));
  EXPECT_EQ(memory.substr(1152, 8000), Pattern(8000, 9));
}

// A loader whose memory type is 0 takes no memory command (the simulated one
// refuses them all): every command that needs memory says so in the loader
// window's words, after the handshake, and sends none; info prints what the
// loader told first.
TEST_F(CliLoader, ALoaderWithoutMemoryIsRefused) {
  StartSim(0, {"-v"});
  Write("set.bin", Pattern(100, 1));
  const std::string refused = "lentar-cli loader: Загрузчик не имеет памяди данных!\n";
  const char* commands[] = {"info",  "list",   "write set.bin", "read 1 -o out.bin", "erase 1",
                            "erase --all", "format", "defragment",    "passwords"};
  for (const char* command : commands) {
    EXPECT_EQ(Loader(command), 1) << command;
    EXPECT_EQ(err_, refused) << command;
  }
  ASSERT_EQ(Loader("info"), 1);
  EXPECT_NE(out_.find("Тип памяти: 0\nРазмер памяти: 0\nЧасы: "), std::string::npos) << out_;
  EXPECT_EQ(Loader("set-clock"), 0) << err_;
  EXPECT_EQ(sim_.Log().find("command 0x15"), std::string::npos);
  EXPECT_EQ(sim_.Log().find("command 0x16"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Path("out.bin")));
}

TEST_F(CliLoader, FormatClockAndPasswords) {
  SeedMemory(2, {{0, 1152, 100, "a"}});
  TSettings settings;
  lentar::DefaultSettings(settings);
  settings.Password = {"one", "", "three", "", "", "", "", "12345678"};
  ASSERT_TRUE(lentar::WriteSettings(settings, Path("lentar.ini")));
  StartSim(2);
  ASSERT_EQ(Loader("passwords"), 0) << err_;
  EXPECT_EQ(out_, "Пароли записаны (заданы 3 из 8)\n");
  ASSERT_EQ(Loader("set-clock"), 0) << err_;
  EXPECT_EQ(out_.rfind("Часы: ", 0), 0u) << out_;
  std::string memory = StopAndReadMemory();
  const std::string area = memory.substr(1024, 128);
  EXPECT_EQ(area.substr(0, 4), std::string("\x03one", 4));
  EXPECT_EQ(area.substr(16, 16), std::string(16, '\0'));
  EXPECT_EQ(area.substr(112, 9), "\x08" "12345678");

  StartSim(2);
  ASSERT_EQ(Loader("format"), 0) << err_;
  memory = StopAndReadMemory();
  EXPECT_EQ(memory.substr(0, 1152), std::string(1152, '\0'));
}

// Blocks already packed but listed out of order: a defragment only
// renumbers them, in a few directory-page writes. Cut at each of those
// writes, the loader lists every block once, and the next defragment
// finishes the work.
TEST_F(CliLoader, ACutRenumberingIsFinishedByTheNextDefragment) {
  const std::vector<Block> blocks = {
      {0, 5184, 4000, "c"}, {1, 1152, 4000, "b"}, {2, 9216, 4000, "d"}};
  for (int k = 1; k <= 5; ++k) {
    SeedMemory(1, blocks);
    StartSim(1, {"--ignore", "0x15@" + std::to_string(k), "-v"});
    EXPECT_EQ(Loader("defragment"), 1) << k;
    EXPECT_NE(err_.find("Ошибка соединения с загрузчиком"), std::string::npos) << err_;
    StopAndReadMemory();
    StartSim(1);
    ASSERT_EQ(Loader("list"), 0) << err_;
    EXPECT_EQ(std::count(out_.begin(), out_.end(), '\n'), 3) << "cut at write " << k << ":\n" << out_;
    ASSERT_EQ(Loader("defragment"), 0) << "cut at write " << k << ": " << err_;
    EXPECT_EQ(out_, "Свободно 19520 байт одним промежутком с адреса 13248\n");
    const std::string memory = StopAndReadMemory();
    EXPECT_TRUE(HoldsEveryBlock(memory, blocks)) << k;
    LoaderDirectory d;
    std::copy_n(memory.begin(), d.size(), d.begin());
    int listed = 0;
    for (int i = 0; i < kLoaderEntryCount; ++i) listed += EntryEmpty(d, i) ? 0 : 1;
    EXPECT_EQ(listed, 3) << k;
    EXPECT_EQ(ReadEntry(d, 0).name, "b") << k;
  }
}

// Packing that cannot be done says why, never blames the line: a damaged
// directory (two blocks over each other) is left alone, and a block that
// could only move over its own place stops the packing there.
TEST_F(CliLoader, PackingThatCannotBeDoneSaysWhy) {
  struct Case {
    std::vector<Block> blocks;
    const char* command;
    std::string err, out;  // out: the whole of it, when given
    bool gapsOnErr = false;
  };
  const std::vector<Block> damaged = {
      {0, 1152, 5000, "a"}, {1, 6000, 900, "b"}, {2, 14016, 3000, "c"}, {3, 24000, 3000, "d"}};
  const std::vector<Block> stuck = {{0, 1216, 20000, "big"}};
  const std::string stopped = "Упаковка остановлена, чтобы не повредить блок «big»";
  // A store that cannot make room safely changes nothing at all.
  const std::string noRoom =
      "Место для блока не освободить, не рискуя блоком «big»: чтобы сдвинуть его, нужен свободный "
      "промежуток не меньше самого блока. В загрузчике ничего не изменено.";
  const std::string gaps =
      "Свободно 11584 байта в 2 промежутках: с адреса 1152 — 64 байта; с адреса 21248 — 11520 байт";
  Write("big.bin", Pattern(11530, 9));
  const Case cases[] = {
      {damaged, "defragment", kDamagedDirectoryText, ""},
      {damaged, "write big.bin --defragment", kDamagedDirectoryText, ""},
      {stuck, "defragment", stopped, gaps + "\n"},
      {stuck, "write big.bin --defragment", noRoom, "", true},
  };
  for (const Case& c : cases) {
    SeedMemory(1, c.blocks);
    const std::string before = Read("memory.bin");
    StartSim(1);
    EXPECT_EQ(Loader(c.command), 1) << c.command;
    EXPECT_NE(err_.find(c.err), std::string::npos) << c.command << ": " << err_;
    EXPECT_EQ(err_.find("Ошибка соединения"), std::string::npos) << c.command << ": " << err_;
    if (!c.out.empty()) {
      EXPECT_EQ(out_, c.out) << c.command;
    }
    if (c.gapsOnErr) {
      EXPECT_NE(err_.find(gaps), std::string::npos) << err_;
    }
    EXPECT_EQ(StopAndReadMemory(), before) << c.command;
  }
}

// A transfer that fails on a line that loses requests reports the failure,
// and the loader still holds every block it held before.
TEST_F(CliLoader, FailedTransfersLoseNothing) {
  const std::vector<Block> blocks = {
      {0, 7552, 4000, "b"}, {1, 17984, 4000, "c"}, {2, 28416, 4000, "d"}};
  Write("big.bin", Pattern(8000, 9));
  {
    // Making room for the new block moves "b" (63 pages) into the gap after
    // it; the loader ignores the 40th page written, half way through.
    SeedMemory(1, blocks);
    StartSim(1, {"--ignore", "0x15@40", "-v"});
    EXPECT_EQ(Loader("write big.bin --defragment"), 1) << out_;
    EXPECT_NE(err_.find("Ошибка соединения с загрузчиком"), std::string::npos) << err_;
    const std::string memory = StopAndReadMemory();
    EXPECT_TRUE(HoldsEveryBlock(memory, blocks));
    // The move had begun; the entry still lists the block where it was.
    LoaderDirectory d;
    std::copy_n(memory.begin(), d.size(), d.begin());
    EXPECT_EQ(ReadEntry(d, 0).start, 7552u);
    EXPECT_EQ(memory.substr(11584, 64), Pattern(4000, 0).substr(0, 64));
    EXPECT_EQ(BlockEntries(d).size(), 3u);
  }
  {
    SeedMemory(1, blocks);
    // With this seed the loader first ignores request 586: after the blocks
    // were read and the first one moved (its entry written by request 538),
    // before the second one's entry (request 666).
    StartSim(1, {"--drop", "0.002", "--seed", "27", "-v"});
    EXPECT_EQ(Loader("defragment"), 1) << out_;
    EXPECT_NE(err_.find("Ошибка соединения с загрузчиком"), std::string::npos) << err_;
    const std::string memory = StopAndReadMemory();
    EXPECT_TRUE(HoldsEveryBlock(memory, blocks));
    // The reorganisation had begun: the first block already moved.
    LoaderDirectory d;
    std::copy_n(memory.begin(), d.size(), d.begin());
    EXPECT_EQ(ReadEntry(d, 0).start, 1152u);
  }
}

// Ctrl+C half way through a write: the command stops at the next page,
// switches the loader back to its base speed and exits 130 with the loader
// listing what it held and nothing half written; the loader answers a new
// command at its base speed.
TEST_F(CliLoader, CtrlCDuringAWriteStopsItAndExits130) {
  const std::vector<Block> blocks = {{0, 1152, 3000, "kept"}};
  SeedMemory(3, blocks);
  // Every byte at line speed: the 60000-byte block takes seconds.
  StartSim(3, {"--pace", "-v"});
  Write("big.bin", Pattern(60000, 9));
  const std::string command = "cd '" + dir_.string() + "' && exec '" LENTAR_BIN_DIR
                              "/lentar-cli' loader --port board --ini lentar.ini --speed 4 "
                              "write big.bin --name big >out.log 2>err.log";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  // Interrupted once a few pages of the block are in.
  const auto writes = [&] {
    const std::string log = sim_.Log();
    size_t n = 0;
    for (size_t at = log.find("command 0x15 address"); at != std::string::npos;
         at = log.find("command 0x15 address", at + 1))
      ++n;
    return n;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (writes() < 5 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(writes(), 5u) << sim_.Log();
  ASSERT_EQ(kill(pid, SIGINT), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  err_ = Read("err.log");
  EXPECT_NE(err_.find("Прервано оператором"), std::string::npos) << err_;
  EXPECT_EQ(Read("out.log"), "");
  // Far from the whole block went.
  EXPECT_LT(writes(), 60000u / 128);

  // A new command reaches the loader at its base speed, and it lists what
  // it held.
  ASSERT_EQ(Loader("list"), 0) << err_;
  EXPECT_EQ(out_, "1\tkept\t3000\t1152\n");
  EXPECT_TRUE(HoldsEveryBlock(StopAndReadMemory(), blocks));
}

}  // namespace
