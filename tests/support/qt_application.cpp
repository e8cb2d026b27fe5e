// The serial line's thread runs a Qt event loop, which needs an application
// object in the process: one for the whole test program, named after it.
#include <gtest/gtest.h>

#include <cerrno>
#include <QCoreApplication>
#include <memory>

namespace {

class QtApplication : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char* argv_[2] = {program_invocation_short_name, nullptr};
  std::unique_ptr<QCoreApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace
