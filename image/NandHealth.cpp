#include "image/NandHealth.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <optional>

#include "image/ChunkBuffer.h"
#include "image/DumpConvert.h"
#include "image/DumpShape.h"
#include "image/Export.h"
#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/Notation.h"
#include "nand/SectorCheck.h"

namespace orvella {

NandCounts& NandCounts::operator+=(const NandCounts& o) {
  Sectors += o.Sectors;
  Erased += o.Erased;
  Clean += o.Clean;
  Corrected += o.Corrected;
  CodeErrors += o.CodeErrors;
  Uncorrectable += o.Uncorrectable;
  Unchecked += o.Unchecked;
  return *this;
}

namespace {

using nand::kSectorBytes;
using nand::kSectorsPerBlock;
using nand::kSpareBytes;
using nand::SpareLayout;

constexpr std::uint64_t kBlockFileBytes = std::uint64_t{kBlockSize} + kBlockSize / kSpareDivisor;
constexpr std::uint32_t kBlockSpareBytes = kBlockSize / kSpareDivisor;
// Blocks read at a time: 1 MiB of main data and its 32 KiB of spare data, large enough
// for full-speed sequential reads, small enough to stay far below 4 MiB.
constexpr std::uint32_t kChunkBlocks = 4;
// Detection reads runs of this many sectors spread over the image.
constexpr std::uint32_t kSampleRun = 32;
constexpr std::uint64_t kSampleVoters = 4096;
constexpr std::uint64_t kMinSampleRuns = 256;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Where the file's areas lie, as its size lays them out (see DumpShape).
struct Geometry {
  std::uint32_t ChipBlocks = 0;
  std::uint64_t SpareStart = 0;
  std::uint64_t FullBytes = 0;
  std::uint32_t Readable = 0;  // blocks whose main and spare data both lie in the file
};

Geometry GeometryOf(std::uint64_t size) {
  const DumpShape shape = ShapeOfSize(size);
  return {shape.ChipBlocks, shape.SpareStart, shape.WholeBytes, shape.Readable};
}

// Where the check reads: the image file as its size lays it out, or a dump in another
// format through its reader, which serves main and spare data as a full image holds them.
class Source {
 public:
  Source(File& image, std::uint64_t spareStart) : image_(&image), spareStart_(spareStart) {}
  explicit Source(DumpReader& dump) : dump_(&dump) {}

  bool Main(std::uint64_t at, void* buffer, std::size_t n, std::string& error) {
    if (dump_) return dump_->ReadMain(at, buffer, n, error);
    return image_->Seek(at, error) && image_->ReadExact(buffer, n, error);
  }
  // `at` counts from the start of the spare area.
  bool Spare(std::uint64_t at, void* buffer, std::size_t n, std::string& error) {
    if (dump_) return dump_->ReadSpare(at, buffer, n, error);
    return image_->Seek(spareStart_ + at, error) && image_->ReadExact(buffer, n, error);
  }
  // The main and spare data of `blocks` erase blocks from `first`.
  bool Blocks(std::uint32_t first, std::uint32_t blocks, std::uint8_t* main, std::uint8_t* spare,
              std::string& error) {
    if (dump_)
      return dump_->ReadSectors(std::uint64_t{first} * kSectorsPerBlock, std::size_t{blocks} * kSectorsPerBlock,
                                main, spare, error);
    return Main(std::uint64_t{first} * kBlockSize, main, std::size_t{blocks} * kBlockSize, error) &&
           Spare(std::uint64_t{first} * kBlockSpareBytes, spare, std::size_t{blocks} * kBlockSpareBytes, error);
  }

