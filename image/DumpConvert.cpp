#include "image/DumpConvert.h"

#include <algorithm>
#include <cstring>

#include "image/ChunkBuffer.h"
#include "files/FileIO.h"

namespace orvella {

namespace {

// Blocks per step: 512 KiB of main data and its 16 KiB of spare data, plus one block of
// interleaved data on each side that interleaves; about 1 MiB in all.
constexpr std::uint32_t kChunkBlocks = 2;
constexpr std::size_t kChunkMain = kChunkBlocks * kDumpBlockMain;
constexpr std::size_t kChunkSpare = kChunkBlocks * kDumpBlockSpare;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

struct Pass {
  const ConvertOptions& Options;
  std::uint64_t Done = 0;
  std::uint64_t Total = 0;

  bool Stopped(std::string& error) const {
    if (!Options.Stop || !Options.Stop()) return false;
    error = "the conversion was stopped";
    return true;
  }
  void Step(std::uint64_t n) {
    Done += n;
    if (Options.Progress) Options.Progress(Done, Total);
  }
};

// Copies `n` bytes from one run to another, through the kernel where it takes them.
bool CopyRun(File& from, std::uint64_t fromAt, File& to, std::uint64_t toAt, std::uint64_t n,
             ChunkBuffer& buffer, Pass& pass, std::string& error) {
  for (std::uint64_t at = 0; at < n;) {
    if (pass.Stopped(error)) return false;
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), n - at));
    if (!from.Seek(fromAt + at, error) || !to.Seek(toAt + at, error) ||
        !to.CopyFrom(from, k, buffer.data(), error))
      return false;
    at += k;
    pass.Step(k);
  }
  return true;
}

// Writes `n` bytes of erased spare data.
bool FillErased(File& to, std::uint64_t toAt, std::uint64_t n, ChunkBuffer& buffer, Pass& pass,
                std::string& error) {
  std::memset(buffer.data(), 0xFF, buffer.size());
  if (!to.Seek(toAt, error)) return false;
  for (std::uint64_t at = 0; at < n;) {
    if (pass.Stopped(error)) return false;
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), n - at));
    if (!to.WriteAll(buffer.data(), k, error)) return false;
    at += k;
    pass.Step(k);
  }
  return true;
}

bool RefuseOverwrite(const DumpFiles& in, const DumpFiles& out, std::string& error) {
  std::vector<std::string> inputs = {in.Path};
  if (!in.SparePath.empty()) inputs.push_back(in.SparePath);
  std::vector<std::string> outputs = {out.Path};
  if (!out.SparePath.empty()) outputs.push_back(out.SparePath);
  for (const std::string& o : outputs)
    for (const std::string& name : {o, PartFile::PartName(o)})
      for (const std::string& i : inputs)
        if (SameFile(name, i)) {
          error = "cannot write " + Quoted(name) + ": it is " + Quoted(i) +
                  ", a file of the dump being converted, which writing would destroy";
          return false;
        }
  if (outputs.size() == 2 && (out.SparePath == out.Path || SameFile(out.SparePath, out.Path))) {
    error = "cannot write the spare data to " + Quoted(out.SparePath) + ": it is the main output " +
            Quoted(out.Path);
    return false;
  }
  return true;
}

}  // namespace

bool DumpWriter::Create(const DumpFiles& out, std::uint32_t blocks, std::string& error) {
  format_ = out.Format;
  blocks_ = blocks;
  mainPath_ = out.Path;
  unitMain_ = format_ == DumpFormat::Page ? 4096 : format_ == DumpFormat::Sector ? 512 : 0;
  unitSpare_ = unitMain_ / 32;
  if (!main_.Create(out.Path, error)) return false;
  if (format_ != DumpFormat::Split) return true;
  if (!spare_.Create(out.SparePath, error)) return false;
  // Names that do not exist yet can only be compared once both part files do: two
  // spellings of one name, or one output's part name that is the other's final name,
  // would make one output overwrite the other at the renames.
  const std::string mainPart = PartFile::PartName(out.Path), sparePart = PartFile::PartName(out.SparePath);
  if (SameFile(mainPart, sparePart) || SameFile(mainPart, out.SparePath) || SameFile(sparePart, out.Path)) {
    error = "cannot write the spare data to " + Quoted(out.SparePath) + ": it is the main output " +
            Quoted(out.Path) + " or its part file";
    return false;
  }
  return true;
}

