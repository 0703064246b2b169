// Temporary until the drive list and the S.M.A.R.T. page land on main.
#include "commands.h"

namespace cli {
int SmartCommand(platform::Platform&, const Options& o) { return Fail(o, "smart", ExitUsage, "smart is not built yet"); }
}  // namespace cli