 private:
  File* image_ = nullptr;
  std::uint64_t spareStart_ = 0;
  DumpReader* dump_ = nullptr;
};

struct Partition {
  std::uint32_t Beg = 0;
  std::uint32_t Blocks = 0;
};

// The table at block 1, read as the image model reads it (base = sum of the stored
// sizes before it, 0 and 0xFFFFFFFF run to the end), clipped to the chip.
bool ReadTable(Source& source, const Geometry& g, std::uint64_t size, NandHealthReport& report,
               std::vector<Partition>& parts, std::string& error) {
  const std::uint64_t at = std::uint64_t{kPitBlock} * kBlockSize;
  if (g.ChipBlocks <= kPitBlock || at + kPitHeaderSize > size) return true;
  std::uint8_t header[kPitHeaderSize];
  if (!source.Main(at, header, sizeof header, error)) return false;
  if (ReadLE32(header) != kPitMagic) return true;
  const std::uint32_t count = ReadLE32(header + 4);
  const std::uint64_t bytes = std::uint64_t{count} * kPitEntrySize;
  if (kPitHeaderSize + bytes > kBlockSize || at + kPitHeaderSize + bytes > size) {
    report.TableProblem = "the partition table at block 1 lists " + std::to_string(count) +
                          " entries, more than block 1 holds; checked without partitions";
    return true;
  }
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(bytes));
  if (count > 0 && !source.Main(at + kPitHeaderSize, raw.data(), raw.size(), error)) return false;
  report.TableFound = true;
  std::uint32_t base = 0;
  for (std::uint32_t k = 0; k < count; ++k) {
    const TGalaxyRawPartitionEntry e = UnpackRawEntry(raw.data() + std::size_t{k} * kPitEntrySize);
    NandPartitionHealth p;
    p.Position = k + 1;
    p.Name = EntryNameText(e.EntryName);
    p.BegBlock = base;
    const bool toEnd = e.SizeInBlocks == 0 || e.SizeInBlocks == 0xFFFFFFFFu;
    base += e.SizeInBlocks;
    const std::uint64_t left = p.BegBlock < g.ChipBlocks ? g.ChipBlocks - p.BegBlock : 0;
    p.Blocks = static_cast<std::uint32_t>(toEnd ? left : std::min<std::uint64_t>(e.SizeInBlocks, left));
    parts.push_back({p.BegBlock, p.Blocks});
    report.Partitions.push_back(std::move(p));
  }
  return true;
}

// Counts of one block; a block has 512 sectors, so 16 bits hold every count.
struct BlockCounts {
  std::uint16_t Erased = 0, Clean = 0, Corrected = 0, CodeErrors = 0, Uncorrectable = 0,
                Unchecked = 0;
  NandCounts Wide() const {
    NandCounts c;
    c.Sectors = kSectorsPerBlock;
    c.Erased = Erased;
    c.Clean = Clean;
    c.Corrected = Corrected;
    c.CodeErrors = CodeErrors;
    c.Uncorrectable = Uncorrectable;
    c.Unchecked = Unchecked;
    return c;
  }
};

// The bad-block marks of one block under both rules, from the spare bytes of its
// sectors 0 to 8.
struct BlockMarks {
  bool OneNand = false;
  bool SmallPage = false;
  bool Bad(nand::BadBlockRule rule) const {
    return rule == nand::BadBlockRule::OneNandWord ? OneNand : SmallPage;
  }
};

BlockMarks MarksOf(const std::uint8_t* spare) {
  return {nand::IsBadBlock(nand::BadBlockRule::OneNandWord, spare),
          nand::IsBadBlock(nand::BadBlockRule::SmallPageByte5, spare)};
}

constexpr std::uint32_t kMarkBytes = nand::kMarkerSpareBytes;

// Scores the layouts on runs of sectors taken in bit-reversed order of their index, so
// that every prefix of the sample is spread evenly over the readable blocks.
bool DetectLayout(Source& source, const Geometry& g, nand::LayoutDetector& detector,
                  std::string& error) {
  const std::uint64_t runs = std::uint64_t{g.Readable} * (kSectorsPerBlock / kSampleRun);
  if (runs == 0) return true;
  const unsigned bits = static_cast<unsigned>(std::bit_width(runs - 1));
  std::vector<std::uint8_t> main(std::size_t{kSampleRun} * kSectorBytes);
  std::vector<std::uint8_t> spare(std::size_t{kSampleRun} * kSpareBytes);
  std::uint8_t marks[kMarkBytes];
  std::uint64_t visited = 0;
  for (std::uint64_t i = 0; i < (std::uint64_t{1} << bits); ++i) {
    std::uint64_t run = 0;
    for (unsigned b = 0; b < bits; ++b) run |= ((i >> b) & 1u) << (bits - 1 - b);
    if (run >= runs) continue;
    const std::uint64_t sector = run * kSampleRun;
    const std::uint64_t blockSector = sector / kSectorsPerBlock * kSectorsPerBlock;
    if (!source.Main(sector * kSectorBytes, main.data(), main.size(), error) ||
        !source.Spare(sector * kSpareBytes, spare.data(), spare.size(), error))
      return false;
    if (sector == blockSector) {
      std::memcpy(marks, spare.data(), kMarkBytes);
    } else if (!source.Spare(blockSector * kSpareBytes, marks, kMarkBytes, error)) {
      return false;
    }
    const BlockMarks bad = MarksOf(marks);
    for (std::uint32_t s = 0; s < kSampleRun; ++s)
      detector.Add(main.data() + std::size_t{s} * kSectorBytes, spare.data() + std::size_t{s} * kSpareBytes,
                   bad.OneNand, bad.SmallPage);
    ++visited;
    std::uint64_t voters = 0;
    for (const auto& score : detector.Scores()) voters = std::max(voters, score.Voters);
    if (visited >= kMinSampleRuns && voters >= kSampleVoters) break;
  }
  return true;
}

void AddToBlock(BlockCounts& c, nand::SectorState state) {
  switch (state) {
    case nand::SectorState::Erased: ++c.Erased; break;
    case nand::SectorState::Clean: ++c.Clean; break;
    case nand::SectorState::Corrected: ++c.Corrected; break;
    case nand::SectorState::CodeError: ++c.CodeErrors; break;
    case nand::SectorState::Uncorrectable: ++c.Uncorrectable; break;
  }
}

NandBlockState StateOf(const BlockCounts& c, bool bad) {
  if (bad) return NandBlockState::Bad;
  if (c.Uncorrectable) return NandBlockState::Uncorrectable;
  if (c.Corrected || c.CodeErrors) return NandBlockState::Corrected;
  if (c.Erased < kSectorsPerBlock) return NandBlockState::Written;
  return NandBlockState::Erased;
}

// The repaired copy, written as OUT.part and renamed into place once complete; a dump in
// another format than full is written in its own format.
class RepairOutput {
 public:
  bool Open(const std::string& out, DumpFormat format, std::uint32_t blocks, std::string& error) {
    if (format == DumpFormat::Full) return part_.Create(out, error);
    dump_ = std::make_unique<DumpWriter>();
    return dump_->Create({out, format, ""}, blocks, error);
  }
  bool WriteBlocks(std::uint32_t first, std::uint32_t n, const std::uint8_t* main, const std::uint8_t* spare,
                   std::uint64_t spareStart, std::string& error) {
    if (dump_) return dump_->WriteBlocks(first, n, main, spare, error);
    return Write(std::uint64_t{first} * kBlockSize, main, std::size_t{n} * kBlockSize, error) &&
           Write(spareStart + std::uint64_t{first} * kBlockSpareBytes, spare, std::size_t{n} * kBlockSpareBytes,
                 error);
  }
  // Copies [from, to) of the image unchanged.
  bool Copy(File& image, std::uint64_t from, std::uint64_t to, ChunkBuffer& buffer,
            std::string& error) {
    if (from >= to) return true;
    if (!image.Seek(from, error) || !part_.Out().Seek(from, error)) return false;
    for (std::uint64_t at = from; at < to;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - at));
      if (!part_.Out().CopyFrom(image, n, buffer.data(), error)) return false;
      at += n;
    }
    return true;
  }
  bool Finish(std::string& error) { return dump_ ? dump_->Commit(error) : part_.Commit(error); }

 private:
  bool Write(std::uint64_t at, const std::uint8_t* data, std::size_t n, std::string& error) {
    return part_.Out().Seek(at, error) && part_.Out().WriteAll(data, n, error);
  }

  PartFile part_;
  std::unique_ptr<DumpWriter> dump_;
};

