// Dumps in the shapes other tools write: every conversion between the formats, the
// reader over each of them, the inputs a conversion refuses, and the format found from a
// dump's size and content. The expected bytes of each shape are laid out here, apart
// from the converter, so that a mistake the reader and the writer share still shows.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/DumpConvert.h"
#include "image/DumpDetect.h"
#include "image/DumpFormat.h"
#include "files/FileIO.h"
#include "image/ImageBuilder.h"
#include "nand/SpareLayout.h"
#include "support/TestFiles.h"

namespace orvella {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TempDir;

const std::vector<PartitionSpec> kTable = {{"BOOT", 1}, {"PIT", 1}, {"DATA", 0xFFFFFFFFu}};
constexpr std::uint64_t kTableAt = 0x40000;

// A chip's data as a full image holds them.
struct Chip {
  Bytes Main, Spare;
};

// PaddedNoisySpare: noisy spare data, and every sector's last 112 bytes erased.
enum class Content { Codes, SmallPageCodes, ErasedSpare, NoisySpare, PaddedNoisySpare, Erased };

Bytes ReadAll(const std::string& path) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) return {};
  Bytes bytes(static_cast<std::size_t>(size));
  std::ifstream f(path, std::ios::binary);
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) bytes.clear();
  return bytes;
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(f) << path;
}

// "" when equal; otherwise where they part, without printing megabytes.
std::string Difference(const Bytes& got, const Bytes& want) {
  if (got.size() != want.size())
    return std::to_string(got.size()) + " bytes instead of " + std::to_string(want.size());
  const auto at = std::mismatch(got.begin(), got.end(), want.begin());
  return at.first == got.end() ? "" : "first difference at byte " + std::to_string(at.first - got.begin());
}

// Noise data with the codes of a layout (a bad block and erased sectors among them), or
// with spare data that are noise too, erased, or all of it erased; with the table or
// with its magic wiped.
Chip MakeChip(const TempDir& dir, Content content, bool table, std::uint32_t chipMiB = 1) {
  NandSpec nand;
  if (content == Content::Codes) nand = {"onenand-h512-normal", 20, {2}};
  if (content == Content::SmallPageCodes) nand = {"smallpage-normal", 0, {1}};
  const std::string path = dir.File("chip.full");
  std::string error;
  EXPECT_TRUE(WriteFullImage(path, ImageSpec{chipMiB, kTable, content == Content::Erased ? ImageFill::Erased : ImageFill::Noise},
                             nand, error))
      << error;
  const Bytes all = ReadAll(path);
  std::filesystem::remove(path);
  const std::size_t mainBytes = std::size_t{chipMiB} << 20;
  Chip chip{Bytes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(mainBytes)),
            Bytes(all.begin() + static_cast<std::ptrdiff_t>(mainBytes), all.end())};
  if (!table) {
    std::fill_n(chip.Main.begin() + kTableAt, 4, 0);
    if (const nand::SpareLayout* layout = nand::FindLayout(nand.EccLayout))
      nand::WriteSectorCodes(*layout, chip.Main.data() + kTableAt, chip.Spare.data() + kTableAt / 32);
  }
  if (content == Content::ErasedSpare) std::fill(chip.Spare.begin(), chip.Spare.end(), 0xFF);
  if (content == Content::PaddedNoisySpare)
    for (std::size_t at = 400; at < chip.Main.size(); at += 512) std::fill_n(chip.Main.begin() + at, 112, 0xFF);
  return chip;
}

// The file, and a split dump's spare file, of the chip in `format`.
struct Shape {
  Bytes File, SpareFile;
};

Shape Shaped(DumpFormat format, const Chip& chip) {
  Shape s;
  const auto interleave = [&](std::size_t unit) {
    for (std::size_t at = 0; at < chip.Main.size(); at += unit) {
      s.File.insert(s.File.end(), chip.Main.begin() + at, chip.Main.begin() + at + unit);
      s.File.insert(s.File.end(), chip.Spare.begin() + at / 32, chip.Spare.begin() + (at + unit) / 32);
    }
  };
  switch (format) {
    case DumpFormat::Full:
      s.File = chip.Main;
      s.File.insert(s.File.end(), chip.Spare.begin(), chip.Spare.end());
      break;
    case DumpFormat::Page: interleave(4096); break;
    case DumpFormat::Sector: interleave(512); break;
    case DumpFormat::Split: s.File = chip.Main; s.SpareFile = chip.Spare; break;
    case DumpFormat::Main: s.File = chip.Main; break;
  }
  return s;
}

