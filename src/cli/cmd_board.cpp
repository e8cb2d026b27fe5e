// TEMPORARY placeholder until the board command lands (replaced by its engineer).
#include <cstdio>
#include "cli/commands.h"
namespace lentar::cli {
int RunBoard(const Args&) {
  std::fputs("lentar-cli board: not built yet\n", stderr);
  return kExitUsage;
}
}  // namespace lentar::cli
