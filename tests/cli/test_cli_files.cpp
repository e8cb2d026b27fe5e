// lentar-cli and the files it reads: damaged or missing settings, outputs
// that would replace an input, endless and oversized inputs, and the GPRS
// version counter shared by runs at the same time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>

#include "support/cli_test_support.h"

namespace {

namespace fs = std::filesystem;

class CliFiles : public lentar::cli::testing::CliFolderTest {
 protected:
  CliFiles() : CliFolderTest("lentar_cli_files") {}
  void SetUp() override {
    CliFolderTest::SetUp();
    Write("set.txt", "Hello");
  }

  // Runs lentar-cli as the ordinary user 65534 when the tests run as root
  // (for root every file is writable), else as ourselves; -1 when that
  // cannot be done here.
  int RunAsOrdinaryUser(const std::string& args) {
    if (::geteuid() != 0) return Run(args);
    fs::permissions(dir_, fs::perms::all);  // the folder allows the rename
    const std::string cmd = "setpriv --reuid=65534 --regid=65534 --clear-groups sh -c \"cd '" +
                            dir_.string() + "' && '" LENTAR_BIN_DIR "/lentar-cli' " + args +
                            " >user-out.log 2>user-err.log\"";
    const int status = std::system(cmd.c_str());
    err_ = Read("user-err.log");
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 2) return -1;  // setpriv itself failed
    return WEXITSTATUS(status);
  }
};

const std::string kSettings = "[Settings]\r\nDispLen=96\r\nDialNo=5551234\r\nGprsFileVersion=41\r\n";

TEST_F(CliFiles, GprsLeavesASettingsFileWithoutSettingsAlone) {
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"no header", "DispLen=96\r\nDialNo=5551234\r\nGprsFileVersion=41\r\n"},
      {"zeroed", std::string(kSettings.size(), '\0')},
      {"zeros over the first half",
       std::string(20, '\0') + kSettings.substr(20)},
      {"three bytes", "[Se"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write("damaged.ini", c.bytes);
    EXPECT_EQ(Run("gprs set.txt -o out.txt --ini damaged.ini"), 1);
    EXPECT_NE(err_.find("не содержит читаемого раздела [Settings]"), std::string::npos) << err_;
    EXPECT_EQ(Read("damaged.ini"), c.bytes) << "never written back";
    EXPECT_FALSE(fs::exists(Path("out.txt")));
    // Reading commands say so and go on with the defaults.
    EXPECT_EQ(Run("compile set.txt -o out.bin --ini damaged.ini"), 0) << err_;
    EXPECT_NE(err_.find("не содержит читаемого раздела [Settings]"), std::string::npos) << err_;
    EXPECT_EQ(Read("damaged.ini"), c.bytes);
  }
}

TEST_F(CliFiles, AnExplicitSettingsFileMustExistOrIsSaidToBeCreated) {
  EXPECT_EQ(Run("compile set.txt --ini missing.ini"), 1);
  EXPECT_NE(err_.find("'missing.ini' не существует"), std::string::npos) << err_;
  EXPECT_EQ(Run("gprs set.txt --version 3 --ini missing.ini"), 1);
  EXPECT_FALSE(fs::exists(Path("missing.ini")));

  ASSERT_EQ(Run("gprs set.txt -o p.txt --ini new.ini"), 0) << err_;
  EXPECT_NE(err_.find("'new.ini' не существовал; он создан"), std::string::npos) << err_;
  EXPECT_NE(Read("new.ini").find("GprsFileVersion=1\r\n"), std::string::npos);
}

TEST_F(CliFiles, ParallelGprsRunsNeverShareAVersion) {
  Write("lentar.ini", kSettings);
  constexpr int kRuns = 20;
  std::string script;
  for (int i = 0; i < kRuns; ++i)
    script += "'" LENTAR_BIN_DIR "/lentar-cli' gprs set.txt -o p" + std::to_string(i) +
              ".txt --ini lentar.ini >>runs.log 2>&1 & ";
  ASSERT_EQ(Run("--help >/dev/null; " + script + "wait; true"), 0);
  std::set<std::string> versions;
  const std::string log = Read("runs.log");
  const std::string label = "версия ";
  for (size_t at = 0; (at = log.find(label, at)) != std::string::npos;) {
    at += label.size();
    versions.insert(log.substr(at, log.find('\n', at) - at));
  }
  EXPECT_EQ(versions.size(), static_cast<size_t>(kRuns)) << log;
  EXPECT_TRUE(versions.count("42") && versions.count(std::to_string(41 + kRuns))) << log;
  EXPECT_NE(Read("lentar.ini").find("GprsFileVersion=" + std::to_string(41 + kRuns)),
            std::string::npos);
  EXPECT_NE(Read("lentar.ini").find("DialNo=5551234"), std::string::npos) << "nothing else lost";
}

