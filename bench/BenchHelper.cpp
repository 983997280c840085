// orvella_bench_helper mkimage OUT CHIP_MIB TABLE ff|zero|pattern
// orvella_bench_helper load IMAGE
// orvella_bench_helper find IMAGE PARTITION HEXBYTES
// The sample maker, the bare load and the hex view's search (from the partition's first
// byte, as Ctrl+F from a fresh view) for bench/run.sh, over the same core as the tool.

#include <cstdio>
#include <string>

#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"
#include "ui/HexSearch.h"

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
  if (cmd == "find" && argc == 5) {
    ImageModel model;
    RecordingPort port;
    if (!model.LoadImageFileAndProcessIt(argv[2], port)) return 1;
    std::vector<std::uint8_t> pattern;
    const std::string hex = argv[4];
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      pattern.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    for (std::size_t k = 0; k < model.PartitionRows.size(); ++k) {
      if (model.PartitionRows[k].PartitionName != argv[3]) continue;
      const PartitionRange r = model.RangeOf(k);
      const FindResult found =
          FindInChunk({argv[2], r.MainOffset, 0, r.MainLength}, pattern, 0, true);
      if (found.What != FindResult::Kind::Found) return 1;
      std::printf("%llx\n", static_cast<unsigned long long>(found.Address));
      return 0;
    }
    return 1;
  }
  std::fprintf(stderr, "usage: orvella_bench_helper mkimage OUT CHIP_MIB TABLE FILL | load IMAGE | find IMAGE PARTITION HEX\n");
  return 2;
}
