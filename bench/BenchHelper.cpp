// orvella_bench_helper mkimage OUT CHIP_MIB TABLE ff|zero|pattern
// orvella_bench_helper load IMAGE
// The sample maker and the bare load for bench/run.sh, over the same core as the tool.

#include <cstdio>
#include <string>

#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"

int main(int argc, char** argv) {
  using namespace orvella;
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "mkimage" && argc == 6) {
    ImageSpec spec;
    std::string error;
    spec.ChipMiB = static_cast<std::uint32_t>(std::stoul(argv[3]));
    const std::string fill = argv[5];
    spec.Fill = fill == "zero" ? ImageFill::Zero : fill == "pattern" ? ImageFill::Pattern : ImageFill::Erased;
    if (!ParseTableSpec(argv[4], spec.Table, error) || !WriteFullImage(argv[2], spec, error)) {
      std::fprintf(stderr, "orvella_bench_helper: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (cmd == "load" && argc == 3) {
    ImageModel model;
    RecordingPort port;
    if (!model.LoadImageFileAndProcessIt(argv[2], port)) return 1;
    std::printf("%zu partitions\n", model.PartitionRows.size());
    return 0;
  }
  std::fprintf(stderr, "usage: orvella_bench_helper mkimage OUT CHIP_MIB TABLE FILL | load IMAGE\n");
  return 2;
}
