// Dumps in other tools' formats through the tool: `convert` between every pair of
// formats, the format found and said in words, the dumps refused with their reason and
// status, and `list` and `check` of every format giving what they give for the full
// image. The expected shape of each format is laid out here from the full image, apart
// from the tool.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "RunTool.h"
#include "image/DumpFormat.h"
#include "support/EccImage.h"

namespace orvella {
namespace {

using test::RunTool;
using F = DumpFormat;

constexpr std::size_t kChipMain = 2u << 20;  // 8 blocks, 4096 sectors
constexpr std::size_t kChipSpare = kChipMain / 32;

std::string Name(F f) { return std::string(DumpFormatName(f)); }

// A format's files as laid out from the full image's bytes: the file, and a split dump's
// spare file.
struct Shape {
  std::string File, Spare;
};

Shape Shaped(F format, const std::string& full) {
  const std::string main = full.substr(0, kChipMain), spare = full.substr(kChipMain);
  const auto interleave = [&](std::size_t unit) {
    std::string out;
    for (std::size_t at = 0; at < main.size(); at += unit) out += main.substr(at, unit) + spare.substr(at / 32, unit / 32);
    return out;
  };
  switch (format) {
    case F::Full: return {full, ""};
    case F::Page: return {interleave(4096), ""};
    case F::Sector: return {interleave(512), ""};
    case F::Split: return {main, spare};
    case F::Main: return {main, ""};
  }
  return {};
}

// The full image with its spare data erased, as a main dump converts back.
std::string Erased(const std::string& full) { return full.substr(0, kChipMain) + std::string(kChipSpare, '\xFF'); }

// "" when equal, else where the two part (no megabytes printed).
std::string Difference(const std::string& got, const std::string& want) {
  if (got.size() != want.size()) return std::to_string(got.size()) + " bytes instead of " + std::to_string(want.size());
  const auto at = std::mismatch(got.begin(), got.end(), want.begin());
  return at.first == got.end() ? "" : "first difference at byte " + std::to_string(at.first - got.begin());
}

// One dump with codes and one fault of each kind, shared by every test of the file: a
// corrected sector, an uncorrectable one, a code error and a bad block.
class Dumps : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    suite_ = new test::TempDir;
    const std::string path = suite_->File("dump.bin");
    ASSERT_NO_FATAL_FAILURE(test::MakeEccImage(path, 2, {{"BOOT", 2}, {"DATA", 0xFFFFFFFFu}}, "onenand-h512-normal", {5}));
    ASSERT_NO_FATAL_FAILURE(test::FlipSectorBit(path, 700, 1000));
    ASSERT_NO_FATAL_FAILURE(test::FlipSectorBit(path, 2100, 3));
    ASSERT_NO_FATAL_FAILURE(test::FlipSectorBit(path, 2100, 9));
    std::vector<std::uint8_t> code = test::ReadBytesAt(path, kChipMain + 3000 * 16 + 9, 1);
    ASSERT_EQ(code.size(), 1u);
    code[0] ^= 0x10;
    test::WriteBytesAt(path, kChipMain + 3000 * 16 + 9, code);
    full_ = new std::string(test::ReadWholeFile(path));
  }
  static void TearDownTestSuite() {
    delete full_;
    delete suite_;
  }

  // Writes the dump in `format` as laid out above; the arguments that name its files.
  std::vector<std::string> Write(F format, const std::string& stem, const std::string& full) {
    const Shape s = Shaped(format, full);
    const std::string path = dir.File(stem + "." + Name(format));
    Put(path, s.File);
    if (format != F::Split) return {path};
    Put(dir.File(stem + ".spare"), s.Spare);
    return {path, "--spare", dir.File(stem + ".spare")};
  }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  static std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }

  static const std::string& Full() { return *full_; }
  test::TempDir dir;

 private:
  static test::TempDir* suite_;
  static std::string* full_;
};

test::TempDir* Dumps::suite_ = nullptr;
std::string* Dumps::full_ = nullptr;

// ---------------------------------------------------------------------------------------
// Every pair of formats, named: the output is the shape laid out above, the input is
// unchanged, and converting the output back to full gives the image byte for byte (with
// erased spare data where a main dump stood on the way).

