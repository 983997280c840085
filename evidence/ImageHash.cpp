#include "evidence/ImageHash.h"

#include <algorithm>

namespace orvella {

// One range of the file and its digests, one per algorithm.
struct ImageHasher::Stream {
  std::uint64_t From = 0, To = 0;
  std::vector<std::unique_ptr<Digester>> Digests;
  bool Ok = true;

  void Feed(const ScanChunk& chunk) {
    const std::uint64_t from = std::max(From, chunk.Offset);
    const std::uint64_t to = std::min<std::uint64_t>(To, chunk.Offset + chunk.Size);
    if (from >= to) return;
    for (auto& d : Digests)
      Ok = d->Update(chunk.A + (from - chunk.Offset), static_cast<std::size_t>(to - from)) && Ok;
  }

  // Ends every digest into `out`; `asPrefix` ends copies, so that the stream goes on.
  bool End(DigestValues& out, bool asPrefix) {
    out.clear();
    for (auto& d : Digests) {
      std::unique_ptr<Digester> copy = asPrefix ? d->Clone() : nullptr;
      Digester* ending = asPrefix ? copy.get() : d.get();
      std::string hex;
      if (!Ok || !ending || !ending->Finish(hex)) return false;
      out.push_back(std::move(hex));
    }
    return true;
  }
};

class ImageHasher::Lane : public ChunkSink {
 public:
  std::vector<Stream> Streams;
  // The file lane ends the main-area digest when the scan passes the end of the main area.
  std::uint64_t PrefixAt = 0;
  bool WantPrefix = false;
  bool PrefixOk = true;
  DigestValues Prefix;

  void Take(const ScanChunk& chunk) override {
    if (WantPrefix && chunk.Offset >= PrefixAt) EndPrefix();
    for (Stream& s : Streams) s.Feed(chunk);
  }
  void EndPrefix() {
    WantPrefix = false;
    PrefixOk = Streams.front().End(Prefix, true);
  }
};

ImageHasher::ImageHasher() = default;
ImageHasher::~ImageHasher() = default;

bool ImageHasher::Start(const EvidenceImage& image, const std::vector<DigestAlgorithm>& algorithms,
                        std::string& error) {
  image_ = &image;
  algorithms_ = algorithms;
  file_ = std::make_unique<Lane>();
  ranges_ = std::make_unique<Lane>();
  const auto stream = [&](std::uint64_t begin, std::uint64_t length, Stream& s) {
    s.From = begin;
    s.To = begin + length;
    for (DigestAlgorithm a : algorithms) {
      auto d = MakeDigester(a, error);
      if (!d) return false;
      s.Digests.push_back(std::move(d));
    }
    return true;
  };
  const ImageLayout& layout = image.Layout;
  file_->Streams.resize(1);
  file_->WantPrefix = true;
  file_->PrefixAt = layout.MainEnd;
  ranges_->Streams.resize(1 + 2 * image.Partitions.size());
  if (!stream(0, layout.FileSize, file_->Streams[0]) ||
      !stream(layout.MainEnd, layout.SpareEnd - layout.MainEnd, ranges_->Streams[0]))
    return false;
  std::size_t next = 1;
  for (const EvidencePartition& p : image.Partitions) {
    Stream& main = ranges_->Streams[next++];
    Stream& spare = ranges_->Streams[next++];
    if (!p.Inside) continue;  // stays without digests
    if (!stream(p.Range.MainOffset, p.Range.MainLength, main) ||
        !stream(p.Range.SpareOffset, p.Range.SpareLength, spare))
      return false;
  }
  return true;
}

ChunkSink& ImageHasher::FileLane() { return *file_; }
ChunkSink& ImageHasher::RangeLane() { return *ranges_; }

bool ImageHasher::Finish(ImageDigests& digests, std::string& error) {
  digests = ImageDigests{};
  digests.Algorithms = algorithms_;
  if (file_->WantPrefix) file_->EndPrefix();  // the file ends where the main area does
  bool ok = file_->PrefixOk && file_->Streams[0].End(digests.File, false) &&
            ranges_->Streams[0].End(digests.Spare, false);
  digests.Main = file_->Prefix;
  std::size_t next = 1;
  for (const EvidencePartition& p : image_->Partitions) {
    PartitionDigests d;
    d.Position = p.Position;
    d.Name = p.Name;
    d.Inside = p.Inside;
    d.Beyond = p.Beyond;
    Stream& main = ranges_->Streams[next++];
    Stream& spare = ranges_->Streams[next++];
    if (p.Inside) ok = ok && main.End(d.Main, false) && spare.End(d.Spare, false);
    digests.Partitions.push_back(std::move(d));
  }
  if (!ok) error = "the system's digest library failed while computing the digests";
  return ok;
}

}  // namespace orvella
