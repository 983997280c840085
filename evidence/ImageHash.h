#pragma once
// Digests of an image in one pass: of the whole file, of the main and the spare area,
// and of each partition's main data and spare data exactly as the export writes them.
// Every requested algorithm of every range is computed from the same read.

#include <memory>
#include <string>
#include <vector>

#include "digest/Digest.h"
#include "evidence/EvidenceImage.h"
#include "evidence/ImageScan.h"

namespace orvella {

using DigestValues = std::vector<std::string>;  // lower-case hex, in the algorithms' order

struct PartitionDigests {
  std::uint32_t Position = 0;
  std::string Name;
  bool Inside = true;      // false: no digests, the table places it past the image
  std::string Beyond;
  DigestValues Main, Spare;
};

struct ImageDigests {
  std::vector<DigestAlgorithm> Algorithms;
  DigestValues File, Main, Spare;
  std::vector<PartitionDigests> Partitions;
};

class ImageHasher {
 public:
  ImageHasher();
  ~ImageHasher();
  ImageHasher(const ImageHasher&) = delete;
  ImageHasher& operator=(const ImageHasher&) = delete;

  // False, with `error`, when the digest back end cannot provide an algorithm.
  bool Start(const EvidenceImage& image, const std::vector<DigestAlgorithm>& algorithms,
             std::string& error);
  // The whole file, with the main area ended from it as its prefix.
  ChunkSink& FileLane();
  // The spare area and every partition inside the image.
  ChunkSink& RangeLane();
  bool Finish(ImageDigests& digests, std::string& error);

 private:
  struct Stream;
  class Lane;
  std::unique_ptr<Lane> file_, ranges_;
  std::vector<DigestAlgorithm> algorithms_;
  const EvidenceImage* image_ = nullptr;
};

}  // namespace orvella