class Pairs : public Dumps, public ::testing::WithParamInterface<std::tuple<F, F>> {};

TEST_P(Pairs, ConvertExactlyBothWays) {
  const auto [from, to] = GetParam();
  const std::vector<std::string> in = Write(from, "in", Full());
  const std::string out = dir.File("out." + Name(to)), outSpare = dir.File("out.spare");
  std::vector<std::string> args{"convert", in[0], out, "--from", Name(from), "--to", Name(to)};
  if (from == F::Split) args.insert(args.end(), {"--spare", in[2]});
  if (to == F::Split) args.insert(args.end(), {"--spare", outSpare});

  const auto r = RunTool(dir, args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, out + "\n" + (to == F::Split ? outSpare + "\n" : ""));
  const bool lost = !KeepsSpare(from) || !KeepsSpare(to);
  const std::string want = !KeepsSpare(from) ? Erased(Full()) : Full();
  const Shape shape = Shaped(to, want);
  EXPECT_EQ(Difference(test::ReadWholeFile(out), shape.File), "");
  if (to == F::Split) {
    EXPECT_EQ(Difference(test::ReadWholeFile(outSpare), shape.Spare), "");
  }
  EXPECT_EQ(Difference(test::ReadWholeFile(in[0]), Shaped(from, Full()).File), "") << "the input changed";
  // Only a main dump on either side is worth a word: spare data filled or left out.
  EXPECT_EQ(r.err.empty(), from == to || !(from == F::Main || to == F::Main)) << r.err;

  std::vector<std::string> back{"convert", out, dir.File("back.bin"), "--from", Name(to)};
  if (to == F::Split) back.insert(back.end(), {"--spare", outSpare});
  const auto b = RunTool(dir, back);
  ASSERT_EQ(b.exitCode, 0) << b.err;
  EXPECT_EQ(Difference(test::ReadWholeFile(dir.File("back.bin")), lost ? Erased(Full()) : Full()), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, Pairs, ::testing::Combine(::testing::ValuesIn(kDumpFormats), ::testing::ValuesIn(kDumpFormats)),
                         [](const auto& p) { return Name(std::get<0>(p.param)) + "_to_" + Name(std::get<1>(p.param)); });

// ---------------------------------------------------------------------------------------
// Without --from the format is found, and standard error says which and why; `list` and
// `check` find it the same way and say so, and give exactly what they give for the full
// image. A main dump keeps its table where a full image does, so they take it for a full
// image cut off after its main data, as always, unless --format names it.

struct Found {
  F Format;
  const char* Why;  // in the verdict
};

void PrintTo(const Found& f, std::ostream* os) { *os << Name(f.Format); }

// The formats found without --format, and so said: the ones whose table stands elsewhere
// than a full image's.
bool Said(F format) { return format == F::Page || format == F::Sector; }

class Detected : public Dumps, public ::testing::WithParamInterface<Found> {};

TEST_P(Detected, IsSaidInWordsAndReadAsTheFullImage) {
  const Found& c = GetParam();
  const std::vector<std::string> in = Write(c.Format, "in", Full());
  const std::vector<std::string> spare(in.begin() + 1, in.end());
  const std::string verdict = "\": the dump is in " + Name(c.Format) + " format: " + c.Why;

  const auto r = RunTool(dir, Plus({"convert", in[0], dir.File("back.bin")}, spare));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.rfind("orvella: convert: \"" + in[0] + verdict, 0), 0u) << r.err;
  EXPECT_NE(r.err.find("\n  table: the partition table's magic stands at"), std::string::npos) << r.err;
  EXPECT_EQ(Difference(test::ReadWholeFile(dir.File("back.bin")), c.Format == F::Main ? Erased(Full()) : Full()), "");

  const std::string full = dir.File("whole.bin");
  Put(full, Full());
  for (const std::vector<std::string>& command : {std::vector<std::string>{"list"}, {"list", "--json"},
                                                 {"check"}, {"check", "--json"}}) {
    SCOPED_TRACE(command.back());
    const auto want = RunTool(dir, Plus(Plus(command, {full}), {}));
    std::vector<std::string> named = Plus(Plus(command, {in[0]}), spare);
    if (c.Format == F::Main) named.insert(named.end(), {"--format", "main"});
    const auto got = RunTool(dir, named);
    if (command.front() == "check" && c.Format == F::Main) {
      // Without spare data there is nothing to check but erased and written sectors.
      EXPECT_EQ(got.exitCode, 0) << got.err;
      EXPECT_NE(got.err.find("a main dump holds no spare data"), std::string::npos) << got.err;
      EXPECT_NE(got.out.find(command.back() == "--json" ? "\"name\":null" : "no known ECC layout matches"),
                std::string::npos)
          << got.out;
      continue;
    }
    EXPECT_EQ(got.exitCode, want.exitCode) << got.err;
    // The dump's name as the output writes it (JSON doubles a Windows path's backslashes).
    std::string out = got.out;
    for (const bool json : {false, true}) {
      const auto written = [json](std::string path) {
        if (json)
          for (std::size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 2))
            path.insert(at, 1, '\\');
        return path;
      };
      const std::string from = written(in[0]), to = written(full);
      for (std::size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size()))
        out.replace(at, from.size(), to);
    }
    EXPECT_EQ(out, want.out);
    EXPECT_EQ(got.err.find("orvella: " + command.front() + ": \"" + in[0] + verdict) == 0, Said(c.Format)) << got.err;
  }
  // A command that reads full images only says what it was given, and reads it all the same.
  const auto hash = RunTool(dir, {"hash", in[0]});
  EXPECT_EQ(hash.exitCode, 0) << hash.err;
  EXPECT_EQ(hash.err.find("orvella: hash: \"" + in[0] + "\" is not a full image but a " + Name(c.Format) +
                          " dump (the dump is in " + Name(c.Format) + " format: ") == 0,
            Said(c.Format))
      << hash.err;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Detected,
    ::testing::Values(Found{F::Full, "the only format that its size and the place of its partition table allow"},
                      Found{F::Page, "onenand-h512-normal codes that match their data stand where it keeps spare data"},
                      Found{F::Sector, "onenand-h512-normal codes that match their data stand where it keeps spare data"},
                      Found{F::Split, "a spare file of the length that the main file's 8 erase blocks need"},
                      Found{F::Main, "the only format that its size and the place of its partition table allow"}),
    [](const auto& p) { return Name(p.param.Format); });

