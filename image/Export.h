#pragma once
// The export commands of the partition list's popup menu: one partition or every
// partition into files of their own (main data, spare data or both), and the whole
// image again as a full image file. They read the loaded image in BlockSize chunks
// through one buffer and talk to the window only through the window port.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/FullImage.h"
#include "image/WindowPort.h"

namespace orvella {

enum class ExportOutcome { Done, Cancelled, Failed };

// How the commands write their files. The window's commands write in place, so that
// what was written before a failure stays in the file; the tool's write each file under
// a temporary name (PartFile) that takes the file's name only once it is complete.
enum class OutputWriting { InPlace, Whole };

struct ExportResult {
  ExportOutcome Outcome = ExportOutcome::Cancelled;
  std::vector<std::string> FilesWritten;  // completed files, in the order written
};

// A partition's ranges without the 32-bit wrap, to tell where a table points past the
// image. For a partition that lies inside the image they equal RangeOf(k).
struct WideRange {
  std::uint64_t MainOffset = 0;
  std::uint64_t MainLength = 0;
  std::uint64_t SpareOffset = 0;
  std::uint64_t SpareLength = 0;
};
WideRange WideRangeOf(const ImageModel& model, std::size_t k);

// The error text for a partition whose data would be read past the end of its area.
std::string BeyondImageError(const ImageModel& model, std::size_t k);

// Refuses an output that is the image itself, however spelled: creating it would
// truncate the image before a byte of it is read.
bool CheckNotTheImage(const std::string& output, const std::string& image, std::string& error);

// prefix + H12(main offset) + "_" + name + ".bin"
std::string PartitionFileName(const std::string& prefix, std::uint32_t mainOffset,
                              const std::string& partitionName);

// Saves the partition of row PopupRowIndex into one file named from the chosen prefix.
ExportResult SavePartitionDataIntoFile(const ImageModel& model, WindowPort& port,
                                       std::size_t PopupRowIndex, bool SaveMain,
                                       bool SaveRedu,
                                       OutputWriting writing = OutputWriting::InPlace);

// Saves every partition, in table order, each into its own file.
ExportResult SaveAllPartitionsDataIntoFile(const ImageModel& model, WindowPort& port,
                                           bool SaveMain, bool SaveRedu,
                                           OutputWriting writing = OutputWriting::InPlace);

// Saves the main and spare areas of the loaded image into one new full image file.
ExportResult SaveAsImageFile(const ImageModel& model, WindowPort& port,
                             OutputWriting writing = OutputWriting::InPlace);

}  // namespace orvella
