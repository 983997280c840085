#include "image/Export.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "image/ChunkBuffer.h"
#include "files/FileIO.h"
#include "files/FilePlatform.h"
#include "image/Notation.h"

namespace orvella {

namespace {

constexpr char kPartitionFilter[] = "Partition Name Prefix|";
constexpr char kAllPartitionsFilter[] = "All Files Group Name Prefix|";
constexpr char kImageFilter[] = "VESK BOX FullFlash Image Files |*.bin";
constexpr char kImageDefaultExt[] = "*.bin";
constexpr char kSavingText[] = "Saving to File...";
constexpr char kCompleteText[] = "Complete OK";

constexpr char kNoMemory[] = "Out of memory: cannot allocate the copy buffer";

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Everything one copy needs besides its range.
struct CopyContext {
  WindowPort& port;
  File& source;
  File& target;
  ChunkBuffer& buffer;
  std::string& error;
};

// Copies `length` bytes from `from` in chunks of `chunk` bytes (through the kernel where
// the file system takes it), stepping the gauge before each chunk when asked. A chunk
// that would reach past `areaEnd` fails with `beyond` before it is read, so a table
// pointing past the image never yields a silently short or misplaced file.
bool CopyRange(CopyContext& c, std::uint64_t from, std::uint64_t length,
               std::size_t chunk, bool stepGauge, std::uint64_t areaEnd,
               const std::string& beyond) {
  if (length == 0) return true;
  if (!c.source.Seek(from, c.error)) return false;
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk, length - done));
    if (stepGauge) {
      c.port.GaugeSetPos(c.port.GaugePos() + 1);
      c.port.ProcessMessages();
    }
    if (from + done + n > areaEnd) {
      c.error = beyond;
      return false;
    }
    if (!c.target.CopyFrom(c.source, n, c.buffer.data(), c.error)) return false;
    done += n;
  }
  return true;
}

// Opens the image, creates the output and runs `copy`; closes the output, then the
// image. On failure both are closed and `error` names the failure; a whole-file output
// then leaves nothing behind.
template <typename Copy>
bool WithFiles(const ImageModel& model, const std::string& output, OutputWriting writing,
               std::string& error, Copy&& copy) {
  File source;
  if (!source.OpenRead(model.CurrentImageFile, error)) return false;
  if (!CheckNotTheImage(output, model.CurrentImageFile, error)) return false;
  if (writing == OutputWriting::Whole) {
    if (!CheckNotTheImage(PartFile::PartName(output), model.CurrentImageFile, error)) return false;
    PartFile target;
    if (!target.Create(output, error) || !copy(source, target.Out()) || !target.Commit(error))
      return false;
  } else {
    File target;
    if (!target.Create(output, error)) return false;
    if (!copy(source, target)) return false;  // both closed by their owners
    if (!target.Close(error)) return false;
  }
  std::string ignored;
  source.Close(ignored);  // read-only: nothing of ours can be lost at close
  return true;
}

