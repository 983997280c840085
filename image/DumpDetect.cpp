#include "image/DumpDetect.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "image/FullImage.h"
#include "nand/SectorCheck.h"

namespace orvella {

namespace {

// Block 1 starts at 0x40000 in dumps that keep main data apart, at 0x42000 (64 pages of
// 4224 bytes, or 512 sectors of 528) in dumps that interleave spare data.
constexpr std::uint64_t kTableApart = std::uint64_t{kPitBlock} * kDumpBlockMain;
constexpr std::uint64_t kTableInterleaved = std::uint64_t{kPitBlock} * kDumpBlockBytes;

constexpr std::uint64_t kPagesPerBlock = 64;
constexpr std::size_t kSectorsPerPage = 8;
constexpr std::size_t kPageMain = kSectorsPerPage * nand::kSectorBytes;
constexpr std::size_t kPageSpare = kSectorsPerPage * nand::kSpareBytes;
// Pages looked at, spread evenly over the chip.
constexpr std::uint64_t kSamplePages = 2048;
// Below these counts the spare data's look is taken as telling nothing.
constexpr std::uint64_t kMinWrittenPages = 16;
constexpr std::uint64_t kMinCodeVoters = 32;
// Shares of written pages: "mostly" makes a look count, "often" makes it count for a rival.
constexpr double kMostly = 0.9;
constexpr double kOften = 0.5;

// The driver's two marks that open a page's spare data: the bad-block word (0xFFFF for a
// good block; a bad one has fewer 1 bits than 0 bits) and the meta mark (0xFFFF, or
// 0xA5A5 on the pages of the block manager's own records). Erased spare data pass too.
bool LooksLikeMarks(const std::uint8_t* p) {
  const unsigned badWord = p[0] | (p[1] << 8);
  const unsigned metaWord = p[2] | (p[3] << 8);
  return (badWord == 0xFFFF || std::popcount(badWord) < 8) && (metaWord == 0xFFFF || metaWord == 0xA5A5);
}

enum class Look { Unclear, Unlike, Marks, Codes };  // ordered by weight

struct Candidate {
  DumpFormat Format = DumpFormat::Full;
  std::uint32_t Blocks = 0;
  std::uint64_t Sampled = 0;      // pages looked at
  std::uint64_t Written = 0;      // of them, those whose main data are not all erased
  std::uint64_t Marked = 0;       // of them, those whose spare data open with the marks
  std::uint64_t Inner = 0;        // places inside their main data looked at the same way
  std::uint64_t InnerMarked = 0;  // of them, those that look like the marks
  nand::LayoutDetector Codes;
  const nand::SpareLayout* Layout = nullptr;
  std::uint64_t CodeVoters = 0;   // for the best layout
  std::uint64_t CodeClean = 0;
  Look Seen = Look::Unclear;

  double MarkedShare() const { return Written ? static_cast<double>(Marked) / static_cast<double>(Written) : 0; }
  double InnerShare() const { return Inner ? static_cast<double>(InnerMarked) / static_cast<double>(Inner) : 0; }
  bool OftenMarked() const { return Written >= kMinWrittenPages && MarkedShare() >= kOften; }
};

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }
std::string Name(DumpFormat f) { return std::string(DumpFormatName(f)); }

std::string Percent(double share) {
  return std::to_string(static_cast<int>(share * 100 + 0.5)) + "%";
}

std::string WhereSpareStands(DumpFormat f) {
  switch (f) {
    case DumpFormat::Full: return "spare data in the last 33rd of the file";
    case DumpFormat::Page: return "spare data after every 4096 bytes";
    case DumpFormat::Sector: return "spare data after every 512 bytes";
    case DumpFormat::Split: return "spare data in the spare file";
    case DumpFormat::Main: return "no spare data";
  }
  return {};
}

std::string Names(const std::vector<const Candidate*>& list) {
  std::string out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += i + 1 == list.size() ? " and " : ", ";
    out += Name(list[i]->Format);
  }
  return out;
}

// The magic of the partition table at `at`; false without it or when the file is shorter.
bool MagicAt(File& file, std::uint64_t size, std::uint64_t at, bool& found, std::string& error) {
  found = false;
  if (size < at + 4) return true;
  std::uint8_t word[4];
  if (!file.Seek(at, error) || !file.ReadExact(word, sizeof word, error)) return false;
  found = ReadLE32(word) == kPitMagic;
  return true;
}

