#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/DumpInput.h"
#include "cli/Frame.h"
#include "image/FullImage.h"
#include "image/RecordingPort.h"
#include "image/RowText.h"

namespace orvella::cli {

namespace {

// The columns a listed line shows, in the list's own column order ("Selected" is left
// out: it is always empty right after a load).
constexpr std::size_t kListedColumns[] = {0, 2, 3, 4};

void PrintRows(const ImageModel& model) {
  const auto& items = model.PartitionItems;
  for (std::size_t k = 0; k < static_cast<std::size_t>(items.Count); ++k) {
    std::string line;
    for (std::size_t column : kListedColumns) {
      if (!line.empty()) line += '\t';
      line += ListedCellText(items, k, column);
    }
    std::printf("%s\n", line.c_str());
  }
}

void PrintJson(const ImageModel& model) {
  // Byte numbers are the 32-bit values the row texts show, so both outputs agree.
  auto rows = nlohmann::ordered_json::array();
  for (std::size_t k = 0; k < model.PartitionRows.size(); ++k) {
    const auto& row = model.PartitionRows[k];
    const std::uint32_t firstByte = row.BegBlock * model.BlockSize;
    const std::uint32_t lastByte = (row.BegBlock + row.Blocks) * model.BlockSize - 1;
    const std::uint32_t sizeBytes = row.Blocks * model.BlockSize;
    rows.push_back({{"position", row.Position},
                    {"name", row.PartitionName},
                    {"base_block", row.BegBlock},
                    {"blocks", row.Blocks},
                    {"stored_size", model.GalaxyPartitions.RawEntries.at(k).SizeInBlocks},
                    {"first_byte", firstByte},
                    {"last_byte", lastByte},
                    {"size_bytes", sizeBytes}});
  }
  const std::string text = rows.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

}  // namespace

int RunList(const ListOptions& o) {
  const std::string& image = o.Image;
  const bool json = o.Json;
  DumpInput input;
  int status = 0;
  if (!ChooseDumpFormat("list", image, o.Format, o.Spare, 2, 1, input, status)) return status;
  ImageModel model;
  RecordingPort port;
  bool loaded = false;
  if (input.Format == DumpFormat::Full) {
    NoteNotWhole("list", image);
    loaded = model.LoadImageFileAndProcessIt(image, port);
  } else {
    DumpReader reader;
    std::string error;
    if (!reader.Open(image, input.Format, {input.SparePath, 0}, error)) {
      std::fprintf(stderr, "orvella: list: %s\n", error.c_str());
      return 1;
    }
    loaded = model.LoadDumpAndProcessIt(image, reader, port);
  }

  // With --json, standard output carries nothing but the JSON document.
  std::FILE* logOut = json ? stderr : stdout;
  for (const std::string& line : port.Log) std::fprintf(logOut, "%s\n", line.c_str());
  for (const std::string& box : port.ErrorBoxes) std::fprintf(stderr, "%s\n", box.c_str());
  if (loaded) {
    if (json)
      PrintJson(model);
    else
      PrintRows(model);
  }

  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "orvella: list: cannot write to standard output\n");
    return 1;
  }
  return loaded ? 0 : 1;
}

}  // namespace orvella::cli
