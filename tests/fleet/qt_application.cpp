// The serial line's thread runs a Qt event loop, which needs an application
// object in the process: one for the whole test program.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

namespace {

class QtApplication : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "fleet_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QCoreApplication> app_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtApplication);

}  // namespace