// Reads the sampled pages as the candidate's format places them and weighs what its
// spare data look like.
bool Sample(const std::string& path, const std::string& sparePath, Candidate& c, std::string& error) {
  DumpReader reader;
  DumpOpenOptions options;
  options.SparePath = sparePath;
  options.ChipBlocks = c.Blocks;
  if (!reader.Open(path, c.Format, options, error)) return false;
  const std::uint64_t pages = std::uint64_t{c.Blocks} * kPagesPerBlock;
  const std::uint64_t n = std::min(pages, kSamplePages);
  std::vector<std::uint8_t> main(kPageMain), spare(kPageSpare);
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t page = i * pages / n;
    if (!reader.ReadSectors(page * kSectorsPerPage, kSectorsPerPage, main.data(), spare.data(), error))
      return false;
    for (std::size_t s = 0; s < kSectorsPerPage; ++s)
      c.Codes.Add(main.data() + s * nand::kSectorBytes, spare.data() + s * nand::kSpareBytes);
    ++c.Sampled;
    if (nand::AllErased(main.data(), main.size())) continue;
    ++c.Written;
    if (LooksLikeMarks(spare.data())) ++c.Marked;
    // The last four bytes of every sector, looked at the same way: where data look like
    // marks inside the main data too, marks where the spare data stand prove nothing.
    for (std::size_t s = 1; s <= kSectorsPerPage; ++s) {
      ++c.Inner;
      if (LooksLikeMarks(main.data() + s * nand::kSectorBytes - 4)) ++c.InnerMarked;
    }
  }
  double share = 0;
  c.Layout = c.Codes.Best(share);
  if (c.Layout) {
    const auto& score = c.Codes.Scores()[static_cast<std::size_t>(c.Layout - nand::KnownLayouts().data())];
    c.CodeVoters = score.Voters;
    c.CodeClean = score.Clean;
  } else {
    for (const auto& score : c.Codes.Scores())
      if (score.Clean > c.CodeClean || (score.Clean == c.CodeClean && score.Voters > c.CodeVoters)) {
        c.CodeClean = score.Clean;
        c.CodeVoters = score.Voters;
      }
  }
  if (c.Layout && c.CodeVoters >= kMinCodeVoters) {
    c.Seen = Look::Codes;
  } else if (c.Written < kMinWrittenPages) {
    c.Seen = Look::Unclear;
  } else if (c.MarkedShare() >= kMostly && c.InnerShare() <= kOften) {
    c.Seen = Look::Marks;
  } else if (c.MarkedShare() < kOften) {
    c.Seen = Look::Unlike;
  }
  return true;
}

std::string Describe(const Candidate& c) {
  std::string line = Name(c.Format) + " (" + WhereSpareStands(c.Format) + "): ";
  const std::string codes =
      c.Layout ? std::string(c.Layout->Name) + " codes match their data in " + std::to_string(c.CodeClean) +
                     " of " + std::to_string(c.CodeVoters) + " sectors"
               : "no known codes match their data (at best " + std::to_string(c.CodeClean) + " of " +
                     std::to_string(c.CodeVoters) + " sectors)";
  const std::string marks = "erased spare data or the driver's marks in " + std::to_string(c.Marked) +
                            " of " + std::to_string(c.Written) + " written pages";
  switch (c.Seen) {
    case Look::Codes: return line + "spare data: " + codes;
    case Look::Marks:
      return line + "spare data: " + marks + ", inside the main data at " + Percent(c.InnerShare()) +
             " of the places looked at; " + codes;
    case Look::Unlike: return line + "not spare data: " + codes + "; " + marks;
    case Look::Unclear: break;
  }
  if (c.Written < kMinWrittenPages)
    return line + "cannot tell: only " + std::to_string(c.Written) + " written pages among the " +
           std::to_string(c.Sampled) + " looked at";
  return line + "cannot tell: " + marks + ", and inside the main data at " + Percent(c.InnerShare()) +
         " of the places looked at; " + codes;
}

