// TEMPORARY placeholder until the preview command lands (replaced by its engineer).
#include <cstdio>
#include "cli/commands.h"
namespace lentar::cli {
int RunPreview(const Args&) {
  std::fputs("lentar-cli preview: not built yet\n", stderr);
  return kExitUsage;
}
}  // namespace lentar::cli