// A repair of a page dump is a page dump, the same repair as the full image's.
TEST_F(Dumps, ARepairIsWrittenInTheDumpsOwnFormat) {
  const std::string full = dir.File("in.full");
  Put(full, Full());
  const auto fixedFull = RunTool(dir, {"check", full, "--repair", dir.File("fixed.full")});
  ASSERT_EQ(fixedFull.exitCode, 4) << fixedFull.err;
  const std::vector<std::string> page = Write(F::Page, "in", Full());
  const auto fixedPage = RunTool(dir, {"check", page[0], "--format", "page", "--repair", dir.File("fixed.page")});
  EXPECT_EQ(fixedPage.exitCode, 4) << fixedPage.err;
  const std::string repaired = test::ReadWholeFile(dir.File("fixed.full"));
  ASSERT_NE(Difference(repaired, Full()), "");
  EXPECT_EQ(Difference(test::ReadWholeFile(dir.File("fixed.page")), Shaped(F::Page, repaired).File), "");

  const std::vector<std::string> split = Write(F::Split, "in", Full());
  const auto refused = RunTool(dir, Plus({"check", split[0], "--repair", dir.File("fixed.split")},
                                         {split.begin() + 1, split.end()}));
  EXPECT_EQ(refused.exitCode, 16);
  EXPECT_NE(refused.err.find("--repair of a split dump would need a second output"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("fixed.split")));
}

// ---------------------------------------------------------------------------------------
// Dumps refused: the reason on standard error, the command's status, nothing on standard
// output and no output file.

struct Refusal {
  const char* Name;
  F Shape;
  // Cuts the file (split: the spare file) by this many bytes, or grows it with zeros.
  long long Resize;
  bool NoisySpare;  // spare data that look like any other data: page and sector alike
  std::vector<std::string> Args;  // after the command; "{in}" the dump, "{spare}" its spare file
  int Status;
  const char* Says;
};

