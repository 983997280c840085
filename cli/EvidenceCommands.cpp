// hash, diff and report: the evidence commands. Each reads its images once, through
// the core's scan, with the whole-file digests on a second thread where there is one.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/ConsolePort.h"
#include "cli/DumpInput.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "cli/PhoneReport.h"
#include "cli/ThreadLanes.h"
#include "cli/VolumeFiles.h"
#include "evidence/ErasedBlocks.h"
#include "evidence/ImageDiff.h"
#include "evidence/ImageHash.h"
#include "evidence/Report.h"
#include "files/FileIO.h"
#include "image/NandHealth.h"

namespace orvella::cli {

namespace {

using Json = nlohmann::ordered_json;

bool Open(const char* command, const std::string& path, EvidenceImage& image) {
  std::string error;
  if (OpenEvidenceImage(path, image, error)) return true;
  std::fprintf(stderr, "orvella: %s: %s\n", command, error.c_str());
  return false;
}

void NoteTable(const char* command, const EvidenceImage& image, const char* consequence) {
  if (!image.HasTable())
    std::fprintf(stderr, "orvella: %s: \"%s\" has no usable partition table (%s); %s\n", command,
                 image.Path.c_str(), image.TableProblem.c_str(), consequence);
}

bool Scan(const char* label, const ScanPlan& plan, std::string& error) {
  ConsolePort port(label);
  const std::unique_ptr<LaneRunner> runner =
      plan.Lane0.empty() ? std::make_unique<LaneRunner>() : MakeLaneRunner();
  const bool ok = ScanImages(plan, *runner, port, error);
  port.EndProgress();
  return ok;
}

// Fails when standard output could not take everything (a full disk, a closed pipe).
int Flushed(const char* command, int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "orvella: %s: cannot write to standard output\n", command);
  return status == 0 ? 1 : status;
}

std::string DumpJson(const Json& json) {
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Hashes `image` (with `lane1Extra` taking the chunks beside the range digests).
bool HashImage(const char* command, const EvidenceImage& image, const EvidenceImage* other,
               const std::vector<DigestAlgorithm>& algorithms, ImageHasher& hasher,
               std::vector<ChunkSink*> lane1Extra) {
  std::string error;
  if (hasher.Start(image, algorithms, error)) {
    ScanPlan plan;
    plan.A = &image;
    plan.B = other;
    plan.Lane0 = {&hasher.FileLane()};
    plan.Lane1 = {&hasher.RangeLane()};
    plan.Lane1.insert(plan.Lane1.end(), lane1Extra.begin(), lane1Extra.end());
    if (Scan(command, plan, error)) return true;
  }
  std::fprintf(stderr, "orvella: %s: %s\n", command, error.c_str());
  return false;
}

Json DigestObject(const ImageDigests& d, const DigestValues& values) {
  if (values.empty()) return nullptr;
  Json object = Json::object();
  for (std::size_t i = 0; i < d.Algorithms.size() && i < values.size(); ++i)
    object[std::string(DigestName(d.Algorithms[i]))] = values[i];
  return object;
}

void PrintDigests(const std::string& path, std::uint64_t size, const ImageDigests& d) {
  std::printf("image %s\nsize %llu bytes\n", path.c_str(), static_cast<unsigned long long>(size));
  const auto lines = [&](const DigestValues& values, const std::string& what) {
    for (std::size_t i = 0; i < values.size(); ++i)
      std::printf("%s  %s  %s\n", values[i].c_str(), std::string(DigestName(d.Algorithms[i])).c_str(),
                  what.c_str());
  };
  lines(d.File, "file");
  lines(d.Main, "main area");
  lines(d.Spare, "spare area");
  for (const PartitionDigests& p : d.Partitions) {
    const std::string name = "partition " + std::to_string(p.Position) + " \"" + p.Name + "\"";
    if (!p.Inside) {
      std::printf("-  -  %s: past the image, no digests\n", name.c_str());
      continue;
    }
    lines(p.Main, name + " main data");
    lines(p.Spare, name + " spare data");
  }
}

Json RegionJson(const RegionDiff& r) {
  Json j = Json::object();
  j["identical"] = r.Identical();
  j["main_blocks_differ"] = r.MainBlocks;
  j["main_sectors_differ"] = r.MainSectors;
  j["spare_blocks_differ"] = r.SpareBlocks;
  j["spare_sectors_differ"] = r.SpareSectors;
  j["blocks_in_one_image_only"] = r.OneSidedBlocks;
  j["first_offsets"] = r.FirstOffsets;
  return j;
}

void PrintComparisonJson(const ImageComparison& c, const std::string& notWholeA,
                         const std::string& notWholeB) {
  Json j = Json::object();
  j["identical"] = c.Identical();
  j["size_a"] = c.SizeA;
  j["size_b"] = c.SizeB;
  j["tables_equal"] = c.TablesEqual;
  j["table_differences"] = c.TableDifferences;
  j["partitions_from"] = c.PartitionsFrom ? Json(std::string(1, c.PartitionsFrom)) : Json(nullptr);
  j["main_only"] = c.MainOnly;
  Json parts = Json::array();
  for (const PartitionDiff& p : c.Partitions) {
    Json e = Json::object();
    e["position"] = p.Position;
    e["name"] = p.Name;
    e.update(RegionJson(p.Diff));
    parts.push_back(std::move(e));
  }
  j["partitions"] = std::move(parts);
  Json outside = RegionJson(c.Outside);
  outside["trailing_bytes_differ"] = c.Outside.TrailingBytes;
  j["outside"] = std::move(outside);
  j["not_whole_a"] = notWholeA.empty() ? Json(nullptr) : Json(notWholeA);
  j["not_whole_b"] = notWholeB.empty() ? Json(nullptr) : Json(notWholeB);
  std::printf("%s\n", DumpJson(j).c_str());
}

void PrintComparison(const EvidenceImage& a, const EvidenceImage& b, const ImageComparison& c) {
  const auto describe = [](const char* which, const EvidenceImage& image) {
    std::printf("%s: %s (%llu bytes, %u block%s)\n", which, image.Path.c_str(),
                static_cast<unsigned long long>(image.Layout.FileSize), image.Layout.TotalBlocks,
                image.Layout.TotalBlocks == 1 ? "" : "s");
  };
  describe("A", a);
  describe("B", b);
  if (c.SizeA != c.SizeB)
    std::printf("sizes differ: A has %llu bytes, B %llu\n", static_cast<unsigned long long>(c.SizeA),
                static_cast<unsigned long long>(c.SizeB));
  if (!c.TablesEqual) {
    std::printf("partition tables differ:\n");
    for (const auto& line : c.TableDifferences) std::printf("  %s\n", line.c_str());
  } else if (!c.PartitionsFrom) {
    std::printf("neither image has a usable partition table\n");
  }
  if (c.PartitionsFrom && (!c.TablesEqual || c.PartitionsFrom != 'A'))
    std::printf("partitions as %c's table places them:\n", c.PartitionsFrom);
  const auto region = [&](const std::string& name, const RegionDiff& r) {
    std::printf("%s: %s", name.c_str(), DescribeRegion(r, c.MainOnly).c_str());
    if (!r.FirstOffsets.empty()) std::printf("; first at %s", OffsetList(r.FirstOffsets).c_str());
    std::printf("\n");
  };
  for (const PartitionDiff& p : c.Partitions)
    region("partition " + std::to_string(p.Position) + " \"" + p.Name + "\"", p.Diff);
  region("outside every partition", c.Outside);
  std::printf("%s\n", c.Identical() ? "the images are identical" : "the images differ");
}

bool ParseAlgorithms(const std::string& text, std::vector<DigestAlgorithm>& algorithms,
                     std::string& problem) {
  if (ParseDigestList(text, algorithms, problem)) return true;
  problem = "--algo: " + problem;
  return false;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  char buf[32];
  if (!UtcTime(now, utc) || !std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &utc))
    return "";
  return buf;
}

// Writes the report beside its final name first, so that no half-written file ever
// carries that name.
bool WriteReport(const std::string& path, const std::string& html, std::string& error) {
  return OutputGuard::Write(
      path, [&html](File& f, std::string& e) { return f.WriteAll(html.data(), html.size(), e); }, error);
}

// Runs the NAND health check over the image for the report. False only when the image
// cannot be checked at all; a check that found no ECC layout adds nothing to the report.
bool AddNandHealth(const std::string& path, ReportInput& input) {
  ConsolePort port("report: ECC check");
  NandCheckOptions options;
  options.Progress = [&port](std::uint64_t done, std::uint64_t total) {
    port.GaugeSetMax(static_cast<std::int64_t>(total));
    port.GaugeSetPos(static_cast<std::int64_t>(done));
    port.ProcessMessages();
  };
  // Reading the next chunk beside checking this one, where a second thread is to be had.
  const std::unique_ptr<LaneRunner> lanes = MakeLaneRunner();
  options.SideBySide = SideBySide(*lanes);
  NandHealthReport check;
  std::string error;
  const bool ok = CheckNandHealth(path, options, check, error);
  port.EndProgress();
  if (!ok) {
    std::fprintf(stderr, "orvella: report: %s\n", error.c_str());
    return false;
  }
  if (!check.Complete)
    std::fprintf(stderr, "orvella: report: the ECC check is partial: %s\n", check.NotRead.c_str());
  if (!AddHealth(check, input))
    std::fprintf(stderr, "orvella: report: no known ECC layout matches; the map shows no NAND health\n");
  return true;
}

}  // namespace

