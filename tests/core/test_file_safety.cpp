// Files the program replaces and reads: write protection, owner and mode,
// nothing left after a killed write, bounded reads, damaged settings files
// and the GPRS version counter shared by programs running at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/atomicfile.h"
#include "core/settings.h"
#include "support/settings_files.h"

namespace {

using namespace lentar;
using lentar::testing::FileBytes;
using lentar::testing::FileCount;
using lentar::testing::TempDir;

constexpr uid_t kNobody = 65534;

// Runs body in a child process under the unprivileged uid and gid 65534;
// the child's exit status (0 = all held), or -1 when the child could not
// drop its privileges.
template <typename Body>
int AsOrdinaryUser(Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(100);
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 100) return -1;
  return WEXITSTATUS(status);
}

void WriteRaw(const std::string& path, const std::string& bytes) {
  ASSERT_TRUE(WriteFileAtomically(path, bytes));
}

TEST(AtomicReplace, AWriteProtectedFileIsRefusedAsAPlainWriteWouldBe) {
  if (::geteuid() != 0) {
    // An ordinary user already: the check applies to us directly.
    TempDir dir;
    const std::string file = dir / "lentar.ini";
    WriteRaw(file, "old");
    ::chmod(file.c_str(), 0444);
    errno = 0;
    EXPECT_FALSE(WriteFileAtomically(file, "new"));
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(FileBytes(file), "old");
    return;
  }
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0777);  // the folder allows the rename
  const std::string file = dir / "out.bin";
  WriteRaw(file, "old");
  ::chown(file.c_str(), kNobody, kNobody);
  ::chmod(file.c_str(), 0444);
  const int result = AsOrdinaryUser([&] {
    errno = 0;
    return !WriteFileAtomically(file, "new") && errno == EACCES;
  });
  if (result < 0) GTEST_SKIP() << "cannot switch to an unprivileged user here";
  EXPECT_EQ(result, 0) << "the write-protected file was replaced";
  EXPECT_EQ(FileBytes(file), "old");
  EXPECT_EQ(FileCount(dir.Path()), 1) << "no temporary file left";
}

TEST(AtomicReplace, OwnerGroupAndModeOfTheReplacedFileStay) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to create a file owned by another user";
  TempDir dir;
  const std::string file = dir / "lentar.ini";
  WriteRaw(file, "old");
  ::chown(file.c_str(), kNobody, kNobody);
  ::chmod(file.c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomically(file, "new"));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_gid, kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FileBytes(file), "new");
}

TEST(AtomicReplace, AKilledWriteLeavesNothingBeside) {
  TempDir dir;
  const std::string file = dir / "image.bin";
  const std::string big(16 << 20, 'x');
  WriteRaw(file, "old");
  for (int delayMs : {1, 5, 20}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (;;) WriteFileAtomically(file, big);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    // A write killed between naming its file and the rename may leave that
    // name: the next write removes it, as its writer is gone.
    ASSERT_TRUE(WriteFileAtomically(file, "after " + std::to_string(delayMs)));
    EXPECT_EQ(FileCount(dir.Path()), 1) << "killed after " << delayMs << " ms";
    EXPECT_EQ(FileBytes(file), "after " + std::to_string(delayMs));
  }
}

TEST(AtomicReplace, StaleNamedTemporariesGoWithTheNextWrite) {
  TempDir dir;
  const std::string file = dir / "set.txt";
  const std::string stale = dir / ".set.txt.tmp999999999-0-0";  // no such process
  const std::string live = dir / (".set.txt.tmp" + std::to_string(::getpid()) + "-7-0");
  const std::string other = dir / ".other.txt.tmp999999999-0-0";
  for (const std::string& p : {stale, live, other}) WriteRaw(p, "temp");
  ASSERT_TRUE(WriteFileAtomically(file, "text"));
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(std::filesystem::exists(live)) << "a writer still running keeps its file";
  EXPECT_TRUE(std::filesystem::exists(other)) << "another file's temporaries are not ours";
}

TEST(CappedRead, EndlessAndOversizedSourcesAreRefused) {
  TempDir dir;
  const std::string exact = dir / "exact", over = dir / "over";
  WriteRaw(exact, std::string(1000, 'a'));
  WriteRaw(over, std::string(1001, 'a'));
  struct Case {
    std::string path;
    ReadOutcome expected;
  } cases[] = {{exact, ReadOutcome::Ok},
               {over, ReadOutcome::TooLarge},
               {"/dev/zero", ReadOutcome::TooLarge},
               {dir / "missing", ReadOutcome::Failed}};
  for (const Case& c : cases) {
    std::string out = "unchanged";
    EXPECT_EQ(ReadFileCapped(c.path, 1000, out), c.expected) << c.path;
    if (c.expected != ReadOutcome::Ok) {
      EXPECT_EQ(out, "unchanged") << c.path;
    }
  }
}