// Copies partition k into its file under `prefix`; `written` gets the file's name.
bool SaveOnePartition(const ImageModel& model, WindowPort& port, std::size_t k,
                      const std::string& prefix, bool SaveMain, bool SaveRedu,
                      OutputWriting writing, ChunkBuffer& buffer, std::string& written,
                      std::string& error) {
  const std::string& name = model.PartitionRows.at(k).PartitionName;
  written = PartitionFileName(prefix, model.RangeOf(k).MainOffset, name);
  if (const std::size_t bad = name.find_first_of(platform::ForbiddenInFileNames());
      bad != std::string::npos) {
    const unsigned char c = static_cast<unsigned char>(name[bad]);
    char shown[16];
    std::snprintf(shown, sizeof shown, c < 0x20 ? "U+%04X" : "\"%c\"", c);
    error = "I/O error: cannot create " + Quoted(written) + ": the partition name " +
            Quoted(name) + " contains " + shown + ", which a file name cannot hold";
    return false;
  }
  if (!buffer.Resize(model.BlockSize)) {
    error = kNoMemory;
    return false;
  }
  const WideRange r = WideRangeOf(model, k);
  const std::uint64_t mainEnd = model.SpareAreaStart();
  const std::uint64_t spareEnd = mainEnd + mainEnd / kSpareDivisor;
  const std::string beyond = BeyondImageError(model, k);
  return WithFiles(model, written, writing, error, [&](File& source, File& target) {
    CopyContext c{port, source, target, buffer, error};
    if (SaveMain &&
        !CopyRange(c, r.MainOffset, r.MainLength, model.BlockSize, true, mainEnd, beyond))
      return false;
    // Spare chunks follow the main chunks: a 32nd of each block.
    if (SaveRedu &&
        !CopyRange(c, r.SpareOffset, r.SpareLength, model.BlockSize / kSpareDivisor,
                   !SaveMain, spareEnd, beyond))
      return false;
    return true;
  });
}

}  // namespace

bool CheckNotTheImage(const std::string& output, const std::string& image,
                      std::string& error) {
  if (!SameFile(output, image)) return true;
  error = "I/O error: cannot create " + Quoted(output) +
          ": it is the image file in use " + Quoted(image) +
          " and would be destroyed by saving onto it";
  return false;
}

WideRange WideRangeOf(const ImageModel& model, std::size_t k) {
  WideRange r;
  r.MainOffset = std::uint64_t{model.GalaxyPartitions.Entries.at(k).EntryBase} * model.BlockSize;
  r.MainLength = std::uint64_t{model.EffectiveSize(k)} * model.BlockSize;
  r.SpareOffset = r.MainOffset / kSpareDivisor + model.SpareAreaStart();
  r.SpareLength = r.MainLength / kSpareDivisor;
  return r;
}

std::string BeyondImageError(const ImageModel& model, std::size_t k) {
  const std::uint64_t first = model.GalaxyPartitions.Entries.at(k).EntryBase;
  const std::uint64_t blocks = model.EffectiveSize(k);
  return "I/O error: read beyond end of image " + Quoted(model.CurrentImageFile) +
         ": partition " + Quoted(model.PartitionRows.at(k).PartitionName) +
         " covers blocks " + BlocksText(first, blocks) + ", the image holds blocks " +
         BlocksText(0, model.TotalBlocks);
}

std::string PartitionFileName(const std::string& prefix, std::uint32_t mainOffset,
                              const std::string& partitionName) {
  return prefix + Hex12(mainOffset) + "_" + partitionName + ".bin";
}

ExportResult SavePartitionDataIntoFile(const ImageModel& model, WindowPort& port,
                                       std::size_t PopupRowIndex, bool SaveMain,
                                       bool SaveRedu, OutputWriting writing) {
  ExportResult result;
  port.ProcessMessages();
  const auto prefix = port.SaveDialog({kPartitionFilter, 1, ""});
  if (!prefix) return result;
  result.Outcome = ExportOutcome::Failed;
  if (PopupRowIndex >= model.EntryCount() || PopupRowIndex >= model.PartitionRows.size()) {
    port.ErrorBox("There is no partition in row " + std::to_string(PopupRowIndex + 1));
    return result;
  }
  port.GaugeSetPos(0);
  port.GaugeSetMax(model.EffectiveSize(PopupRowIndex));

  ChunkBuffer buffer;
  std::string written, error;
  if (!SaveOnePartition(model, port, PopupRowIndex, *prefix, SaveMain, SaveRedu, writing,
                        buffer, written, error)) {
    port.ErrorBox(error);
    return result;
  }
  result.FilesWritten.push_back(written);
  result.Outcome = ExportOutcome::Done;
  return result;
}