int RunHash(const HashOptions& o) {
  const std::string& image = o.Image;
  const bool json = o.Json;
  std::string problem;
  std::vector<DigestAlgorithm> algorithms;
  if (!ParseAlgorithms(o.Algo, algorithms, problem)) return UsageProblem("hash", problem);

  const std::string notWhole = NotWholeText(NoteNotWhole("hash", image));
  NoteOtherFormat("hash", image);
  EvidenceImage evidence;
  if (!Open("hash", image, evidence)) return 1;
  NoteTable("hash", evidence, "only the whole file and its main and spare areas are hashed");
  ImageHasher hasher;
  ImageDigests digests;
  std::string error;
  if (!HashImage("hash", evidence, nullptr, algorithms, hasher, {})) return 1;
  if (!hasher.Finish(digests, error)) {
    std::fprintf(stderr, "orvella: hash: %s\n", error.c_str());
    return 1;
  }
  // A partition the table places past the image cannot be hashed as it would be
  // exported: every other digest is still given, and the status says one is missing.
  int status = 0;
  for (const PartitionDigests& p : digests.Partitions)
    if (!p.Inside) {
      std::fprintf(stderr, "orvella: hash: %s; it has no digests\n", p.Beyond.c_str());
      status = 1;
    }

  if (!json) {
    PrintDigests(image, evidence.Layout.FileSize, digests);
    return Flushed("hash", status);
  }
  Json j = Json::object();
  j["image"] = image;
  j["size"] = evidence.Layout.FileSize;
  j["digests"] = {{"file", DigestObject(digests, digests.File)},
                  {"main", DigestObject(digests, digests.Main)},
                  {"spare", DigestObject(digests, digests.Spare)}};
  Json parts = Json::array();
  for (const PartitionDigests& p : digests.Partitions)
    parts.push_back({{"position", p.Position},
                     {"name", p.Name},
                     {"main", DigestObject(digests, p.Main)},
                     {"spare", DigestObject(digests, p.Spare)}});
  j["partitions"] = std::move(parts);
  if (!evidence.HasTable()) j["table_problem"] = evidence.TableProblem;
  j["not_whole"] = notWhole.empty() ? Json(nullptr) : Json(notWhole);
  std::printf("%s\n", DumpJson(j).c_str());
  return Flushed("hash", status);
}