// One chunk of the pass: the main and spare data of up to kChunkBlocks blocks.
struct Chunk {
  ChunkBuffer Main, Spare;
  bool Read = false;
  std::string Error;
};

bool ReadChunk(Source& source, std::uint32_t first, std::uint32_t blocks, Chunk& c) {
  c.Read = source.Blocks(first, blocks, c.Main.data(), c.Spare.data(), c.Error);
  return c.Read;
}

std::string BlockRange(std::uint32_t from, std::uint32_t to) {
  return from + 1 == to ? "block " + BlockText(from) : "blocks " + BlocksText(from, to - from);
}

// Checks one block of the pass and adds what it found to the report.
void CheckBlock(const SpareLayout* layout, nand::BadBlockRule rule, std::uint32_t block,
                std::uint8_t* bm, std::uint8_t* bs, bool repairing, BlockCounts& c,
                NandHealthReport& report) {
  const bool bad = nand::IsBadBlock(rule, bs);
  if (bad) report.BadBlocks.push_back(block);
  for (std::uint32_t s = 0; s < kSectorsPerBlock; ++s) {
    std::uint8_t* sm = bm + std::size_t{s} * kSectorBytes;
    std::uint8_t* ss = bs + std::size_t{s} * kSpareBytes;
    const std::uint64_t sector = std::uint64_t{block} * kSectorsPerBlock + s;
    if (bad || !layout) {
      const bool erased = layout ? nand::IsErasedSector(*layout, sm, ss) : nand::AllErased(sm, kSectorBytes);
      if (erased) ++c.Erased; else ++c.Unchecked;
      continue;
    }
    const nand::SectorFinding f = nand::CheckSector(*layout, sm, ss, repairing);
    AddToBlock(c, f.State);
    for (unsigned k = 0; k < f.Corrections; ++k) report.Corrections.push_back({sector, f.Bits[k]});
    if (f.CodeError) report.CodeErrors.push_back(sector);
    if (f.State == nand::SectorState::Uncorrectable) report.Uncorrectable.push_back(sector);
    if (f.State == nand::SectorState::Corrected || f.State == nand::SectorState::CodeError)
      ++report.RepairedSectors;
  }
  report.Blocks[block] = StateOf(c, bad);
  report.Total += c.Wide();
}

}  // namespace

