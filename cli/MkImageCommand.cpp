#include "cli/Commands.h"

namespace orvella::cli {

int RunMkImage(const Args&) { return Usage("mkimage: not built yet"); }

}  // namespace orvella::cli