class Refused : public Dumps, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Refused, SaysWhyWithItsStatus) {
  const Refusal& c = GetParam();
  std::string full = Full();
  if (c.NoisySpare)
    for (std::size_t i = kChipMain; i < full.size(); ++i) full[i] = static_cast<char>(full[(i * 7919) % kChipMain] ^ 0x5A);
  const std::vector<std::string> in = Write(c.Shape, "in", full);
  const std::string& cut = c.Shape == F::Split ? in[2] : in[0];
  ASSERT_NO_FATAL_FAILURE(test::ResizeFile(cut, std::filesystem::file_size(cut) + c.Resize));
  std::vector<std::string> args;
  for (const std::string& a : c.Args)
    args.push_back(a == "{in}" ? in[0] : a == "{spare}" ? dir.File("in.spare") : a == "{out}" ? dir.File("out") : a);

  const auto r = RunTool(dir, args);
  EXPECT_EQ(r.exitCode, c.Status) << r.err;
  EXPECT_NE(r.err.find(c.Says), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(std::filesystem::exists(dir.File("out")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.part")));
}

const Refusal kRefusals[] = {
    {"cut_off_page_dump", F::Page, -100, false, {"convert", "{in}", "{out}"}, 1,
     "2162588 bytes fits no format: full, page and sector dumps are whole erase blocks of 270336 bytes"},
    {"cut_off_page_dump_named", F::Page, -100, false, {"convert", "{in}", "{out}", "--from", "page"}, 1,
     "holds 2162588 bytes, not a whole number of 270336-byte erase blocks with their spare data (7 blocks and "
     "270236 bytes): not a whole page dump"},
    {"cut_off_page_dump_listed", F::Page, -100, false, {"list", "{in}", "--format", "page"}, 1, "not a whole page dump"},
    {"cut_off_page_dump_checked", F::Page, -100, false, {"check", "{in}", "--format", "page"}, 8,
     "orvella: check: cannot check \""},
    {"spare_file_of_the_wrong_length", F::Split, -16, false, {"convert", "{in}", "{out}", "--spare", "{spare}"}, 1,
     "the spare file \""},
    {"spare_file_of_the_wrong_length_checked", F::Split, -16, false, {"check", "{in}", "--spare", "{spare}"}, 8,
     "holds 65520 bytes; the 8 erase blocks of the main file"},
    {"size_that_fits_no_format", F::Full, 5, false, {"convert", "{in}", "{out}"}, 1,
     "2162693 bytes fits no format: full, page and sector dumps are whole erase blocks of 270336 bytes"},
    {"page_and_sector_fit_equally", F::Page, 0, true, {"convert", "{in}", "{out}"}, 1,
     "nothing tells page and sector apart: the partition table allows each of them, no known codes and no "
     "spare-like bytes stand where only one of them keeps its spare data; name the format with --from"},
    {"page_and_sector_fit_equally_listed", F::Page, 0, true, {"list", "{in}"}, 1,
     "nothing tells page and sector apart"},
    {"page_and_sector_fit_equally_checked", F::Page, 0, true, {"check", "{in}", "--json"}, 8,
     "; name the format with --format\n"},
    {"unknown_format", F::Page, 0, false, {"convert", "{in}", "{out}", "--to", "pages"}, 2,
     "orvella: convert: --to: unknown format \"pages\" (take full page sector split main); see"},
    {"split_without_its_spare_file", F::Page, 0, false, {"convert", "{in}", "{out}", "--to", "split"}, 2,
     "--to split needs --spare FILE"},
    {"spare_file_of_no_split_side", F::Page, 0, false, {"convert", "{in}", "{out}", "--from", "page", "--spare", "{spare}"},
     2, "--spare names the spare file of a split dump, and neither --from page nor --to full is one"},
    {"spare_file_with_another_format", F::Page, 0, false, {"check", "{in}", "--format", "page", "--spare", "{spare}"},
     16, "--spare goes only with a split dump, not with --format page"},
};

INSTANTIATE_TEST_SUITE_P(Dumps, Refused, ::testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.Name); });

}  // namespace
}  // namespace orvella
