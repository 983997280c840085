#include <algorithm>

#include "device/DeviceCommands.h"
#include "device/RowSelection.h"
#include "files/FileIO.h"

namespace orvella {

namespace {

constexpr std::size_t kTransferBufferSize = 0x10000;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The host's data files live only until the injection that follows their read; a read
// that failed or was stopped half-way may have left them partly written.
void DeleteHostDataFiles(const std::string& folder) {
  DeleteFileAt(folder + kHostReadFileName);
  DeleteFileAt(folder + kHostMainFileName);
  DeleteFileAt(folder + kHostSpareFileName);
}

}  // namespace

void DeviceCommands::ReadPartitionsCommand() {
  window_.LogClear();
  if (RefusedUnaddressableRow() || !SessionPrologue()) return;
  const WindowGeometry g = window_.Geometry();
  window_.GaugeSetPos(0);
  window_.GaugeSetMax(0);

  ImageModel& m = window_.Model();
  const bool done = ForEachTargetRow(window_, MainAndSpareBytes, [&](std::size_t k) {
    const PartitionRange r = m.RangeOf(k);
    const std::string name = m.PartitionRows[k].PartitionName;
    return HostReadRange(r.MainOffset, r.MainLength, kTransferTag, nullptr, -1, 1, g) &&
           InjectReadDataIntoTheImageFileRAM(r.MainOffset, r.MainLength, name);
  });
  if (!done) DeleteHostDataFiles(window_.WorkFolder());
  EndCommand();
}

bool DeviceCommands::InjectReadDataIntoTheImageFileRAM(std::uint32_t mAddr, std::uint32_t mLeng,
                                                       const std::string& partitionName) {
  ImageModel& m = window_.Model();
  const std::string folder = window_.WorkFolder();

  bool ok = m.CurrentImageFile == window_.TempImagePath() || MakeWorkingCopy();
  if (ok) {
    const std::uint32_t spareOffset = m.SpareAreaStart() + mAddr / kSpareDivisor;
    window_.SetStatusText(0, "Please wait, processing data...");
    window_.ProcessMessages();

    std::uint64_t imageSize = 0;
    {
      File image;
      std::string error;
      if (!image.OpenRead(m.CurrentImageFile, error) || !image.Size(imageSize, error)) {
        window_.ErrorBox(error);
        ok = false;
      }
    }
    bool injected = false;
    ok = ok &&
         InjectHalf(kHostMainFileName, mAddr, std::min<std::uint64_t>(m.SpareAreaStart(), imageSize),
                    mLeng, partitionName, "main", injected) &&
         InjectHalf(kHostSpareFileName, spareOffset, imageSize, mLeng / kSpareDivisor, partitionName,
                    "spare", injected);
    if (injected) unsavedDeviceData_ = true;
  }

  DeleteHostDataFiles(folder);
  window_.SetStatusText(0, "");
  window_.ProcessMessages();
  return ok;
}

bool DeviceCommands::MakeWorkingCopy() {
  ImageModel& m = window_.Model();
  const std::string source = m.CurrentImageFile;
  const std::string copy = window_.TempImagePath();
  std::string error;

  // Creating the copy truncates its path; when that is the user's file under another
  // spelling, the user's image would be emptied.
  if (SameFile(source, copy)) {
    window_.ErrorBox("I/O error: cannot make the working copy of " + Quoted(source) +
                     ": it is the working copy's own file " + Quoted(copy));
    return false;
  }

  File in;
  File out;
  std::uint64_t size = 0;
  if (!in.OpenRead(source, error) || !in.Size(size, error)) {
    window_.ErrorBox(error);
    return false;
  }
  if (!out.Create(copy, error)) {
    window_.ErrorBox(error);
    return false;
  }
  transfer_.resize(kTransferBufferSize);
  bool ok = true;
  for (std::uint64_t done = 0; ok && done < size;) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(transfer_.size(), size - done));
    done += chunk;
    window_.SetStatusText(0, "Please wait, creating temporary file copy (" +
                                 std::to_string(done * 100 / size) + "%)...");
    window_.ProcessMessages();
    ok = in.ReadExact(transfer_.data(), chunk, error) && out.WriteAll(transfer_.data(), chunk, error);
  }
  ok = ok && out.Close(error);
  if (!ok) {
    // A half-made copy must not pass for the image later.
    out = File();
    DeleteFileAt(copy);
    window_.ErrorBox(error);
    return false;
  }
  m.CurrentImageFile = copy;
  return true;
}

bool DeviceCommands::InjectHalf(const char* fileName, std::uint64_t imageOffset,
                                std::uint64_t limit, std::uint32_t length,
                                const std::string& partitionName, const char* half,
                                bool& injected) {
  const std::string dataFile = window_.WorkFolder() + fileName;
  const std::string notInjected =
      "ERROR: Partition " + Quoted(partitionName) + ": " + half + " data not injected (";
  if (!FileExists(dataFile)) {
    window_.LogAdd(notInjected + "the host left no file " + fileName + ").");
    return true;
  }
  File data;
  std::string error;
  std::uint64_t n = 0;
  if (!data.OpenRead(dataFile, error) || !data.Size(n, error)) {
    window_.ErrorBox(error);
    return false;
  }
  if (n != length) {
    window_.LogAdd(notInjected + "the host's file " + fileName + " holds " + std::to_string(n) +
                   " bytes instead of " + std::to_string(length) + ").");
    return true;
  }
  if (length == 0) return true;
  // Ranges come from the image's own table; one reaching past its area would overwrite
  // other data of the image.
  if (imageOffset + length > limit) {
    window_.LogAdd(notInjected + "its range lies outside the image).");
    return true;
  }

  File image;
  if (!image.OpenReadWrite(window_.Model().CurrentImageFile, error) ||
      !image.Seek(imageOffset, error)) {
    window_.ErrorBox(error);
    return false;
  }
  if (transfer_.empty()) transfer_.resize(kTransferBufferSize);
  injected = true;  // from here on the copy no longer equals the user's file
  for (std::uint64_t done = 0; done < n;) {
    const std::size_t chunk =
        static_cast<std::size_t>(std::min<std::uint64_t>(transfer_.size(), n - done));
    if (!data.ReadExact(transfer_.data(), chunk, error) ||
        !image.WriteAll(transfer_.data(), chunk, error)) {
      window_.ErrorBox(error);
      return false;
    }
    done += chunk;
  }
  if (!image.Close(error)) {
    window_.ErrorBox(error);
    return false;
  }
  return true;
}

}  // namespace orvella
