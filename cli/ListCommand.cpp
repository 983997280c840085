#include "cli/Commands.h"

namespace orvella::cli {

int RunList(const Args&) { return Usage("list: not built yet"); }

}  // namespace orvella::cli