// `naming`: the dump may be whole and only its format in doubt, so naming it would help.
bool Refuse(const std::string& path, const std::string& why, std::string& error, bool naming = true) {
  error = "cannot tell the format of " + Quoted(path) + ": " + why + (naming ? "; name the format" : "");
  return false;
}

void Choose(const Candidate& c, const std::string& why, DumpDetection& found) {
  found.Format = c.Format;
  found.Blocks = c.Blocks;
  found.Verdict = "the dump is in " + Name(c.Format) + " format: " + why;
}

// A split dump is named by its spare file; what remains is to see that the two fit.
bool DetectSplit(const std::string& path, const std::string& sparePath, bool tableApart,
                 bool tableInterleaved, DumpDetection& found, std::string& error) {
  DumpReader reader;
  DumpOpenOptions options;
  options.SparePath = sparePath;
  if (!reader.Open(path, DumpFormat::Split, options, error)) {
    found.Findings.push_back(error);
    return false;
  }
  if (tableInterleaved && !tableApart)
    return Refuse(path,
                  "a spare file was given, but the partition table's magic stands at 0x42000, where "
                  "page and sector dumps keep it, not at 0x40000, where the main file of a split dump does",
                  error);
  Candidate c;
  c.Format = DumpFormat::Split;
  c.Blocks = reader.Blocks();
  if (!Sample(path, sparePath, c, error)) return false;
  found.Findings.push_back(Describe(c));
  Choose(c, "a spare file of the length that the main file's " + std::to_string(c.Blocks) +
                " erase blocks need was given with it",
         found);
  return true;
}

}  // namespace