bool CheckNandHealth(const std::string& path, const NandCheckOptions& options,
                     NandHealthReport& report, std::string& error) {
  report = NandHealthReport{};
  report.Image = path;
  if (!FileExists(path)) {
    error = IdOfFile(path) ? "cannot check " + Quoted(path) + ": it is a folder, not an image file"
                           : "cannot check " + Quoted(path) + ": the file does not exist";
    return false;
  }
  const SpareLayout* named = nullptr;
  if (options.Layout != "auto") {
    named = nand::FindLayout(options.Layout);
    if (!named) {
      error = "unknown layout " + Quoted(options.Layout) + "; known layouts:" + nand::KnownLayoutNames();
      return false;
    }
  }
  const bool full = options.Format == DumpFormat::Full;
  if (!full && options.Format == DumpFormat::Split && !options.RepairTo.empty()) {
    error = "a repaired copy of a split dump is not written: it would need a second output for its "
            "spare data; convert the dump to full first";
    return false;
  }
  File image;
  DumpReader dump;
  std::uint64_t size = 0;
  Geometry g;
  if (full) {
    if (!image.OpenRead(path, error) || !image.Size(size, error)) return false;
    if (size > kMaxImageFileSize) {
      error = "cannot check " + Quoted(path) + ": the image is 4 GiB or larger (" +
              std::to_string(size) + " bytes); only images smaller than 4 GiB can be checked";
      return false;
    }
    if (size < kBlockFileBytes) {
      error = "cannot check " + Quoted(path) + ": " + std::to_string(size) +
              " bytes is smaller than one erase block with its spare data (" +
              std::to_string(kBlockFileBytes) + " bytes)";
      return false;
    }
    g = GeometryOf(size);
    report.NotWhole = NotWholeText(ShapeOfSize(size));
  } else {
    // Only whole dumps: where a cut-off one would end is not known for every format.
    if (!dump.Open(path, options.Format, {options.SparePath, 0}, error)) {
      error = "cannot check " + Quoted(path) + ": " + error;
      return false;
    }
    size = std::uint64_t{dump.Blocks()} * kBlockFileBytes;
    g = {dump.Blocks(), dump.MainSize(), size, dump.Blocks()};
  }
  if (!options.RepairTo.empty() && (!CheckNotTheImage(options.RepairTo, path, error) ||
                                    !CheckNotTheImage(PartFile::PartName(options.RepairTo), path, error)))
    return false;
  report.ChipBlocks = g.ChipBlocks;
  Source source = full ? Source(image, g.SpareStart) : Source(dump);
  if (g.Readable < g.ChipBlocks) {
    report.Complete = false;
    report.NotRead = BlockRange(g.Readable, g.ChipBlocks) + " (the file ends at byte " +
                     std::to_string(size) + "; a whole image of " + std::to_string(g.ChipBlocks) +
                     " blocks has " + std::to_string(g.FullBytes) + " bytes)";
  }
  std::vector<Partition> parts;
  if (!ReadTable(source, g, size, report, parts, error)) return false;

  const SpareLayout* layout = named;
  if (named) {
    report.Layout = std::string(named->Name);
    report.LayoutNamedByUser = true;
  }
  {
    nand::LayoutDetector detector;
    if (!DetectLayout(source, g, detector, error)) return false;
    report.SampledSectors = detector.Sectors();
    double share = 0;
    const SpareLayout* best = detector.Best(share);
    if (named) {
      const auto layouts = nand::KnownLayouts();
      report.CleanShare = detector.Scores()[static_cast<std::size_t>(named - layouts.data())].Share();
    } else {
      layout = best;
      report.CleanShare = share;
      if (best) report.Layout = std::string(best->Name);
    }
  }
  const nand::BadBlockRule rule = layout ? layout->BadBlocks : nand::BadBlockRule::OneNandWord;

  std::optional<RepairOutput> repair;
  if (!options.RepairTo.empty()) {
    if (!layout) {
      report.RepairNotDone = "no known ECC layout matches the image, so nothing could be "
                             "repaired and no file was written";
    } else {
      repair.emplace();
      if (!repair->Open(options.RepairTo, options.Format, g.ChipBlocks, error)) return false;
    }
  }

  std::vector<BlockCounts> blocks(g.Readable);
  report.Blocks.assign(g.Readable, NandBlockState::Erased);
  const std::uint64_t total = std::uint64_t{g.Readable} * kBlockFileBytes;
  if (options.Progress && total > 0) options.Progress(0, total);  // the pass has begun
  // Two chunks: the next one is read while the present one is checked.
  Chunk chunks[2];
  for (Chunk& c : chunks)
    if (!c.Main.Resize(std::size_t{kChunkBlocks} * kBlockSize) ||
        !c.Spare.Resize(std::size_t{kChunkBlocks} * kBlockSpareBytes)) {
      error = "out of memory for the read buffers";
      return false;
    }
  const auto blocksAt = [&](std::uint32_t b0) { return std::min(kChunkBlocks, g.Readable - b0); };
  if (g.Readable > 0) ReadChunk(source, 0, blocksAt(0), chunks[0]);
  for (std::uint32_t b0 = 0, k = 0; b0 < g.Readable; b0 += kChunkBlocks, ++k) {
    if (options.Stop && options.Stop()) {
      error = "the check was stopped";
      return false;
    }
    Chunk& chunk = chunks[k % 2];
    Chunk& next = chunks[(k + 1) % 2];
    if (!chunk.Read) {
      error = chunk.Error;
      return false;
    }
    const std::uint32_t n = blocksAt(b0);
    const std::uint32_t nextAt = b0 + n;
    bool written = true;
    const std::function<void()> readNext = [&] {
      if (nextAt < g.Readable) ReadChunk(source, nextAt, blocksAt(nextAt), next);
    };
    const std::function<void()> checkThis = [&] {
      for (std::uint32_t i = 0; i < n; ++i)
        CheckBlock(layout, rule, b0 + i, chunk.Main.data() + std::size_t{i} * kBlockSize,
                   chunk.Spare.data() + std::size_t{i} * kBlockSpareBytes, repair.has_value(),
                   blocks[b0 + i], report);
      written = !repair ||
                repair->WriteBlocks(b0, n, chunk.Main.data(), chunk.Spare.data(), g.SpareStart, error);
    };
    if (options.SideBySide) {
      options.SideBySide(readNext, checkThis);
    } else {
      readNext();
      checkThis();
    }
    if (!written) return false;
    if (options.Progress) options.Progress(std::uint64_t{nextAt} * kBlockFileBytes, total);
  }

  // Partitions and what lies outside all of them.
  std::vector<bool> inside(g.Readable, false);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    NandPartitionHealth& p = report.Partitions[k];
    const std::uint32_t end = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{parts[k].Beg} + parts[k].Blocks, g.Readable));
    for (std::uint32_t b = parts[k].Beg; b < end; ++b) {
      p.Counts += blocks[b].Wide();
      inside[b] = true;
    }
    for (const std::uint32_t bad : report.BadBlocks)
      if (bad >= parts[k].Beg && bad < end) p.BadBlocks.push_back(bad);
  }
  for (std::uint32_t b = 0; b < g.Readable; ++b)
    if (!inside[b]) report.Outside += blocks[b].Wide();

  if (repair) {
    // What the check could not read is copied as it is, so the output is the whole file.
    const std::uint64_t mainEnd = std::min<std::uint64_t>(g.SpareStart, size);
    const std::uint64_t spareDone = g.SpareStart + std::uint64_t{g.Readable} * kBlockSpareBytes;
    ChunkBuffer buffer;
    if (!buffer.Resize(std::size_t{kChunkBlocks} * kBlockSize)) {
      error = "out of memory for the copy buffer";
      return false;
    }
    if ((full && (!repair->Copy(image, std::uint64_t{g.Readable} * kBlockSize, mainEnd, buffer, error) ||
                  !repair->Copy(image, std::max(spareDone, mainEnd), size, buffer, error))) ||
        !repair->Finish(error))
      return false;
    report.RepairedTo = options.RepairTo;
  }
  return true;
}

}  // namespace orvella
