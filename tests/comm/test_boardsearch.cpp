#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comm/boardsearch.h"

namespace lentar::comm {
namespace {

TEST(BoardSearchTest, ComPortsComeFirstThenTheOtherReportedDevicesEachOnce) {
  // COM2 and COM4 exist here; the system also reports a USB adapter and COM2's
  // device again.
  auto deviceOfCom = [](int index) -> std::string {
    if (index == 1) return "/dev/ttyS1";
    if (index == 3) return "/dev/ttyS3";
    return {};
  };
  const std::vector<SearchCandidate> candidates =
      BoardSearchCandidates({"/dev/ttyUSB0", "/dev/ttyS1", "", "/dev/ttyACM0"}, 32, deviceOfCom);
  const std::vector<SearchCandidate> expected = {
      {"/dev/ttyS1", 1}, {"/dev/ttyS3", 3}, {"/dev/ttyUSB0", -1}, {"/dev/ttyACM0", -1}};
  EXPECT_EQ(candidates, expected);
  // Only the first comCount numbers are looked at.
  EXPECT_EQ(BoardSearchCandidates({}, 2, deviceOfCom), (std::vector<SearchCandidate>{{"/dev/ttyS1", 1}}));
}

TEST(BoardSearchTest, TheTypedDeviceIsProbedFirst) {
  const std::vector<SearchCandidate> listed = {{"/dev/ttyS0", 0}, {"/dev/ttyUSB0", -1}};
  const struct {
    const char* typed;
    std::vector<SearchCandidate> expected;
  } cases[] = {
      {"", listed},
      {"/dev/ttyUSB0", {{"/dev/ttyUSB0", -1}, {"/dev/ttyS0", 0}}},
      {"/dev/ttyS0", listed},
      {"socket://127.0.0.1:4001", {{"socket://127.0.0.1:4001", -1}, {"/dev/ttyS0", 0}, {"/dev/ttyUSB0", -1}}},
  };
  for (const auto& c : cases) EXPECT_EQ(TypedDeviceFirst(listed, c.typed), c.expected) << c.typed;
}

}  // namespace
}  // namespace lentar::comm