int RunDiff(const DiffOptions& o) {
  const std::vector<std::string> images{o.A, o.B};
  const bool json = o.Json, mainOnly = o.MainOnly;
  const std::string notWholeA = NotWholeText(NoteNotWhole("diff", o.A));
  const std::string notWholeB = NotWholeText(NoteNotWhole("diff", o.B));
  for (const std::string& image : images) NoteOtherFormat("diff", image);
  constexpr int kTrouble = 2;
  EvidenceImage a, b;
  if (!Open("diff", images[0], a) || !Open("diff", images[1], b)) return kTrouble;
  for (const EvidenceImage* image : {&a, &b})
    if (image->Layout.TotalBlocks == 0) {
      std::fprintf(stderr,
                   "orvella: diff: \"%s\" is not a full image: its %llu bytes do not hold one "
                   "erase block with its spare data (%u bytes)\n",
                   image->Path.c_str(), static_cast<unsigned long long>(image->Layout.FileSize),
                   kBlockSize / kUnitMainBytes * kUnitBytes);
      return kTrouble;
    }
  ImageDiffer differ(a, b, mainOnly);
  ScanPlan plan;
  plan.A = &a;
  plan.B = &b;
  plan.MainOnly = mainOnly;
  plan.Lane1 = {&differ};
  std::string error;
  if (!Scan("diff", plan, error)) {
    std::fprintf(stderr, "orvella: diff: %s\n", error.c_str());
    return kTrouble;
  }
  const ImageComparison result = differ.Finish();
  if (json) PrintComparisonJson(result, notWholeA, notWholeB); else PrintComparison(a, b, result);
  if (Flushed("diff", 0) != 0) return kTrouble;
  return result.Identical() ? 0 : 1;
}