DumpFiles Named(const TempDir& dir, const std::string& stem, DumpFormat format) {
  DumpFiles files{dir.File(stem + "." + std::string(DumpFormatName(format))), format, ""};
  if (format == DumpFormat::Split) files.SparePath = dir.File(stem + ".spare");
  return files;
}

DumpFiles WriteShape(const TempDir& dir, const std::string& stem, DumpFormat format, const Chip& chip) {
  const DumpFiles files = Named(dir, stem, format);
  const Shape shape = Shaped(format, chip);
  WriteAll(files.Path, shape.File);
  if (format == DumpFormat::Split) WriteAll(files.SparePath, shape.SpareFile);
  return files;
}

std::vector<std::string> FilesIn(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string FormatName(DumpFormat f) { return std::string(DumpFormatName(f)); }

// ---------------------------------------------------------------------------------------
// Every format into every other, each output against the shape laid out above. The
// pairs into full are the round trips: full -> X -> full gives the image back byte for
// byte wherever X keeps spare data, and main -> full gives erased spare data.

class Convert : public ::testing::TestWithParam<std::tuple<DumpFormat, DumpFormat>> {};

TEST_P(Convert, GivesTheExactShapeAndKeepsTheInput) {
  const auto [from, to] = GetParam();
  TempDir dir;
  const Chip chip = MakeChip(dir, Content::Codes, true);
  const DumpFiles in = WriteShape(dir, "in", from, chip);
  const DumpFiles out = Named(dir, "out", to);

  ConvertResult result;
  std::string error;
  std::vector<std::uint64_t> progress;
  ConvertOptions options;
  options.Progress = [&](std::uint64_t done, std::uint64_t) { progress.push_back(done); };
  ASSERT_TRUE(ConvertDump(in, out, options, result, error)) << error;

  Chip want = chip;
  if (from == DumpFormat::Main) std::fill(want.Spare.begin(), want.Spare.end(), 0xFF);
  const Shape wanted = Shaped(to, want);
  EXPECT_EQ(Difference(ReadAll(out.Path), wanted.File), "");
  if (to == DumpFormat::Split) {
    EXPECT_EQ(Difference(ReadAll(out.SparePath), wanted.SpareFile), "");
  }
  EXPECT_EQ(Difference(ReadAll(in.Path), Shaped(from, chip).File), "") << "the input changed";
  EXPECT_EQ(result.Blocks, 4u);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), wanted.File.size() + wanted.SpareFile.size());
  for (const std::string& name : FilesIn(dir)) EXPECT_EQ(name.find(".part"), std::string::npos) << name;

  const bool filled = from == DumpFormat::Main && to != DumpFormat::Main;
  const bool dropped = from != DumpFormat::Main && to == DumpFormat::Main;
  ASSERT_EQ(result.Notes.size(), filled || dropped ? 1u : 0u);
  if (filled || dropped) {
    EXPECT_NE(result.Notes[0].find(filled ? "all 0xFF" : "left out"), std::string::npos) << result.Notes[0];
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, Convert,
                         ::testing::Combine(::testing::ValuesIn(kDumpFormats), ::testing::ValuesIn(kDumpFormats)),
                         [](const auto& p) {
                           return FormatName(std::get<0>(p.param)) + "_to_" + FormatName(std::get<1>(p.param));
                         });

// ---------------------------------------------------------------------------------------
// The reader: ranges that start and end inside pages and sectors and cross the reader's
// own read size, as a full image holds them.

class Reader : public ::testing::TestWithParam<DumpFormat> {};

