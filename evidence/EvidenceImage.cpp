#include "evidence/EvidenceImage.h"

#include "files/FileIO.h"
#include "image/RecordingPort.h"

namespace orvella {

ImageLayout LayoutOfSize(std::uint64_t fileSize) {
  ImageLayout layout;
  layout.FileSize = fileSize;
  const std::uint64_t mainData = fileSize / kUnitBytes * kUnitMainBytes;
  layout.TotalBlocks = static_cast<std::uint32_t>(mainData / kBlockSize);
  layout.MainEnd = std::uint64_t{layout.TotalBlocks} * kBlockSize;
  layout.SpareEnd = layout.MainEnd + layout.MainEnd / kSpareDivisor;
  return layout;
}

bool OpenEvidenceImage(const std::string& path, EvidenceImage& image, std::string& error) {
  image = EvidenceImage{};
  image.Path = path;
  File file;
  std::uint64_t size = 0;
  if (!file.OpenRead(path, error) || !file.Size(size, error)) return false;
  file.Close(error);
  if (size > kMaxImageFileSize) {
    error = "\"" + path + "\" is 4 GiB or larger (" + std::to_string(size) +
            " bytes); only images smaller than 4 GiB can be processed";
    return false;
  }
  image.Layout = LayoutOfSize(size);

  auto model = std::make_unique<ImageModel>();
  RecordingPort port;
  if (!model->LoadImageFileAndProcessIt(path, port)) {
    if (!port.ErrorBoxes.empty()) image.TableProblem = port.ErrorBoxes.front();
    for (const auto& line : port.Log)
      if (image.TableProblem.empty() && line.rfind("ERROR: ", 0) == 0) image.TableProblem = line;
    if (image.TableProblem.empty()) image.TableProblem = "no usable partition table";
    return true;
  }
  // The size the load saw is the one every range is checked against.
  image.Layout = LayoutOfSize(model->ImageFileSize);
  for (std::size_t k = 0; k < model->EntryCount() && k < model->PartitionRows.size(); ++k) {
    EvidencePartition p;
    p.Position = model->PartitionRows[k].Position;
    p.Name = model->PartitionRows[k].PartitionName;
    p.FirstBlock = model->GalaxyPartitions.Entries[k].EntryBase;
    p.Blocks = model->EffectiveSize(k);
    p.Range = WideRangeOf(*model, k);
    p.Inside = p.Range.MainOffset + p.Range.MainLength <= image.Layout.MainEnd;
    if (!p.Inside) p.Beyond = BeyondImageError(*model, k);
    image.Partitions.push_back(std::move(p));
  }
  image.Model = std::move(model);
  return true;
}

}  // namespace orvella