// Settings files that exist but yield no settings, as a crash or a wrong
// file leaves them.
const struct DamagedSettings {
  const char* what;
  std::string bytes;
} kDamaged[] = {
    {"no section header", "DispLen=96\r\nDialNo=123\r\n"},
    {"all zeros", std::string(2000, '\0')},
    {"zeros over the first half",
     std::string(40, '\0') + "ings]\r\nDispLen=96\r\nGprsFileVersion=41\r\n"},
    {"garbage", "\x89PNG\r\n\x1a\n\xff\xfe garbage"},
    {"three bytes", "[Se"},
    {"empty", ""},
};

TEST(DamagedSettings, AreToldApartAndNeverWrittenBackByTheVersionCounter) {
  TempDir dir;
  for (const auto& d : kDamaged) {
    SCOPED_TRACE(d.what);
    const std::string file = dir / "lentar.ini";
    WriteRaw(file, d.bytes);
    TSettings s;
    EXPECT_EQ(ReadSettingsFile(s, file), SettingsFileState::NoSection);
    EXPECT_FALSE(ReadSettings(s, file));
    uint32_t version = 0;
    SettingsFileState state = SettingsFileState::Read;
    EXPECT_FALSE(TakeGprsVersion(file, [](uint32_t v) { return v + 1; }, 0, version, state));
    EXPECT_EQ(state, SettingsFileState::NoSection);
    EXPECT_EQ(FileBytes(file), d.bytes) << "left as it was";
  }
  TSettings s;
  EXPECT_EQ(ReadSettingsFile(s, "/dev/zero"), SettingsFileState::Unreadable) << "endless";
  EXPECT_EQ(ReadSettingsFile(s, dir / "none.ini"), SettingsFileState::Missing);
}

TEST(DamagedSettings, AreKeptAsideUnderAFreeName) {
  TempDir dir;
  const std::string file = dir / "lentar.ini";
  WriteRaw(file, "first");
  EXPECT_EQ(KeepSettingsFileAside(file), file + ".damaged");
  WriteRaw(file, "second");
  EXPECT_EQ(KeepSettingsFileAside(file), file + ".damaged-2");
  EXPECT_EQ(FileBytes(file + ".damaged"), "first");
  EXPECT_EQ(FileBytes(file + ".damaged-2"), "second");
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(KeepSettingsFileAside(file), "") << "nothing to move";
}

uint32_t Next(uint32_t v) { return v + 1; }

TEST(GprsVersion, ProgramsRunningAtOnceNeverShareANumber) {
  TempDir dir;
  const std::string file = dir / "lentar.ini";
  TSettings s;
  DefaultSettings(s);
  s.GprsFileVersion = 10;
  s.DispLen = 96;
  ASSERT_TRUE(WriteSettings(s, file));
  // Processes, not threads: each takes the lock as its own program would.
  constexpr int kRuns = 12;
  int pipes[kRuns][2];
  std::vector<pid_t> pids;
  for (int i = 0; i < kRuns; ++i) {
    ASSERT_EQ(::pipe(pipes[i]), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
      uint32_t version = 0;
      SettingsFileState state{};
      const bool ok = TakeGprsVersion(file, Next, 0, version, state);
      const uint32_t sent = ok ? version : 0;
      (void)!::write(pipes[i][1], &sent, sizeof sent);
      ::_exit(0);
    }
    pids.push_back(pid);
  }
  std::set<uint32_t> versions;
  for (int i = 0; i < kRuns; ++i) {
    uint32_t v = 0;
    ASSERT_EQ(::read(pipes[i][0], &v, sizeof v), static_cast<ssize_t>(sizeof v));
    EXPECT_NE(v, 0u);
    versions.insert(v);
    ::close(pipes[i][0]);
    ::close(pipes[i][1]);
  }
  for (pid_t pid : pids) ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(versions.size(), static_cast<size_t>(kRuns)) << "a number was handed out twice";
  EXPECT_EQ(*versions.begin(), 11u);
  EXPECT_EQ(*versions.rbegin(), 10u + kRuns);
  TSettings after;
  ASSERT_TRUE(ReadSettings(after, file));
  EXPECT_EQ(after.GprsFileVersion, 10u + kRuns);
  EXPECT_EQ(after.DispLen, 96) << "the other settings stay";
}

TEST(GprsVersion, TheEditorsEndOfRunNeverPutsTheCounterBack) {
  TempDir dir;
  const std::string file = dir / "lentar.ini";
  TSettings editor;
  DefaultSettings(editor);
  editor.GprsFileVersion = 5;
  ASSERT_TRUE(WriteSettings(editor, file));
  uint32_t version = 0;
  SettingsFileState state{};
  ASSERT_TRUE(TakeGprsVersion(file, Next, 0, version, state));  // the command line meanwhile
  ASSERT_TRUE(TakeGprsVersion(file, Next, 0, version, state));
  EXPECT_EQ(version, 7u);
  ASSERT_TRUE(WriteSettingsKeepingVersion(editor, file));
  TSettings after;
  ASSERT_TRUE(ReadSettings(after, file));
  EXPECT_EQ(after.GprsFileVersion, 7u);
  // The editor's own counter ahead of the file wins as well.
  ASSERT_TRUE(TakeGprsVersion(file, Next, 20, version, state));
  EXPECT_EQ(version, 21u);
}

}  // namespace