TEST_P(Reader, ServesMainAndSpareRangesAsAFullImageHoldsThem) {
  const DumpFormat format = GetParam();
  TempDir dir;
  Chip chip = MakeChip(dir, Content::Codes, true);
  const DumpFiles files = WriteShape(dir, "dump", format, chip);
  if (format == DumpFormat::Main) std::fill(chip.Spare.begin(), chip.Spare.end(), 0xFF);

  DumpReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(files.Path, format, {files.SparePath, 0}, error)) << error;
  EXPECT_EQ(reader.Blocks(), 4u);
  EXPECT_EQ(reader.ReadableBlocks(), 4u);
  EXPECT_EQ(reader.MainSize(), chip.Main.size());
  EXPECT_EQ(reader.SpareSize(), chip.Spare.size());

  const auto expectRange = [&](bool spare, std::uint64_t at, std::size_t n) {
    Bytes got(n);
    ASSERT_TRUE(spare ? reader.ReadSpare(at, got.data(), n, error) : reader.ReadMain(at, got.data(), n, error))
        << error;
    const Bytes& area = spare ? chip.Spare : chip.Main;
    EXPECT_EQ(Difference(got, Bytes(area.begin() + static_cast<std::ptrdiff_t>(at),
                                    area.begin() + static_cast<std::ptrdiff_t>(at + n))),
              "")
        << (spare ? "spare" : "main") << " at " << at << ", " << n << " bytes";
  };
  for (const auto& [at, n] : std::vector<std::pair<std::uint64_t, std::size_t>>{
           {0, 1}, {4095, 2}, {511, 530}, {100, 300000}, {chip.Main.size() - 3, 3}})
    expectRange(false, at, n);
  for (const auto& [at, n] : std::vector<std::pair<std::uint64_t, std::size_t>>{
           {0, 16}, {127, 3}, {15, 20}, {5, 9000}, {chip.Spare.size() - 1, 1}})
    expectRange(true, at, n);

  Bytes main(600 * 512), spare(600 * 16);
  ASSERT_TRUE(reader.ReadSectors(7, 600, main.data(), spare.data(), error)) << error;
  EXPECT_EQ(Difference(main, Bytes(chip.Main.begin() + 7 * 512, chip.Main.begin() + 607 * 512)), "");
  EXPECT_EQ(Difference(spare, Bytes(chip.Spare.begin() + 7 * 16, chip.Spare.begin() + 607 * 16)), "");

  Bytes two(2);
  EXPECT_FALSE(reader.ReadMain(chip.Main.size() - 1, two.data(), 2, error));
  EXPECT_FALSE(reader.ReadSpare(chip.Spare.size() - 1, two.data(), 2, error));
  EXPECT_FALSE(reader.ReadSectors(2047, 2, main.data(), spare.data(), error));
}