bool DetectDumpFormat(const std::string& path, const std::string& sparePath, DumpDetection& found,
                      std::string& error) {
  found = DumpDetection{};
  File file;
  std::uint64_t size = 0;
  if (!file.OpenRead(path, error) || !file.Size(size, error)) return false;
  bool tableApart = false, tableInterleaved = false;
  if (!MagicAt(file, size, kTableApart, tableApart, error) ||
      !MagicAt(file, size, kTableInterleaved, tableInterleaved, error))
    return false;
  file.Close(error);
  std::string table;
  if (tableApart && tableInterleaved)
    table = "the partition table's magic stands both at 0x40000 and at 0x42000, which tells nothing";
  else if (tableApart)
    table = "the partition table's magic stands at 0x40000, where full, split and main dumps keep it";
  else if (tableInterleaved)
    table = "the partition table's magic stands at 0x42000, where page and sector dumps keep it";
  else
    table = "no partition table's magic at 0x40000 or at 0x42000";

  if (!sparePath.empty()) {
    found.Findings.push_back("table: " + table);
    return DetectSplit(path, sparePath, tableApart, tableInterleaved, found, error);
  }

  // What the size allows.
  const std::uint64_t withSpare = size % kDumpBlockBytes == 0 ? size / kDumpBlockBytes : 0;
  const std::uint64_t mainOnly = size % kDumpBlockMain == 0 ? size / kDumpBlockMain : 0;
  std::string sizeLine = "size: " + std::to_string(size) + " bytes";
  if (withSpare > 0)
    sizeLine += "; as a full, page or sector dump " + std::to_string(withSpare) +
                " erase blocks of 270336 bytes with their spare data";
  if (mainOnly > 0)
    sizeLine += "; as a main dump " + std::to_string(mainOnly) + " erase blocks of 262144 bytes";
  if (withSpare == 0 && mainOnly == 0)
    sizeLine += ", no whole number of erase blocks with their spare data (270336 bytes) or "
                "without (262144 bytes)";
  found.Findings.push_back(sizeLine);
  found.Findings.push_back("table: " + table);

  std::vector<Candidate> all;
  const auto add = [&](DumpFormat f, std::uint64_t blocks) {
    if (blocks == 0 || blocks > kMaxDumpBlocks) return;
    const bool apart = f == DumpFormat::Full || f == DumpFormat::Main;
    if (tableApart != tableInterleaved && apart != tableApart) return;
    Candidate c;
    c.Format = f;
    c.Blocks = static_cast<std::uint32_t>(blocks);
    all.push_back(std::move(c));
  };
  for (const DumpFormat f : {DumpFormat::Full, DumpFormat::Page, DumpFormat::Sector}) add(f, withSpare);
  add(DumpFormat::Main, mainOnly);

  if (all.empty()) {
    if (std::max(withSpare, mainOnly) > kMaxDumpBlocks)
      return Refuse(path, std::to_string(size) + " bytes is larger than the dump of any chip taken (up to " +
                              std::to_string(kMaxDumpBlocks) + " erase blocks, a full image below 4 GiB)",
                    error, false);
    if (withSpare == 0 && mainOnly == 0)
      return Refuse(path, std::to_string(size) + " bytes fits no format: full, page and sector dumps are "
                          "whole erase blocks of 270336 bytes with their spare data, main dumps whole "
                          "blocks of 262144 bytes; the file may be cut off",
                    error, false);
    return Refuse(path, tableInterleaved ? "the partition table stands where page and sector dumps keep "
                                           "it, but its size fits only a main dump"
                                         : "the partition table stands where full and main dumps keep "
                                           "it, but its size fits only a page or sector dump",
                  error);
  }
  for (Candidate& c : all) {
    if (!KeepsSpare(c.Format)) {
      found.Findings.push_back(Name(c.Format) + " (" + WhereSpareStands(c.Format) +
                               "): nothing to look at; the main file of a split dump looks the same, "
                               "and is read with its spare data when its spare file is given");
      continue;
    }
    if (!Sample(path, "", c, error)) return false;
    found.Findings.push_back(Describe(c));
  }

  const bool tableTold = tableApart != tableInterleaved;
  if (all.size() == 1) {
    const Candidate& c = all.front();
    Choose(c, std::string(tableTold ? "the only format that its size and the place of its partition table allow"
                                    : "the only format that its size allows") +
                  (c.Seen == Look::Unlike ? " (its spare data do not look like spare data)" : ""),
           found);
    return true;
  }

  const Look best = std::max_element(all.begin(), all.end(), [](const Candidate& a, const Candidate& b) {
                      return a.Seen < b.Seen;
                    })->Seen;
  std::vector<const Candidate*> top;
  for (const Candidate& c : all)
    if (c.Seen == best || (best <= Look::Unlike && c.Seen <= Look::Unlike)) top.push_back(&c);

  if (best >= Look::Marks) {
    const char* what = best == Look::Codes ? "codes that match their data" : "erased spare data or the driver's marks";
    if (top.size() > 1)
      return Refuse(path, Names(top) + " fit equally well: " + what + " stand where each keeps its spare data",
                    error);
    const Candidate& winner = *top.front();
    if (best == Look::Marks)
      for (const Candidate& c : all)
        if (&c != &winner && c.OftenMarked())
          return Refuse(path, "erased spare data or the driver's marks stand where both " + Name(winner.Format) +
                                  " and " + Name(c.Format) + " keep their spare data",
                        error);
    Choose(winner, best == Look::Codes
                       ? std::string(winner.Layout->Name) + " codes that match their data stand where it keeps spare data, and where no other format does"
                       : "erased spare data or the driver's marks stand where it keeps spare data, and not where the others do",
           found);
    return true;
  }

  // Nothing in the content tells them apart; chips have a power-of-two number of blocks,
  // so the size may.
  std::vector<const Candidate*> powerOfTwo;
  for (const Candidate* c : top)
    if (std::has_single_bit(c->Blocks)) powerOfTwo.push_back(c);
  if (powerOfTwo.size() == 1) {
    const Candidate& c = *powerOfTwo.front();
    const std::string sizeTells = "the size fits a chip of " + std::to_string(c.Blocks) +
                                  " erase blocks, a power of two as chips have, only as a " + Name(c.Format) + " dump";
    if (c.Seen == Look::Unlike)
      return Refuse(path, sizeTells + ", but the bytes where it keeps spare data do not look like spare data", error);
    Choose(c, "nothing in its content tells " + Names(top) + " apart; " + sizeTells, found);
    return true;
  }
  return Refuse(path, "nothing tells " + Names(top) + " apart: " +
                          (tableTold ? std::string("the partition table allows each of them, ") : std::string()) +
                          "no known codes and no spare-like bytes stand where only one of them keeps its spare data",
                error);
}

}  // namespace orvella