bool DumpWriter::WriteBlocks(std::uint32_t first, std::uint32_t count, const std::uint8_t* main,
                             const std::uint8_t* spare, std::string& error) {
  const std::uint64_t mainAt = std::uint64_t{first} * kDumpBlockMain;
  const std::uint64_t spareAt = std::uint64_t{first} * kDumpBlockSpare;
  const std::size_t mainN = std::size_t{count} * kDumpBlockMain;
  const std::size_t spareN = std::size_t{count} * kDumpBlockSpare;
  File& out = main_.Out();
  switch (format_) {
    case DumpFormat::Full:
      return out.Seek(mainAt, error) && out.WriteAll(main, mainN, error) &&
             out.Seek(MainSize() + spareAt, error) && out.WriteAll(spare, spareN, error);
    case DumpFormat::Split:
      return out.Seek(mainAt, error) && out.WriteAll(main, mainN, error) &&
             spare_.Out().Seek(spareAt, error) && spare_.Out().WriteAll(spare, spareN, error);
    case DumpFormat::Main: return out.Seek(mainAt, error) && out.WriteAll(main, mainN, error);
    case DumpFormat::Page:
    case DumpFormat::Sector: break;
  }
  if (scratch_.size() < kDumpBlockBytes && !scratch_.Resize(kDumpBlockBytes)) {
    error = "out of memory for the write buffer";
    return false;
  }
  for (std::uint32_t b = 0; b < count; ++b) {
    const std::uint8_t* m = main + std::size_t{b} * kDumpBlockMain;
    const std::uint8_t* s = spare + std::size_t{b} * kDumpBlockSpare;
    std::uint8_t* o = scratch_.data();
    for (std::size_t u = 0; u < kDumpBlockMain / unitMain_; ++u) {
      std::memcpy(o, m + u * unitMain_, unitMain_);
      o += unitMain_;
      std::memcpy(o, s + u * unitSpare_, unitSpare_);
      o += unitSpare_;
    }
    if (!out.Seek((std::uint64_t{first} + b) * kDumpBlockBytes, error) ||
        !out.WriteAll(scratch_.data(), kDumpBlockBytes, error))
      return false;
  }
  return true;
}

File* DumpWriter::MainRun() { return unitMain_ == 0 ? &main_.Out() : nullptr; }

File* DumpWriter::SpareRun(std::uint64_t& start) {
  start = format_ == DumpFormat::Full ? MainSize() : 0;
  if (format_ == DumpFormat::Full) return &main_.Out();
  return format_ == DumpFormat::Split ? &spare_.Out() : nullptr;
}

bool DumpWriter::Commit(std::string& error) {
  if (!main_.Commit(error)) return false;
  if (format_ == DumpFormat::Split && !spare_.Commit(error)) {
    DeleteFileAt(mainPath_);
    return false;
  }
  return true;
}

bool ConvertDump(const DumpFiles& in, const DumpFiles& out, const ConvertOptions& options,
                 ConvertResult& result, std::string& error) {
  result = ConvertResult{};
  const bool splitOut = out.Format == DumpFormat::Split;
  if (splitOut == out.SparePath.empty()) {
    error = splitOut ? "a split output needs a file for its spare data"
                     : "a spare file goes only with a split output, not with a " +
                           std::string(DumpFormatName(out.Format)) + " one";
    return false;
  }
  if (!RefuseOverwrite(in, out, error)) return false;

  DumpReader reader;
  DumpOpenOptions open;
  open.SparePath = in.SparePath;
  if (!reader.Open(in.Path, in.Format, open, error)) return false;
  const std::uint32_t blocks = reader.Blocks();
  const bool spareOut = KeepsSpare(out.Format);

  DumpWriter writer;
  if (!writer.Create(out, blocks, error)) return false;
  Pass pass{options, 0, reader.MainSize() + (spareOut ? reader.SpareSize() : 0)};
  if (options.Progress) options.Progress(0, pass.Total);

  ChunkBuffer main, spare;
  if (!main.Resize(kChunkMain) || !spare.Resize(kChunkSpare)) {
    error = "out of memory for the conversion's buffers";
    return false;
  }
  File* mainIn = reader.MainRun();
  File* mainOut = writer.MainRun();
  if (mainIn && mainOut) {
    // Both sides keep the main data as one run, and the spare data too where they have
    // them: the kernel can copy them without the program touching a byte.
    if (!CopyRun(*mainIn, 0, *mainOut, 0, reader.MainSize(), main, pass, error)) return false;
    std::uint64_t spareInAt = 0, spareOutAt = 0;
    File* spareIn = reader.SpareRun(spareInAt);
    File* spareOutFile = writer.SpareRun(spareOutAt);
    if (spareOutFile &&
        !(spareIn ? CopyRun(*spareIn, spareInAt, *spareOutFile, spareOutAt, reader.SpareSize(), main, pass, error)
                  : FillErased(*spareOutFile, spareOutAt, reader.SpareSize(), main, pass, error)))
      return false;
  } else {
    for (std::uint32_t b = 0; b < blocks; b += kChunkBlocks) {
      if (pass.Stopped(error)) return false;
      const std::uint32_t n = std::min(kChunkBlocks, blocks - b);
      const std::uint64_t sectors = std::uint64_t{n} * (kDumpBlockMain / 512);
      if (!reader.ReadSectors(std::uint64_t{b} * (kDumpBlockMain / 512), static_cast<std::size_t>(sectors),
                              main.data(), spare.data(), error) ||
          !writer.WriteBlocks(b, n, main.data(), spare.data(), error))
        return false;
      pass.Step(std::uint64_t{n} * (spareOut ? kDumpBlockBytes : kDumpBlockMain));
    }
  }
  if (!writer.Commit(error)) return false;

  result.Blocks = blocks;
  if (!KeepsSpare(in.Format) && spareOut)
    result.Notes.push_back("the main dump holds no spare data: the " + std::to_string(reader.SpareSize()) +
                           " bytes of spare data written are all 0xFF, as erased spare data read");
  if (KeepsSpare(in.Format) && !spareOut)
    result.Notes.push_back("the " + std::to_string(reader.SpareSize()) +
                           " bytes of spare data were left out: a main dump holds main data only");
  return true;
}

}  // namespace orvella