// A dump one byte short, opened for the chip it came from: the blocks before the cut
// still read, the last one is not readable.
TEST_P(Reader, ACutOffDumpOpenedForItsChipReadsWhatItHolds) {
  const DumpFormat format = GetParam();
  TempDir dir;
  const Chip chip = MakeChip(dir, Content::Codes, true);
  const DumpFiles files = WriteShape(dir, "dump", format, chip);
  const std::string& cut = format == DumpFormat::Split ? files.SparePath : files.Path;
  ASSERT_NO_FATAL_FAILURE(test::ResizeFile(cut, std::filesystem::file_size(cut) - 1));

  DumpReader reader;
  std::string error;
  EXPECT_FALSE(reader.Open(files.Path, format, {files.SparePath, 0}, error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(reader.Open(files.Path, format, {files.SparePath, 4}, error)) << error;
  EXPECT_EQ(reader.ReadableBlocks(), 3u);
  Bytes main(512 * 512), spare(512 * 16);
  EXPECT_TRUE(reader.ReadSectors(2 * 512, 512, main.data(), spare.data(), error)) << error;
  EXPECT_FALSE(reader.ReadSectors(3 * 512, 512, main.data(), spare.data(), error));
  EXPECT_NE(error.find("beyond end of file"), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Formats, Reader, ::testing::ValuesIn(kDumpFormats),
                         [](const auto& p) { return FormatName(p.param); });

// ---------------------------------------------------------------------------------------
// Conversions refused: each leaves the inputs as they were and no output or part file.

struct Refusal {
  const char* Name;
  DumpFormat From, To;
  std::function<void(const TempDir&, DumpFiles& in, DumpFiles& out, ConvertOptions&)> Arrange;
  const char* Says;
};

class Refused : public ::testing::TestWithParam<Refusal> {
 protected:
  void TearDown() override { FileFaults::Disarm(); }
};

TEST_P(Refused, LeavesTheInputsAndNoOutput) {
  const Refusal& c = GetParam();
  TempDir dir;
  const Chip chip = MakeChip(dir, Content::Codes, true);
  DumpFiles in = WriteShape(dir, "in", c.From, chip);
  DumpFiles out = Named(dir, "out", c.To);
  ConvertOptions options;
  c.Arrange(dir, in, out, options);
  const std::vector<std::string> before = FilesIn(dir);
  const Bytes input = ReadAll(in.Path);

  ConvertResult result;
  std::string error;
  EXPECT_FALSE(ConvertDump(in, out, options, result, error));
  FileFaults::Disarm();
  EXPECT_NE(error.find(c.Says), std::string::npos) << error;
  EXPECT_EQ(FilesIn(dir), before);
  EXPECT_EQ(Difference(ReadAll(in.Path), input), "");
}

const Refusal kRefusals[] = {
    {"cut_off_page_dump", DumpFormat::Page, DumpFormat::Full,
     [](const TempDir&, DumpFiles& in, DumpFiles&, ConvertOptions&) { test::ResizeFile(in.Path, 4 * 270336 - 100); },
     "not a whole page dump"},
    {"spare_file_of_the_wrong_length", DumpFormat::Split, DumpFormat::Full,
     [](const TempDir&, DumpFiles& in, DumpFiles&, ConvertOptions&) { test::ResizeFile(in.SparePath, 4 * 8192 - 16); },
     "holds 32752 bytes; the 4 erase blocks of the main file"},
    {"size_fits_no_format", DumpFormat::Full, DumpFormat::Page,
     [](const TempDir&, DumpFiles& in, DumpFiles&, ConvertOptions&) { test::ResizeFile(in.Path, 4 * 270336 + 5); },
     "4 blocks and 5 bytes"},
    {"split_input_without_spare_file", DumpFormat::Split, DumpFormat::Full,
     [](const TempDir&, DumpFiles& in, DumpFiles&, ConvertOptions&) { in.SparePath.clear(); }, "needs the file of its spare data"},
    {"spare_file_with_a_page_dump", DumpFormat::Page, DumpFormat::Full,
     [](const TempDir& dir, DumpFiles& in, DumpFiles&, ConvertOptions&) { in.SparePath = dir.File("in.page"); },
     "goes only with a split dump"},
    {"split_output_without_spare_file", DumpFormat::Full, DumpFormat::Split,
     [](const TempDir&, DumpFiles&, DumpFiles& out, ConvertOptions&) { out.SparePath.clear(); }, "needs a file for its spare data"},
    {"output_is_the_input_spelled_otherwise", DumpFormat::Page, DumpFormat::Full,
     [](const TempDir& dir, DumpFiles&, DumpFiles& out, ConvertOptions&) {
       std::filesystem::create_directory(dir.Path() / "sub");
       out.Path = (dir.Path() / "sub" / ".." / "in.page").string();
     },
     "a file of the dump being converted"},
    {"output_part_file_is_the_input", DumpFormat::Page, DumpFormat::Full,
     [](const TempDir& dir, DumpFiles& in, DumpFiles& out, ConvertOptions&) {
       std::filesystem::rename(in.Path, dir.File("x.part"));
       in.Path = dir.File("x.part");
       out.Path = dir.File("x");
     },
     "a file of the dump being converted"},
    {"output_is_the_input_spare_file", DumpFormat::Split, DumpFormat::Sector,
     [](const TempDir& dir, DumpFiles&, DumpFiles& out, ConvertOptions&) { out.Path = (dir.Path() / "." / "in.spare").string(); },
     "a file of the dump being converted"},
    {"split_output_spare_is_its_main_file", DumpFormat::Page, DumpFormat::Split,
     [](const TempDir& dir, DumpFiles&, DumpFiles& out, ConvertOptions&) { out.SparePath = (dir.Path() / "." / "out.split").string(); },
     "it is the main output"},
    // The main output's name is the spare output's part name: the renames would leave the
    // main data under the spare file's name.
    {"split_output_names_that_cross", DumpFormat::Page, DumpFormat::Split,
     [](const TempDir& dir, DumpFiles&, DumpFiles& out, ConvertOptions&) {
       out.Path = dir.File("o.part");
       out.SparePath = dir.File("o");
     },
     "it is the main output"},
    {"write_failure", DumpFormat::Page, DumpFormat::Full,
     [](const TempDir&, DumpFiles&, DumpFiles&, ConvertOptions&) { FileFaults::ArmWrite(3); },
     "I/O error while writing"},
    // The main data copied whole, the spare data's copy fails: neither output remains.
    {"kernel_copy_write_failure", DumpFormat::Full, DumpFormat::Split,
     [](const TempDir&, DumpFiles&, DumpFiles&, ConvertOptions&) { FileFaults::ArmWrite(3); },
     "I/O error while writing"},
    {"stopped_half_way", DumpFormat::Sector, DumpFormat::Page,
     [](const TempDir&, DumpFiles&, DumpFiles&, ConvertOptions& options) {
       options.Stop = [polls = 0]() mutable { return ++polls > 1; };
     },
     "the conversion was stopped"},
};

INSTANTIATE_TEST_SUITE_P(Inputs, Refused, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.Name); });

// ---------------------------------------------------------------------------------------
// Detection: each shape with and without the table, with codes, with erased spare data
// and with spare data that look like any other data; chips whose size alone decides; and
// dumps it must refuse. It names the right format or refuses; it never names another.

struct Detect {
  const char* Name;
  DumpFormat Shape;
  bool Table;
  Content What;
  std::optional<DumpFormat> Found;  // nothing: refused
  const char* Says;                 // in the verdict, or in the refusal
  std::uint32_t ChipMiB = 1;
  std::uint32_t KeepBlocks = 0;     // cuts the chip's main data to this many blocks
  std::uint64_t CutBytes = 0;       // cut off the end of the file (split: the spare file)
};

class Detection : public ::testing::TestWithParam<Detect> {};

TEST_P(Detection, NamesTheFormatOrRefusesWithTheReason) {
  const Detect& c = GetParam();
  TempDir dir;
  Chip chip = MakeChip(dir, c.What, c.Table, c.ChipMiB);
  if (c.KeepBlocks) chip.Main.resize(std::size_t{c.KeepBlocks} * 0x40000);
  const DumpFiles files = WriteShape(dir, "dump", c.Shape, chip);
  if (c.CutBytes) {
    const std::string& cut = c.Shape == DumpFormat::Split ? files.SparePath : files.Path;
    ASSERT_NO_FATAL_FAILURE(test::ResizeFile(cut, std::filesystem::file_size(cut) - c.CutBytes));
  }

  DumpDetection found;
  std::string error;
  const bool named = DetectDumpFormat(files.Path, files.SparePath, found, error);
  std::string seen;
  for (const std::string& line : found.Findings) seen += "\n  " + line;
  if (!c.Found) {
    EXPECT_FALSE(named) << "named " << FormatName(found.Format) << ": " << found.Verdict << seen;
    EXPECT_NE(error.find(c.Says), std::string::npos) << error << seen;
    return;
  }
  ASSERT_TRUE(named) << error << seen;
  EXPECT_EQ(FormatName(found.Format), FormatName(*c.Found)) << found.Verdict << seen;
  EXPECT_EQ(std::uint64_t{found.Blocks} * 0x40000, chip.Main.size());
  EXPECT_NE(found.Verdict.find(c.Says), std::string::npos) << found.Verdict << seen;
}

using F = DumpFormat;
using C = Content;
constexpr const char* kCodes = "onenand-h512-normal codes that match";
constexpr const char* kMarks = "erased spare data or the driver's marks stand";
constexpr const char* kOnly = "the only format";
constexpr const char* kByTable = "the only format that its size and the place of its partition table allow";

const Detect kDetects[] = {
    {"full_table_codes", F::Full, true, C::Codes, F::Full, kByTable},
    {"full_table_erased_spare", F::Full, true, C::ErasedSpare, F::Full, kByTable},
    {"full_table_noisy_spare", F::Full, true, C::NoisySpare, F::Full, "do not look like spare data"},
    {"full_codes", F::Full, false, C::Codes, F::Full, kCodes},
    {"full_erased_spare", F::Full, false, C::ErasedSpare, F::Full, kMarks},
    {"full_noisy_spare", F::Full, false, C::NoisySpare, std::nullopt, "nothing tells full, page and sector apart"},
    {"page_table_codes", F::Page, true, C::Codes, F::Page, kCodes},
    {"page_table_erased_spare", F::Page, true, C::ErasedSpare, F::Page, kMarks},
    {"page_table_noisy_spare", F::Page, true, C::NoisySpare, std::nullopt, "nothing tells page and sector apart"},
    {"page_codes", F::Page, false, C::Codes, F::Page, kCodes},
    {"page_smallpage_codes", F::Page, false, C::SmallPageCodes, F::Page, "smallpage-normal codes that match"},
    {"page_erased_spare", F::Page, false, C::ErasedSpare, F::Page, kMarks},
    {"page_noisy_spare", F::Page, false, C::NoisySpare, std::nullopt, "nothing tells full, page and sector apart"},
    {"sector_table_codes", F::Sector, true, C::Codes, F::Sector, kCodes},
    {"sector_table_erased_spare", F::Sector, true, C::ErasedSpare, F::Sector, kMarks},
    {"sector_table_noisy_spare", F::Sector, true, C::NoisySpare, std::nullopt, "nothing tells page and sector apart"},
    {"sector_codes", F::Sector, false, C::Codes, F::Sector, kCodes},
    {"sector_smallpage_codes", F::Sector, false, C::SmallPageCodes, F::Sector, "smallpage-normal codes that match"},
    {"sector_erased_spare", F::Sector, false, C::ErasedSpare, F::Sector, kMarks},
    {"sector_noisy_spare", F::Sector, false, C::NoisySpare, std::nullopt, "nothing tells full, page and sector apart"},
    // Where a page dump keeps its spare data, this sector dump has erased padding; the
    // same padding inside the data shows that it proves nothing.
    {"sector_padded_noisy_spare", F::Sector, false, C::PaddedNoisySpare, std::nullopt,
     "nothing tells full, page and sector apart"},
    {"split_table_codes", F::Split, true, C::Codes, F::Split, "a spare file of the length"},
    {"split_noisy_spare", F::Split, false, C::NoisySpare, F::Split, "a spare file of the length"},
    {"main_table_codes", F::Main, true, C::Codes, F::Main, kByTable},
    {"main_table_noisy", F::Main, true, C::NoisySpare, F::Main, kByTable},
    {"main_codes", F::Main, false, C::Codes, F::Main, kOnly},
    {"main_noisy", F::Main, false, C::NoisySpare, F::Main, kOnly},
    // 32 blocks with their spare data are as long as 33 without: the table leaves full and
    // main, an erased chip shows nothing, and only a power-of-two chip is taken.
    {"erased_full_of_32_blocks", F::Full, true, C::Erased, F::Full, "a power of two as chips have", 8},
    {"erased_page_of_32_blocks", F::Page, true, C::Erased, std::nullopt, "nothing tells page and sector apart", 8},
    {"noisy_main_of_33_blocks", F::Main, true, C::NoisySpare, std::nullopt, "do not look like spare data", 9, 33},
    {"cut_off_page_dump", F::Page, true, C::Codes, std::nullopt, "fits no format", 1, 0, 100},
    {"spare_file_of_the_wrong_length", F::Split, true, C::Codes, std::nullopt, "the spare file", 1, 0, 16},
};

INSTANTIATE_TEST_SUITE_P(Dumps, Detection, ::testing::ValuesIn(kDetects),
                         [](const auto& p) { return std::string(p.param.Name); });

}  // namespace
}  // namespace orvella