ExportResult SaveAllPartitionsDataIntoFile(const ImageModel& model, WindowPort& port,
                                           bool SaveMain, bool SaveRedu, OutputWriting writing) {
  ExportResult result;
  port.ProcessMessages();
  const auto prefix = port.SaveDialog({kAllPartitionsFilter, 1, ""});
  if (!prefix) return result;
  result.Outcome = ExportOutcome::Failed;
  port.GaugeSetPos(0);
  port.GaugeSetMax(0);
  const std::size_t count = std::min(model.EntryCount(), model.PartitionRows.size());
  for (std::size_t k = 0; k < count; ++k)
    port.GaugeSetMax(port.GaugeMax() + model.EffectiveSize(k));

  ChunkBuffer buffer;
  // The file each row of this run wrote: two rows with one base and one name (or names
  // that lead to one file) would otherwise replace a file already reported as written.
  std::map<FileId, std::size_t> writtenBy;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string& name = model.PartitionRows[k].PartitionName;
    const std::string target = PartitionFileName(*prefix, model.RangeOf(k).MainOffset, name);
    if (const auto id = IdOfFile(target); id && writtenBy.count(*id)) {
      const std::size_t earlier = writtenBy.at(*id);
      port.ErrorBox("I/O error: cannot create " + Quoted(target) + " for row " +
                    std::to_string(k + 1) + " (" + Quoted(name) +
                    "): it is the file this export wrote for row " +
                    std::to_string(earlier + 1) + " (" +
                    Quoted(model.PartitionRows[earlier].PartitionName) +
                    "), which is kept; row " + std::to_string(k + 1) +
                    " and the rows after it are not saved");
      return result;
    }
    std::string written, error;
    if (!SaveOnePartition(model, port, k, *prefix, SaveMain, SaveRedu, writing, buffer,
                          written, error)) {
      port.ErrorBox(error);
      return result;
    }
    if (const auto id = IdOfFile(written)) writtenBy.emplace(*id, k);
    result.FilesWritten.push_back(written);
  }
  port.GaugeSetPos(0);
  result.Outcome = ExportOutcome::Done;
  return result;
}

ExportResult SaveAsImageFile(const ImageModel& model, WindowPort& port, OutputWriting writing) {
  ExportResult result;
  port.ProcessMessages();
  const auto path = port.SaveDialog({kImageFilter, 1, kImageDefaultExt});
  if (!path) return result;
  result.Outcome = ExportOutcome::Failed;
  port.GaugeSetPos(0);
  port.GaugeSetMax(std::int64_t{model.TotalBlocks} + model.TotalBlocks / kSpareDivisor);
  port.SetStatusText(0, kSavingText);
  port.LogAdd("");
  port.LogAdd(kSavingText);

  ChunkBuffer buffer;
  if (!buffer.Resize(model.BlockSize)) {
    port.ErrorBox(kNoMemory);
    return result;
  }
  const std::uint64_t mainEnd = model.SpareAreaStart();
  const std::uint64_t spareEnd = mainEnd + mainEnd / kSpareDivisor;
  const std::string beyond = "I/O error: read beyond end of file " +
                             Quoted(model.CurrentImageFile);
  std::string error;
  const bool ok = WithFiles(model, *path, writing, error, [&](File& source, File& target) {
    CopyContext c{port, source, target, buffer, error};
    return CopyRange(c, 0, mainEnd, model.BlockSize, true, mainEnd, beyond) &&
           CopyRange(c, mainEnd, mainEnd / kSpareDivisor, model.BlockSize, true, spareEnd,
                     beyond);
  });
  if (!ok) {
    port.ErrorBox(error);
    return result;
  }
  port.LogReplaceLast(std::string(kSavingText) + "OK");
  port.SetStatusText(0, kCompleteText);
  port.Sleep(100);
  port.GaugeSetPos(0);
  result.FilesWritten.push_back(*path);
  result.Outcome = ExportOutcome::Done;
  return result;
}

}  // namespace orvella
