#include "Harness.h"

#include "files/FileIO.h"
#include "image/FullImage.h"

namespace orvella::testing {

PluginStartUp::PluginStartUp(const DeviceServiceTable* host) {
  Main = std::make_unique<TReraradForm>(host);
  Hex = std::make_unique<THexForm>(Main.get());  // as the plug-in's windows: it belongs to Main
  Main->SetHexForm(Hex.get());
  Main->ReadSettings();
}

PluginStartUp::~PluginStartUp() {
  Main->SetHexForm(nullptr);
  Hex.reset();
  Main.reset();
}

std::vector<PartitionSpec> SampleTable() {
  return {{"BOOT", 2}, {"PIT", 1}, {"CSC", 6}, {"EFS", 8}, {"SBL", 4}, {"DATA", 0}};
}

bool WriteSampleImage(const std::string& path, std::string& error) {
  ImageSpec spec;
  spec.ChipMiB = kSampleChipMiB;
  spec.Table = SampleTable();
  spec.Fill = ImageFill::Erased;
  if (!WriteFullImage(path, spec, error)) return false;

  File file;
  if (!file.OpenReadWrite(path, error)) return false;
  // CSC: blocks 3 to 8, main data from 3 * BlockSize.
  std::vector<std::uint8_t> block(kBlockSize);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = PatternByte(3ull * kBlockSize + i);
  if (!file.Seek(3ull * kBlockSize, error) || !file.WriteAll(block.data(), block.size(), error))
    return false;
  // SBL: blocks 17 to 20; one byte inside the examined part of its first spare group.
  const std::uint64_t spareStart = std::uint64_t{kSampleChipMiB} * 1024 * 1024;
  const std::uint8_t zero = 0;
  if (!file.Seek(spareStart + 17ull * kBlockSize / 32 + 5, error) ||
      !file.WriteAll(&zero, 1, error))
    return false;
  return file.Close(error);
}

}  // namespace orvella::testing