int RunReport(const ReportOptions& o) {
  const std::string& image = o.Image;
  const std::string& out = o.Out;
  const std::string& compare = o.Compare;
  std::string problem;
  std::vector<DigestAlgorithm> algorithms;
  if (!ParseAlgorithms(o.Algo, algorithms, problem)) return UsageProblem("report", problem);

  // The report is the one file written, and only after every read: refused before them.
  OutputGuard guard("report", o.Force);
  guard.Input(image);
  if (!compare.empty()) guard.Input(compare);
  if (!guard.Allows(out)) return 1;

  NoteNotWhole("report", image);
  NoteOtherFormat("report", image);
  EvidenceImage a, b;
  const bool comparing = !compare.empty();
  if (!Open("report", image, a) || (comparing && !Open("report", compare, b))) return 1;
  NoteTable("report", a, "the report shows no partitions");

  ImageHasher hasher;
  ErasedBlocks erased(a.Layout.TotalBlocks);
  std::unique_ptr<ImageDiffer> differ;
  std::vector<ChunkSink*> extra{&erased};
  if (comparing) {
    differ = std::make_unique<ImageDiffer>(a, b, false);
    extra.push_back(differ.get());
  }
  if (!HashImage("report", a, comparing ? &b : nullptr, algorithms, hasher, extra)) return 1;
  ImageDigests digests;
  std::string error;
  if (!hasher.Finish(digests, error)) {
    std::fprintf(stderr, "orvella: report: %s\n", error.c_str());
    return 1;
  }
  ImageComparison comparison;
  if (differ) comparison = differ->Finish();

  ReportInput input;
  input.Image = &a;
  input.Digests = &digests;
  if (comparing) {
    input.Compared = &b;
    input.Comparison = &comparison;
  }
  input.Map = MapInputOf(a, erased.Erased(), comparing ? &comparison : nullptr);
  if (!AddNandHealth(image, input)) return 1;
  AddPhoneView(image, input);
  input.EfsFiles = EfsFilesOfDump(image);
  input.Footer = std::string("Made by orvella ") + ORVELLA_VERSION + " on " + UtcNow() + ".";
  if (!WriteReport(out, ReportHtml(input), error)) {
    std::fprintf(stderr, "orvella: report: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s\n", out.c_str());
  return Flushed("report", 0);
}

}  // namespace orvella::cli
