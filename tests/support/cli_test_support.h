// A test fixture for running the built lentar-cli as a script would run it:
// a fresh folder per test, files written to and read from it, and the
// program run in it with what it printed kept.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "support/sim_process.h"

namespace lentar::cli::testing {

class CliFolderTest : public ::testing::Test {
 protected:
  // The folder is named after prefix, the process and the test.
  explicit CliFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}

  // The folder starts with a settings file of defaults: an --ini given on
  // the command line must name a file that exists.
  void SetUp() override {
    dir_ = lentar::comm::testing::TestFolder(
        prefix_, ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Write("lentar.ini", "[Settings]\r\n");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Runs lentar-cli with args in the test folder; returns the exit status and
  // keeps what it printed in out_ and err_.
  int Run(const std::string& args) {
    const std::string cmd = "cd '" + dir_.string() + "' && '" LENTAR_BIN_DIR "/lentar-cli' " +
                            args + " >out.log 2>err.log";
    const int status = std::system(cmd.c_str());
    out_ = Read("out.log");
    err_ = Read("err.log");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::filesystem::path dir_;
  std::string out_, err_;

 private:
  std::string prefix_;
};

}  // namespace lentar::cli::testing
