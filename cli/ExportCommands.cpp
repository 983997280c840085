#include "cli/Commands.h"

namespace orvella::cli {

int RunExport(const Args&) { return Usage("export: not built yet"); }
int RunSaveImage(const Args&) { return Usage("save-image: not built yet"); }
int RunBlank(const Args&) { return Usage("blank: not built yet"); }

}  // namespace orvella::cli