TEST_F(CliFiles, AnOutputNeverReplacesAFileTheCommandReads) {
  Write("i.ini", kSettings);
  Write("y.ini", kSettings);
  ASSERT_EQ(::symlink("y.ini", Path("link.ini").c_str()), 0);
  Write("p.bmp", "BM a picture the operator keeps");
  ASSERT_EQ(::symlink("p.bmp", Path("link.bmp").c_str()), 0);
  fs::copy_file(LENTAR_BIN_DIR "/Fonts/default.tfa", Path("f.tfa"));
  const std::string archive = Read("f.tfa");
  const struct {
    const char* args;
    const char* file;
    const char* what;
  } cases[] = {
      {"gprs set.txt -o y.ini --ini y.ini", "y.ini", "файл настроек"},
      {"gprs set.txt -o link.ini --ini y.ini", "y.ini", "файл настроек"},
      {"compile set.txt -o i.ini --ini i.ini", "i.ini", "файл настроек"},
      {"fonts f.tfa --render Hi -o f.tfa", "f.tfa", "архив шрифтов"},
      {"preview set.txt --gif i.ini --ini i.ini", "i.ini", "файл настроек"},
      {"preview set.txt --gif f.tfa --fonts f.tfa --ini i.ini", "f.tfa", "архив шрифтов"},
      {"loader read 1 -o i.ini --ini i.ini", "i.ini", "файл настроек"},
      {"picture export set.txt -o i.ini --ini i.ini", "i.ini", "файл настроек"},
      {"picture export set.txt -o set.txt --ini i.ini", "set.txt", "файл тега"},
      {"picture import p.bmp -o p.bmp --ini i.ini", "p.bmp", "картинку"},
      {"picture import p.bmp -o link.bmp --ini i.ini", "p.bmp", "картинку"},
      {"compile set.txt -o set.txt --ini i.ini", "set.txt", "файл набора"},
      {"gprs set.txt -o set.txt --ini i.ini", "set.txt", "файл набора"},
  };
  for (const auto& c : cases) {
    const std::string before = Read(c.file);
    EXPECT_EQ(Run(c.args), 2) << c.args << ": " << err_;
    EXPECT_NE(err_.find(std::string("заменил бы ") + c.what), std::string::npos) << err_;
    EXPECT_EQ(Read(c.file), before) << c.args;
  }
  EXPECT_EQ(Read("f.tfa"), archive);
}

TEST_F(CliFiles, AWriteProtectedTargetIsRefused) {
  Write("y.ini", kSettings);
  Write("out.bin", "old image");
  const struct {
    const char* args;
    const char* file;
  } cases[] = {
      {"gprs set.txt -o p.txt --ini y.ini", "y.ini"},
      {"compile set.txt -o out.bin --ini lentar.ini", "out.bin"},
  };
  for (const auto& c : cases) {
    const std::string before = Read(c.file);
    // The user's own file, write-protected by the user.
    if (::geteuid() == 0) {
      ASSERT_EQ(::chown(Path(c.file).c_str(), 65534, 65534), 0);
    }
    fs::permissions(Path(c.file), fs::perms::owner_read | fs::perms::group_read |
                                      fs::perms::others_read);
    const int status = RunAsOrdinaryUser(c.args);
    if (status < 0) GTEST_SKIP() << "cannot run as an ordinary user here: " << err_;
    EXPECT_EQ(status, 1) << c.args << ": " << err_;
    EXPECT_NE(err_.find(std::string("'") + c.file + "'"), std::string::npos) << err_;
    EXPECT_EQ(Read(c.file), before) << c.args;
    EXPECT_FALSE(fs::exists(Path("p.txt"))) << "nothing written without its version stored";
  }
}

TEST_F(CliFiles, EndlessAndOversizedInputsAreRefused) {
  // A sparse file far above any sound set or image.
  {
    std::ofstream big(Path("big.txt"), std::ios::binary);
    big.seekp((5 << 20) - 1);
    big.put('x');
  }
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"compile /dev/zero -o out.bin --ini lentar.ini", "'/dev/zero' слишком велик"},
      {"dump /dev/zero", "'/dev/zero' слишком велик"},
      {"preview /dev/zero --gif out.gif --ini lentar.ini", "'/dev/zero' слишком велик"},
      {"compile set.txt -o out.bin --ini /dev/zero", "'/dev/zero' не читается"},
      {"compile big.txt -o out.bin --ini lentar.ini", "'big.txt' слишком велик"},
      {"fonts /dev/zero", "Слишком большой размер архива /dev/zero"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.args), 1) << c.args << ": " << err_;
    EXPECT_NE(err_.find(c.message), std::string::npos) << c.args << ": " << err_;
  }
  EXPECT_FALSE(fs::exists(Path("out.bin")));
}

TEST_F(CliFiles, ADamagedArchiveIsNamed) {
  std::string bytes(200, '\0');
  Write("bad.tfa", bytes);
  EXPECT_EQ(Run("fonts bad.tfa"), 1);
  EXPECT_NE(err_.find("Неверное содержимое архива bad.tfa"), std::string::npos) << err_;
}

}  // namespace
