// The dump as the phone reads it, through the tool as a technician runs it: dumps made by
// `mkimage --bml` with blocks replaced from the reservoir and STL volumes, read back by
// `bml`, `pit`, `volume` and `stl`, and by `check`; dumps without the layer, tables with
// garbage, damaged volumes and what mkimage refuses to make.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "RunTool.h"
#include "image/ImageBuilder.h"
#include "phone/StlWriter.h"

#if defined(__SANITIZE_ADDRESS__)
#define ORVELLA_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVELLA_SLOW_BUILD 1
#endif
#endif
#if defined(_WIN32)
#define ORVELLA_SLOW_BUILD 1
#endif

namespace orvella {
namespace {

using Json = nlohmann::json;
using test::RunTool;

constexpr std::uint64_t kBlock = 0x40000;
constexpr std::uint64_t kChipMain = std::uint64_t{2048} * kBlock;  // where the spare area starts

// An i9000-like table summing to the reservoir at block 2004: the first blocks of each
// partition, in order.
constexpr char kTable[] =
    "IBL+PBL:1,PIT:1,EFS:40,SBL:5,SBL2:5,PARAM:20,KERNEL:30,RECOVERY:30,FACTORYFS:1146,DBDATAFS:536,CACHE:140,MODEM:rest";
struct Part {
  const char* Name;
  std::uint32_t First, Blocks;
};
constexpr Part kParts[] = {{"IBL+PBL", 0, 1},    {"PIT", 1, 1},          {"EFS", 2, 40},      {"SBL", 42, 5},
                           {"SBL2", 47, 5},      {"PARAM", 52, 20},      {"KERNEL", 72, 30},  {"RECOVERY", 102, 30},
                           {"FACTORYFS", 132, 1146}, {"DBDATAFS", 1278, 536}, {"CACHE", 1814, 140}, {"MODEM", 1954, 50}};

const Part& PartNamed(const std::string& name) {
  for (const Part& p : kParts)
    if (name == p.Name) return p;
  ADD_FAILURE() << "no partition " << name;
  return kParts[0];
}

Json ParseJson(const std::string& text) {
  Json j = Json::parse(text, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << text;
  return j;
}

std::string Joined(const std::vector<std::uint32_t>& blocks) {
  std::string s;
  for (std::uint32_t b : blocks) s += (s.empty() ? "" : ",") + std::to_string(b);
  return s;
}

// Makes a 512 MiB dump with the bad-block layer; `extra` adds options.
std::string MakeDump(const test::TempDir& dir, const std::string& name, const std::string& fill,
                     const std::vector<std::string>& extra) {
  const std::string path = dir.File(name);
  std::vector<std::string> args{"mkimage", path, "--chip-mib", "512", "--table", kTable, "--fill", fill, "--bml"};
  args.insert(args.end(), extra.begin(), extra.end());
  const test::ToolResult r = RunTool(dir, args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return path;
}

// Compares a file with the bytes `expect(offset, buffer, n)` gives, a block at a time.
template <typename Expect>
void ExpectFileBytes(const std::string& path, std::uint64_t size, Expect expect) {
  ASSERT_EQ(std::filesystem::file_size(path), size) << path;
  std::ifstream f(path, std::ios::binary);
  std::vector<std::uint8_t> got(kBlock), want(kBlock);
  for (std::uint64_t at = 0; at < size; at += kBlock) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, size - at));
    f.read(reinterpret_cast<char*>(got.data()), static_cast<std::streamsize>(n));
    ASSERT_TRUE(f) << path << " at " << at;
    expect(at, want.data(), n);
    ASSERT_EQ(std::memcmp(got.data(), want.data(), n), 0) << path << ": the block at byte " << at << " differs";
  }
}

// ---- the bad-block layer undone ----

struct RemapCase {
  const char* Name;
  std::vector<std::uint32_t> Remaps;
};

class BmlLayer : public ::testing::TestWithParam<RemapCase> {};

// Several remaps in different partitions, among them the first and the last block of a
// partition and the last block partitions can use: `bml --json` lists exactly them, each
// with the next free reservoir block, and every partition read as the phone's bmlN reads
// it gives exactly the data written there, none of the garbage left in the bad block.
TEST_P(BmlLayer, VolumeGivesTheWrittenDataAndBmlListsExactlyTheRemaps) {
  const RemapCase& c = GetParam();
  test::TempDir dir;
  const std::string dump = MakeDump(dir, "dump.bin", "pattern", {"--remap", Joined(c.Remaps)});

  const test::ToolResult bml = RunTool(dir, {"bml", dump, "--json"});
  ASSERT_EQ(bml.exitCode, 0) << bml.err;
  const Json j = ParseJson(bml.out);
  EXPECT_EQ(j["reservoir"], (Json{{"first", 2004}, {"last", 2047}}));
  EXPECT_EQ(j["findings"], Json::array()) << j["findings"].dump();
  EXPECT_TRUE(j["mountable"].get<bool>());
  ASSERT_EQ(j["remaps"].size(), c.Remaps.size()) << j["remaps"].dump();
  std::set<std::string> touched;
  for (std::size_t i = 0; i < c.Remaps.size(); ++i) {
    const Json& m = j["remaps"][i];
    EXPECT_EQ(m["block"], c.Remaps[i]);
    EXPECT_EQ(m["replacement"], 2004 + i);
    std::string holder;
    for (const Part& p : kParts)
      if (c.Remaps[i] >= p.First && c.Remaps[i] < p.First + p.Blocks) holder = p.Name;
    EXPECT_EQ(m["partition"], holder);
    touched.insert(holder);
  }
  touched.insert("SBL");  // and one without a remap
  for (const std::string& name : touched) {
    SCOPED_TRACE(name);
    const Part& p = PartNamed(name);
    const std::string out = dir.File(name + ".bml");
    const test::ToolResult v = RunTool(dir, {"volume", dump, "--row", name, "-o", out});
    ASSERT_EQ(v.exitCode, 0) << v.err;
    EXPECT_EQ(v.err, "");
    const auto remapped = std::count_if(c.Remaps.begin(), c.Remaps.end(),
                                        [&](std::uint32_t b) { return b >= p.First && b < p.First + p.Blocks; });
    EXPECT_NE(v.out.find(remapped == 0 ? "none remapped" : std::to_string(remapped) + " taken from"), std::string::npos)
        << v.out;
    ExpectFileBytes(out, std::uint64_t{p.Blocks} * kBlock, [&](std::uint64_t at, std::uint8_t* want, std::size_t n) {
      FillMainData(ImageFill::Pattern, 0, p.First * kBlock + at, want, n);
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Dumps, BmlLayer,
                         ::testing::Values(RemapCase{"FirstLastAndMiddle", {2, 41, 80, 1500, 2003}},
                                           RemapCase{"LastBlocksOfPartitions", {101, 1953, 46, 1277}},
                                           RemapCase{"Neighbours", {60, 61, 62}}),
                         [](const auto& p) { return std::string(p.param.Name); });

// A dump without the layer (another chip size, or a 512 MiB chip made without it): bml
// says there is none and lists nothing, and every block is read where it lies, said so.
TEST(NoReservoir, NothingIsInventedAndBlocksAreReadWhereTheyLie) {
  test::TempDir dir;
  const std::string small = dir.File("small.bin");
  ASSERT_NO_FATAL_FAILURE(test::MakeImage(small, {{"BOOT", 2}, {"EFS", 5}, {"DATA", 0xFFFFFFFFu}}, 16, ImageFill::Pattern));
  const std::string big = dir.File("big.bin");
  ASSERT_EQ(RunTool(dir, {"mkimage", big, "--chip-mib", "512", "--table", "BOOT:2,EFS:5,DATA:rest", "--fill", "pattern"})
                .exitCode,
            0);
  for (const auto& [image, why] : {std::pair{small, "chips of 2048 blocks, and this one has 64"},
                                   std::pair{big, "no block of 2004 to 2047 starts with a pool control header"}}) {
    SCOPED_TRACE(image);
    for (const bool json : {false, true}) {
      std::vector<std::string> args{"bml", image};
      if (json) args.push_back("--json");
      const test::ToolResult b = RunTool(dir, args);
      EXPECT_EQ(b.exitCode, 1);
      EXPECT_EQ(b.out, "");
      EXPECT_NE(b.err.find("no reservoir structure"), std::string::npos) << b.err;
      EXPECT_NE(b.err.find(why), std::string::npos) << b.err;
    }
    const std::string out = dir.File("efs.bin");
    const test::ToolResult v = RunTool(dir, {"volume", image, "--row", "EFS", "-o", out, "--force"});
    ASSERT_EQ(v.exitCode, 0) << v.err;
    EXPECT_NE(v.err.find("every block is read where it lies"), std::string::npos) << v.err;
    ExpectFileBytes(out, 5 * kBlock, [](std::uint64_t at, std::uint8_t* want, std::size_t n) {
      FillMainData(ImageFill::Pattern, 0, 2 * kBlock + at, want, n);
    });
    const test::ToolResult p = RunTool(dir, {"pit", image, "--json"});
    ASSERT_EQ(p.exitCode, 0) << p.err;
    const Json rows = ParseJson(p.out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1]["first_block"], 2);
    EXPECT_EQ(rows[1]["first_block_from"], "running_sum");
    EXPECT_EQ(rows[1]["bml_number"], nullptr);
  }
}

// ---- the table's every field ----

void PutLE32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct OddEntry {
  std::string Name;
  std::uint32_t Device, Identifier, Attributes, Blocks;
};

// Rewrites block 1 with a table of `entries` in the phone's layout, with garbage where
// real tables carry it: the header's unknown words, the obsolete file fields, bytes after
// the names' NULs.
void WriteOddTable(const std::string& image, const std::vector<OddEntry>& entries) {
  std::vector<std::uint8_t> t(28 + 132 * entries.size(), 0);
  PutLE32(t, 0, 0x12349876);
  PutLE32(t, 4, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 8; i < 28; ++i) t[i] = static_cast<std::uint8_t>(0xA0 + i);
  for (std::size_t k = 0; k < entries.size(); ++k) {
    const std::size_t e = 28 + 132 * k;
    const OddEntry& o = entries[k];
    PutLE32(t, e + 0, static_cast<std::uint32_t>(k % 2));
    PutLE32(t, e + 4, o.Device);
    PutLE32(t, e + 8, o.Identifier);
    PutLE32(t, e + 12, o.Attributes);
    PutLE32(t, e + 16, 0);
    PutLE32(t, e + 20, 256);
    PutLE32(t, e + 24, o.Blocks);
    PutLE32(t, e + 28, 0x00410042 + static_cast<std::uint32_t>(k));  // UTF-16 text fragments
    PutLE32(t, e + 32, 0xDEADBEEF);
    std::memcpy(&t[e + 36], o.Name.data(), o.Name.size());
    std::memcpy(&t[e + 36 + o.Name.size() + 1], "GARBAGE", 7);
    std::memcpy(&t[e + 68], "file.bin\0junk", 13);
  }
  test::WriteBytesAt(image, kBlock, t);
}

// Garbage in the header and in obsolete fields, an entry of another device and one of
// block count 0 between the others: decoded as stored, those two not in the dump and left
// out of the running sum, on a dump with the layer and on one without it.
TEST(Pit, DecodesATableWithGarbageAndEntriesNotInTheDump) {
  test::TempDir dir;
  const std::string withLayer = MakeDump(dir, "layer.bin", "zero", {});
  const std::string plain = dir.File("plain.bin");
  ASSERT_NO_FATAL_FAILURE(test::MakeImage(plain, {{"X", 1}}, 512, ImageFill::Zero));
  std::vector<OddEntry> entries;
  std::uint32_t id = 0;
  for (const Part& p : kParts) {
    entries.push_back({p.Name, 0, id++, 0, p.Blocks});
    if (std::string(p.Name) == "EFS") {
      entries.back().Attributes = 2;  // STL, the write bit clear, as on the phone
      entries.push_back({"HIDDEN", 1, 90, 1, 7});
      entries.push_back({"", 0, 91, 0, 0});
    }
  }
  entries.push_back({"MMCDATA", 2, 92, 1, 4000});
  for (const std::string& image : {withLayer, plain}) {
    SCOPED_TRACE(image);
    WriteOddTable(image, entries);
    const test::ToolResult r = RunTool(dir, {"pit", image, "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Json rows = ParseJson(r.out);
    ASSERT_EQ(rows.size(), entries.size());
    std::size_t part = 0;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const Json& row = rows[k];
      const OddEntry& o = entries[k];
      SCOPED_TRACE(o.Name);
      EXPECT_EQ(row["position"], k + 1);
      EXPECT_EQ(row["name"], o.Name) << "cut at its NUL";
      EXPECT_EQ(row["device_type"], o.Device);
      EXPECT_EQ(row["identifier"], o.Identifier);
      EXPECT_EQ(row["attributes"], o.Attributes);
      EXPECT_EQ(row["stl"], (o.Attributes & 2) != 0);
      EXPECT_EQ(row["binary_type"], k % 2);
      EXPECT_EQ(row["block_size_or_offset"], 256);
      EXPECT_EQ(row["file_offset"], 0x00410042 + k);
      EXPECT_EQ(row["file_size"], 0xDEADBEEFu);
      EXPECT_EQ(row["flash_file"], "file.bin");
      EXPECT_EQ(row["stored_blocks"], o.Blocks);
      const bool inDump = o.Device == 0 && o.Blocks != 0;
      EXPECT_EQ(row["in_dump"], inDump);
      if (!inDump) {
        EXPECT_EQ(row["first_block"], nullptr);
        EXPECT_EQ(row["holds"], "absent");
        EXPECT_NE(row["not_in_dump"].get<std::string>().find(o.Device != 0 ? "not on this chip" : "block count 0"),
                  std::string::npos)
            << row["not_in_dump"];
        continue;
      }
      const Part& p = kParts[part++];
      EXPECT_EQ(row["first_block"], p.First);
      EXPECT_EQ(row["blocks"], p.Blocks);
      EXPECT_EQ(row["first_block_from"], image == withLayer ? "partition_info" : "running_sum");
    }
    EXPECT_EQ(rows[1]["holds"], "pit");
    const test::ToolResult text = RunTool(dir, {"pit", image});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("header words 0xABAAA9A8 0xAFAEADAC 0xB1B0"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  4 HIDDEN: on device File/FAT, not on this chip"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("  5 : block count 0"), std::string::npos) << text.out;
    // An entry not on this chip has nothing to write or rebuild.
    const std::string out = dir.File("hidden.bin");
    for (const char* command : {"volume", "stl"}) {
      std::vector<std::string> args{command, image, "--row", "HIDDEN"};
      if (std::string(command) == "volume") args.insert(args.end(), {"-o", out});
      const test::ToolResult r2 = RunTool(dir, args);
      EXPECT_EQ(r2.exitCode, 1) << command;
      EXPECT_NE(r2.err.find("partition 4 \"HIDDEN\" is not in this dump: on device File/FAT"), std::string::npos)
          << r2.err;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  // No table at all: exit 1 and why.
  test::WriteBytesAt(plain, kBlock, {0, 0, 0, 0});
  const test::ToolResult none = RunTool(dir, {"pit", plain, "--json"});
  EXPECT_EQ(none.exitCode, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("block 1 holds no partition table"), std::string::npos) << none.err;
}

// ---- STL volumes ----

// Takes pages without keeping them: the writer's expected volume is what is wanted.
class DiscardUnits : public phone::PageSink {
 public:
  explicit DiscardUnits(std::uint32_t units) : units_(units) {}
  std::uint32_t Blocks() const override { return units_; }
  bool WritePage(std::uint32_t, std::uint32_t, const std::uint8_t*, const std::uint8_t*, std::string&) override {
    return true;
  }

 private:
  std::uint32_t units_;
};

// Contents of `bytes` bytes that start, with `fat`, with a FAT12 boot sector labelled EFS
// (at most 8 MiB), so that the volume holds a file system.
std::vector<std::uint8_t> Contents(std::size_t bytes, bool fat) {
  std::vector<std::uint8_t> v(bytes);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(i * 7 + i / 4093);
  if (!fat) return v;
  std::vector<std::uint8_t> s(512, 0);
  const auto put16 = [&](std::size_t at, std::uint32_t x) {
    s[at] = static_cast<std::uint8_t>(x);
    s[at + 1] = static_cast<std::uint8_t>(x >> 8);
  };
  put16(11, 512);
  s[13] = 4;     // sectors per cluster
  put16(14, 1);  // reserved
  s[16] = 2;     // FATs
  put16(17, 512);
  put16(19, static_cast<std::uint32_t>(bytes / 512));
  put16(22, 8);
  s[38] = 0x29;
  std::memcpy(&s[43], "EFS        ", 11);
  s[510] = 0x55;
  s[511] = 0xAA;
  std::copy(s.begin(), s.end(), v.begin());
  return v;
}

struct StlCase {
  const char* Name;
  const char* Partition;
  std::size_t ContentBytes;
  const char* Header;        // --stl-header
  std::uint32_t Rewrites;    // --stl-rewrites N:Seed
  std::uint32_t Seed;
  std::vector<std::uint32_t> Remaps;
  bool Large;                // over 200 MiB: the normal build only
};

class StlVolumes : public ::testing::TestWithParam<StlCase> {};

// Volumes of several sizes, fresh and rewritten, with blocks replaced under them (the
// root block among them, and the last unit of a partition): `volume` gives exactly the
// bytes last written to each logical sector, `stl --json` says what the rebuild took, and
// `pit` says that it rebuilds and how large it is.
TEST_P(StlVolumes, VolumeGivesTheBytesLastWritten) {
  const StlCase& c = GetParam();
#ifdef ORVELLA_SLOW_BUILD
  if (c.Large) GTEST_SKIP() << "volumes over 200 MiB are tested in the normal build only";
#endif
  test::TempDir dir;
  const Part& p = PartNamed(c.Partition);
  const bool fat = std::string(c.Partition) == "EFS";
  std::vector<std::uint8_t> content = Contents(c.ContentBytes, fat);
  const std::string contentFile = dir.File("content.img");
  { std::ofstream(contentFile, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                       static_cast<std::streamsize>(content.size())); }
  std::vector<std::string> extra{"--stl", std::string(c.Partition) + "=" + contentFile, "--stl-header", c.Header};
  if (c.Rewrites) extra.insert(extra.end(), {"--stl-rewrites", std::to_string(c.Rewrites) + ":" + std::to_string(c.Seed)});
  if (!c.Remaps.empty()) extra.insert(extra.end(), {"--remap", Joined(c.Remaps)});
  const std::string dump = MakeDump(dir, "dump.bin", "zero", extra);

  // The bytes a reader must give: the writer's own account of what it wrote last.
  phone::StlWriteOptions options;
  std::string error;
  ASSERT_TRUE(phone::ParseStlHeaderLayout(c.Header, options.Layout, error)) << error;
  options.RewritePages = c.Rewrites;
  options.Seed = c.Seed;
  DiscardUnits units(p.Blocks);
  phone::StlWriteResult result;
  ASSERT_TRUE(phone::WriteStlVolume(units, content, options, result, error)) << error;
  std::set<std::uint32_t> fromLogs;
  for (const phone::StlWrittenPage& w : result.Pages)
    if (w.Kind == phone::StlPageKind::LogRecorded || w.Kind == phone::StlPageKind::LogReplayed) fromLogs.insert(w.Lpn);

  const std::string out = dir.File("volume.img");
  const test::ToolResult v = RunTool(dir, {"volume", dump, "--row", c.Partition, "-o", out});
  ASSERT_EQ(v.exitCode, 0) << v.err;
  EXPECT_NE(v.out.find("(STL volume of " + std::to_string(result.Geometry.UserBlocks * 512) + " sectors"),
            std::string::npos)
      << v.out;
  ExpectFileBytes(out, result.Geometry.VolumeBytes(), [&](std::uint64_t at, std::uint8_t* want, std::size_t n) {
    std::memcpy(want, content.data() + at, n);
  });

  const test::ToolResult s = RunTool(dir, {"stl", dump, "--row", c.Partition, "--json"});
  ASSERT_EQ(s.exitCode, 0) << s.err;
  const Json j = ParseJson(s.out);
  EXPECT_TRUE(j["rebuilt"].get<bool>());
  EXPECT_EQ(j["refusal"], nullptr);
  EXPECT_EQ(j["volume_sectors"], result.Geometry.UserBlocks * 512);
  EXPECT_EQ(j["header_layout"], c.Header);
  EXPECT_EQ(j["log_pages_used"], fromLogs.size());
  EXPECT_EQ(j["units"], p.Blocks);
  ASSERT_EQ(j["root_blocks"].size(), 2u);
  EXPECT_TRUE(j["root_blocks"][0]["valid"].get<bool>());
  EXPECT_EQ(j["root_blocks"][0]["vbn"], 0);
  EXPECT_EQ(j["logs"].size(), result.RewrittenBlocks);
  // A rewritten volume ends in a write that never finished: a finding with its place.
  const auto unfinished = std::find_if(j["findings"].begin(), j["findings"].end(), [](const Json& f) {
    return f["text"].get<std::string>().find("never ended") != std::string::npos;
  });
  ASSERT_EQ(unfinished != j["findings"].end(), c.Rewrites > 0) << j["findings"].dump();
  if (c.Rewrites > 0) {
    EXPECT_EQ((*unfinished)["kind"], "log");
    EXPECT_TRUE(unfinished->contains("block") && unfinished->contains("page")) << unfinished->dump();
  }

  const test::ToolResult pit = RunTool(dir, {"pit", dump});
  ASSERT_EQ(pit.exitCode, 0) << pit.err;
  const std::string holds = fat && !fromLogs.count(0)                  ? "fat12 \"EFS\""
                            : c.ContentBytes == 0 && fromLogs.empty() ? "erased"
                                                                      : "unknown";
  EXPECT_NE(pit.out.find(std::string(c.Partition) + ": rebuilds: " + std::to_string(result.Geometry.VolumeBytes()) +
                         " bytes (" + std::to_string(result.Geometry.UserBlocks * 512) + " sectors), holds " + holds),
            std::string::npos)
      << pit.out;
}

INSTANTIATE_TEST_SUITE_P(
    Dumps, StlVolumes,
    ::testing::Values(StlCase{"EfsFreshRootBlockReplaced", "EFS", 3000000, "old", 0, 1, {2, 20}, false},
                      StlCase{"EfsRewritten", "EFS", 6553600, "old", 90, 4, {3, 41}, false},
                      StlCase{"ParamNewLayoutEmpty", "PARAM", 0, "new:5,0,1", 30, 7, {71}, false},
                      StlCase{"CacheNewLayoutAlignedRewritten", "CACHE", 20000000, "new:124,3,1,a", 200, 2,
                              {1814, 1900, 1953}, false},
                      StlCase{"FactoryfsOver200MiB", "FACTORYFS", 250u << 20, "old", 300, 9, {132, 700, 1277}, true}),
    [](const auto& p) { return std::string(p.param.Name); });

// A volume whose root page is damaged is refused: `stl` says why and exits 1, `volume`
// writes nothing, `pit` lists the refusal; a raw partition asked for as a volume is no
// STL volume.
TEST(StlVolumes, ARefusedVolumeWritesNothingAndExitsOne) {
  test::TempDir dir;
  const std::string contentFile = dir.File("content.img");
  { std::ofstream(contentFile, std::ios::binary) << std::string(100000, 'x'); }
  const std::string dump = MakeDump(dir, "dump.bin", "zero", {"--stl", "EFS=" + contentFile, "--remap", "2"});
  // EFS's unit 0, the root block, was replaced: its root page is in reservoir block 2004.
  test::WriteBytesAt(dump, 2004 * kBlock + 100, {0x5A});

  const test::ToolResult s = RunTool(dir, {"stl", dump, "--row", "EFS", "--json"});
  EXPECT_EQ(s.exitCode, 1) << s.err;
  const Json j = ParseJson(s.out);
  EXPECT_FALSE(j["rebuilt"].get<bool>());
  EXPECT_NE(j["refusal"].get<std::string>().find("no root page passes its checks"), std::string::npos) << j.dump();
  ASSERT_FALSE(j["findings"].empty());
  EXPECT_EQ(j["findings"][0]["kind"], "root");
  const test::ToolResult text = RunTool(dir, {"stl", dump, "--row", "3"});
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_NE(text.out.find("refused: no root page passes its checks"), std::string::npos) << text.out;

  for (const std::vector<std::string>& layer : {std::vector<std::string>{}, std::vector<std::string>{"--layer", "stl"}}) {
    const std::string out = dir.File("efs.img");
    std::vector<std::string> args{"volume", dump, "--row", "EFS", "-o", out};
    args.insert(args.end(), layer.begin(), layer.end());
    const test::ToolResult v = RunTool(dir, args);
    EXPECT_EQ(v.exitCode, 1);
    EXPECT_EQ(v.out, "");
    EXPECT_NE(v.err.find("no root page passes its checks (VBN 0:"), std::string::npos) << v.err;
    EXPECT_NE(v.err.find("; nothing written"), std::string::npos) << v.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(out + ".part"));
  }
  // Its blocks can still be had as the phone's bmlN reads them.
  EXPECT_EQ(RunTool(dir, {"volume", dump, "--row", "EFS", "-o", dir.File("efs.bml"), "--layer", "bml"}).exitCode, 0);

  const test::ToolResult raw = RunTool(dir, {"volume", dump, "--row", "KERNEL", "-o", dir.File("k.img"), "--layer", "stl"});
  EXPECT_EQ(raw.exitCode, 1);
  EXPECT_NE(raw.err.find("not an STL volume"), std::string::npos) << raw.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("k.img")));
  EXPECT_EQ(RunTool(dir, {"stl", dump, "--row", "KERNEL"}).exitCode, 1);

  const test::ToolResult pit = RunTool(dir, {"pit", dump});
  EXPECT_NE(pit.out.find("  3 EFS: refused: no root page passes its checks"), std::string::npos) << pit.out;
  EXPECT_EQ(RunTool(dir, {"volume", dump, "--row", "EFS", "-o", dir.File("x"), "--layer", "ext4"}).exitCode, 2);
}

// ---- mkimage's phone options, refused ----

TEST(MkImageBml, WrongUsageNamesTheReasonAndWritesNothing) {
  test::TempDir dir;
  const std::string content = dir.File("efs.img");
  { std::ofstream(content, std::ios::binary) << std::string(7 << 20, 'e'); }  // 7 MiB: more than EFS holds
  const std::string small = dir.File("small.img");
  { std::ofstream(small, std::ios::binary) << "x"; }
  const std::string t = kTable;
  const struct {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
    const char* Says;
  } cases[] = {
      {"ChipOfAnotherSize", {"--chip-mib", "256", "--table", "A:1,B:rest", "--bml"}, 2, "not on one of 256 MiB"},
      {"RemapPastTheTable", {"--table", t, "--bml", "--remap", "5,2004"}, 2, "only blocks below the reservoir"},
      {"RemapOfTheTablesBlock", {"--table", t, "--bml", "--remap", "1"}, 2, "read where they lie"},
      {"RemapNotANumber", {"--table", t, "--bml", "--remap", "5,x"}, 2, "--remap takes block numbers"},
      {"CodesOverTheDriversBytes", {"--table", t, "--bml", "--ecc", "smallpage-normal"}, 2, "spare bytes 0-5"},
      {"RemapWithoutBml", {"--table", t, "--remap", "5"}, 2, "give --bml"},
      {"StlWithoutBml", {"--table", t, "--stl", "EFS=" + small}, 2, "give --bml"},
      {"StlOfNoPartition", {"--table", t, "--bml", "--stl", "EFZ=" + small}, 2, "no partition of the table is named \"EFZ\""},
      {"StlTwice", {"--table", t, "--bml", "--stl", "EFS=" + small + ",EFS=" + small}, 2, "names partition EFS twice"},
      {"StlWithoutFile", {"--table", t, "--bml", "--stl", "EFS"}, 2, "--stl takes NAME=FILE"},
      {"FileLargerThanTheVolume", {"--table", t, "--bml", "--stl", "EFS=" + content}, 2,
       "do not fit in the volume's 6553600 bytes"},
      {"StlPartitionTooSmall", {"--table", t, "--bml", "--stl", "SBL=" + small}, 2, "units hold no data block"},
      {"HeaderLayoutUnknown", {"--table", t, "--bml", "--stl", "EFS=" + small, "--stl-header", "newer"}, 2,
       "is not a header layout"},
      {"HeaderLayoutThatDoesNotFit", {"--table", t, "--bml", "--stl", "EFS=" + small, "--stl-header", "new:2048,0,1"}, 2,
       "pages do not fit exactly"},
      {"HeaderWithoutVolume", {"--table", t, "--bml", "--stl-header", "new:25,0,1"}, 2, "give --stl NAME=FILE"},
      {"TooManyRewrites", {"--table", t, "--bml", "--stl", "EFS=" + small, "--stl-rewrites", "385"}, 2,
       "385 rewritten pages do not fit: at most 384"},
      {"RewritesNotANumber", {"--table", t, "--bml", "--stl", "EFS=" + small, "--stl-rewrites", "5:"}, 2,
       "--stl-rewrites takes N or N:SEED"},
      {"MissingContents", {"--table", t, "--bml", "--stl", "EFS=" + dir.File("none.img")}, 1, "none.img"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string out = dir.File(std::string(c.Name) + ".bin");
    std::vector<std::string> args{"mkimage", out};
    if (std::find(c.Args.begin(), c.Args.end(), "--chip-mib") == c.Args.end()) args.insert(args.end(), {"--chip-mib", "512"});
    args.insert(args.end(), c.Args.begin(), c.Args.end());
    const test::ToolResult r = RunTool(dir, args);
    EXPECT_EQ(r.exitCode, c.Status) << r.err;
    EXPECT_NE(r.err.find(c.Says), std::string::npos) << r.err;
    EXPECT_EQ(test::Lines(r.err).size(), 1u) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(std::filesystem::exists(out + ".part"));
  }
  // The contents of a volume are an input: never the output, however spelled.
  const test::ToolResult self =
      RunTool(dir, {"mkimage", dir.File("./small.img"), "--chip-mib", "512", "--table", t, "--bml", "--stl",
                    "EFS=" + small, "--force"});
  EXPECT_EQ(self.exitCode, 1);
  EXPECT_NE(self.err.find("a file this command reads"), std::string::npos) << self.err;
  EXPECT_EQ(test::ReadWholeFile(small), "x");
}

// ---- check on a dump with the layer ----

// check lists every replaced block with its replacement, and judges bad blocks by the
// phone driver's rule beside its own: a mark word the driver still counts as good (more
// 1 bits than 0 bits) is bad by the check's rule only, and said so.
TEST(CheckOnPhoneDumps, ListsTheReplacementsAndWhereTheDriversRuleDisagrees) {
  test::TempDir dir;
  const std::string dump = MakeDump(dir, "dump.bin", "zero", {"--remap", "20,80", "--bad-blocks", "300"});
  test::WriteBytesAt(dump, kChipMain + 30 * 64 * 128, {0xFE, 0xFF});  // block 30, page 0: one bit cleared
  const test::ToolResult text = RunTool(dir, {"check", dump});
  EXPECT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("Replaced by the phone's bad-block layer: 2: 0x0014 by 0x07D4 (EFS), 0x0050 by 0x07D5 (KERNEL)\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("Bad blocks by the phone driver's rule: 3: 0x0014, 0x0050, 0x012C\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("disagree on 1 block: 0x001E (bad by the check's rule only; marks 0xFFFE, 0xFFFF)"),
            std::string::npos)
      << text.out;

  const test::ToolResult json = RunTool(dir, {"check", dump, "--json"});
  const Json j = ParseJson(json.out);
  const Json& layer = j["bad_block_layer"];
  EXPECT_EQ(layer["remaps"], Json::parse(R"([{"block":20,"replacement":2004,"partition":"EFS"},
                                             {"block":80,"replacement":2005,"partition":"KERNEL"}])"));
  EXPECT_EQ(layer["driver_bad_blocks"], Json::parse("[20,80,300]"));
  EXPECT_EQ(layer["disagree"], Json::parse(R"([{"block":30,"by_check":true,"by_driver":false,"marks":[65534,65535]}])"));
  EXPECT_EQ(j["bad_blocks"], Json::parse("[20,30,80,300]"));

  // A dump without the layer carries no driver's marks to judge.
  const std::string plain = dir.File("plain.bin");
  ASSERT_NO_FATAL_FAILURE(test::MakeImage(plain, {{"BOOT", 2}, {"DATA", 0xFFFFFFFFu}}));
  const test::ToolResult p = RunTool(dir, {"check", plain, "--json"});
  EXPECT_EQ(ParseJson(p.out)["bad_block_layer"], nullptr);
  EXPECT_EQ(RunTool(dir, {"check", plain}).out.find("phone"), std::string::npos);
}

}  // namespace
}  // namespace orvella
