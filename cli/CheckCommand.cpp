#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/DumpInput.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "cli/Progress.h"
#include "cli/ThreadLanes.h"
#include "image/NandHealth.h"
#include "image/Notation.h"
#include "nand/SectorCheck.h"
#include "nand/SpareLayout.h"
#include "phone/Bml.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"

namespace orvella::cli {

namespace {

// Exit status bits, as a file system check gives them.
constexpr int kUncorrectableLeft = 4;
constexpr int kCannotRead = 8;
constexpr int kWrongUsage = 16;

// The text report lists this many bad blocks and uncorrectable sectors, then a count.
constexpr std::size_t kListedFindings = 100;

std::string Percent(double share) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f%%", share * 100.0);
  return buf;
}

template <typename T, typename Text>
std::string Listed(const std::vector<T>& items, Text textOf) {
  std::string line;
  for (std::size_t i = 0; i < items.size() && i < kListedFindings; ++i)
    line += (i ? ", " : "") + textOf(items[i]);
  if (items.size() > kListedFindings)
    line += ", and " + std::to_string(items.size() - kListedFindings) + " more";
  return line;
}

std::string CountsText(const NandCounts& c) {
  std::string t = std::to_string(c.Written()) + " written, " + std::to_string(c.Erased) +
                  " erased, " + std::to_string(c.Corrected) + " corrected, " +
                  std::to_string(c.CodeErrors) + " code errors, " +
                  std::to_string(c.Uncorrectable) + " uncorrectable";
  if (c.Unchecked) t += ", " + std::to_string(c.Unchecked) + " not checked";
  return t;
}

// A block on which the check's bad-block rule and the phone driver's disagree.
struct RuleDisagreement {
  std::uint32_t Block = 0;
  bool ByCheck = false, ByDriver = false;
  std::uint16_t Marks[2] = {0xFFFF, 0xFFFF};  // spare bytes 0-1 of pages 0 and 1
};

// What the phone's bad-block layer says of the dump's bad blocks, where the dump has it.
struct PhoneBadBlocks {
  bool Layer = false;  // the dump carries the layer, and with it the driver's marks
  std::vector<phone::BmlRemap> Remaps;
  std::vector<std::uint32_t> DriverBad;
  std::vector<RuleDisagreement> Disagree;
};

// Reads the layer and judges every block by the driver's rule: a block is bad only when the
// mark words of its pages 0 and 1 both have fewer 1 bits than 0 bits. Blocks whose marks
// the dump does not hold are left out.
PhoneBadBlocks ReadPhoneBadBlocks(const std::string& image, const std::vector<std::uint32_t>& checkBad) {
  PhoneBadBlocks p;
  phone::ImagePageSource chip;
  std::string error;
  if (!chip.Open(image, error)) return p;
  const phone::PhoneDump dump = phone::ReadPhoneDump(chip, false);
  if (dump.Bml.Structure == phone::BmlStructure::None) return p;
  p.Layer = true;
  p.Remaps = dump.Bml.Remaps;
  std::uint8_t spare[phone::kPageSpareBytes];
  for (std::uint32_t b = 0; b < chip.Blocks(); ++b) {
    std::uint16_t marks[2];
    bool read = true;
    for (std::uint32_t page = 0; page < 2 && read; ++page) {
      read = chip.ReadPage(b, page, nullptr, spare, error);
      marks[page] = static_cast<std::uint16_t>(spare[0] | spare[1] << 8);
    }
    if (!read) continue;
    const bool byDriver = phone::DriverBlockBad(marks[0], marks[1]);
    const bool byCheck = std::find(checkBad.begin(), checkBad.end(), b) != checkBad.end();
    if (byDriver) p.DriverBad.push_back(b);
    if (byDriver != byCheck) p.Disagree.push_back({b, byCheck, byDriver, {marks[0], marks[1]}});
  }
  return p;
}

std::string Hex4(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

void PrintPhoneText(const PhoneBadBlocks& p) {
  if (!p.Layer) return;
  std::printf("Replaced by the phone's bad-block layer: %zu%s%s\n", p.Remaps.size(), p.Remaps.empty() ? "" : ": ",
              Listed(p.Remaps, [](const phone::BmlRemap& m) {
                return BlockText(m.Block) + " by " + BlockText(m.Replacement) +
                       (m.Partition.empty() ? "" : " (" + m.Partition + ")");
              }).c_str());
  std::printf("Bad blocks by the phone driver's rule: %zu%s%s\n", p.DriverBad.size(), p.DriverBad.empty() ? "" : ": ",
              Listed(p.DriverBad, BlockText).c_str());
  if (p.Disagree.empty()) {
    std::printf("The check's rule and the driver's agree on every block\n");
    return;
  }
  std::printf("The check's rule and the driver's disagree on %zu block%s: %s\n", p.Disagree.size(),
              p.Disagree.size() == 1 ? "" : "s", Listed(p.Disagree, [](const RuleDisagreement& d) {
                return BlockText(d.Block) + " (bad by the " + (d.ByCheck ? "check's" : "driver's") + " rule only; marks " +
                       Hex4(d.Marks[0]) + ", " + Hex4(d.Marks[1]) + ")";
              }).c_str());
}

void PrintText(const NandHealthReport& r, const PhoneBadBlocks& phoneBad) {
  std::printf("Image: %s\n", r.Image.c_str());
  if (r.Layout.empty()) {
    std::printf("Layout: no known ECC layout matches (best: %s of %llu sampled sectors' codes "
                "agree); only erased and written sectors and bad blocks were checked\n",
                Percent(r.CleanShare).c_str(), static_cast<unsigned long long>(r.SampledSectors));
  } else {
    std::printf("Layout: %s (%s; %s of the written sectors sampled are clean)\n", r.Layout.c_str(),
                r.LayoutNamedByUser ? "named with --layout" : "found in the image",
                Percent(r.CleanShare).c_str());
  }
  std::printf("%s\n", NandTotalsLine(r).c_str());
  if (!r.Complete) std::printf("Not read: %s\n", r.NotRead.c_str());
  if (!r.TableProblem.empty()) std::printf("Partition table: %s\n", r.TableProblem.c_str());
  else if (!r.TableFound) std::printf("Partition table: none at block 1; no partition lines\n");
  for (const auto& p : r.Partitions)
    std::printf("Partition %u %s (blocks %s): %zu bad blocks, %s\n", p.Position, p.Name.c_str(),
                BlocksText(p.BegBlock, p.Blocks).c_str(), p.BadBlocks.size(), CountsText(p.Counts).c_str());
  if (r.TableFound && r.Outside.Sectors)
    std::printf("Outside every partition: %s\n", CountsText(r.Outside).c_str());
  std::printf("Bad blocks: %zu%s%s\n", r.BadBlocks.size(), r.BadBlocks.empty() ? "" : ": ",
              Listed(r.BadBlocks, BlockText).c_str());
  std::printf("Uncorrectable sectors: %zu%s%s\n", r.Uncorrectable.size(),
              r.Uncorrectable.empty() ? "" : ": ", Listed(r.Uncorrectable, SectorText).c_str());
  PrintPhoneText(phoneBad);
  if (!r.RepairedTo.empty())
    std::printf("Repaired image: %s (%llu sectors repaired, %zu uncorrectable copied as they are)\n",
                r.RepairedTo.c_str(), static_cast<unsigned long long>(r.RepairedSectors),
                r.Uncorrectable.size());
}

// Every count of a region; the kinds after "sectors" add up to it, written to all but erased.
nlohmann::ordered_json CountsJson(const NandCounts& c) {
  return {{"sectors", c.Sectors},       {"written", c.Written()},      {"erased", c.Erased},
          {"clean", c.Clean},           {"corrected", c.Corrected},    {"code_errors", c.CodeErrors},
          {"uncorrectable", c.Uncorrectable}, {"not_checked", c.Unchecked}};
}

// The complete lists can hold millions of sectors on a badly damaged dump: they are
// written number by number instead of as one document in memory.
template <typename List, typename Write>
void PrintList(const char* key, const List& list, Write write) {
  std::printf(",\"%s\":[", key);
  bool first = true;
  for (const auto& item : list) {
    if (!first) std::fputc(',', stdout);
    first = false;
    write(item);
  }
  std::fputc(']', stdout);
}

void PrintJson(const NandHealthReport& r, const PhoneBadBlocks& phoneBad) {
  using Json = nlohmann::ordered_json;
  const auto text = [](const Json& j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  };
  const auto number = [](std::uint64_t n) { std::printf("%llu", static_cast<unsigned long long>(n)); };
  const auto sector = [](std::uint64_t s) {
    std::printf("{\"sector\":%llu,\"offset\":%llu}", static_cast<unsigned long long>(s),
                static_cast<unsigned long long>(s * nand::kSectorBytes));
  };
  Json layout = {{"name", r.Layout.empty() ? Json(nullptr) : Json(r.Layout)},
                 {"chosen", r.LayoutNamedByUser ? "named" : "auto"},
                 {"clean_share", r.CleanShare}};
  Json sectors = {{"total", r.Total.Sectors}, {"erased", r.Total.Erased},
                  {"clean", r.Total.Clean}, {"corrected", r.Total.Corrected},
                  {"code_errors", r.Total.CodeErrors}, {"uncorrectable", r.Total.Uncorrectable},
                  {"not_checked", r.Total.Unchecked}};
  std::printf("{\"image\":%s,\"layout\":%s,\"sectors\":%s", text(Json(r.Image)).c_str(),
              text(layout).c_str(), text(sectors).c_str());
  PrintList("bad_blocks", r.BadBlocks, number);
  PrintList("corrections", r.Corrections, [](const SectorCorrection& c) {
    std::printf("{\"sector\":%llu,\"bit\":%u,\"offset\":%llu}", static_cast<unsigned long long>(c.Sector),
                static_cast<unsigned>(c.Bit), static_cast<unsigned long long>(c.Sector * nand::kSectorBytes));
  });
  PrintList("code_errors", r.CodeErrors, sector);
  PrintList("uncorrectable", r.Uncorrectable, sector);
  Json partitions = Json::array();
  std::vector<std::uint32_t> outsideBad = r.BadBlocks;
  for (const auto& p : r.Partitions) {
    Json row = {{"position", p.Position}, {"name", p.Name}, {"first_block", p.BegBlock},
                {"blocks", p.Blocks},     {"bad_blocks", p.BadBlocks}};
    row.update(CountsJson(p.Counts));
    partitions.push_back(std::move(row));
    std::erase_if(outsideBad, [&p](std::uint32_t b) { return b >= p.BegBlock && b - p.BegBlock < p.Blocks; });
  }
  std::printf(",\"partitions\":%s", text(partitions).c_str());
  Json outside = {{"blocks", r.Outside.Sectors / nand::kSectorsPerBlock}, {"bad_blocks", outsideBad}};
  outside.update(CountsJson(r.Outside));
  std::printf(",\"outside\":%s", text(outside).c_str());
  std::printf(",\"not_whole\":%s", r.NotWhole.empty() ? "null" : text(Json(r.NotWhole)).c_str());
  if (phoneBad.Layer) {
    Json remaps = Json::array();
    for (const phone::BmlRemap& m : phoneBad.Remaps)
      remaps.push_back({{"block", m.Block},
                        {"replacement", m.Replacement},
                        {"partition", m.Partition.empty() ? Json(nullptr) : Json(m.Partition)}});
    Json disagree = Json::array();
    for (const RuleDisagreement& d : phoneBad.Disagree)
      disagree.push_back({{"block", d.Block}, {"by_check", d.ByCheck}, {"by_driver", d.ByDriver},
                          {"marks", {d.Marks[0], d.Marks[1]}}});
    const Json layer = {{"remaps", remaps}, {"driver_bad_blocks", phoneBad.DriverBad}, {"disagree", disagree}};
    std::printf(",\"bad_block_layer\":%s", text(layer).c_str());
  } else {
    std::printf(",\"bad_block_layer\":null");
  }
  // Only a partial check or a repair adds to the fields above.
  if (!r.Complete) std::printf(",\"complete\":false,\"not_read\":%s", text(Json(r.NotRead)).c_str());
  if (!r.RepairedTo.empty()) std::printf(",\"repaired_to\":%s", text(Json(r.RepairedTo)).c_str());
  std::printf("}\n");
}

}  // namespace

int RunCheck(const CheckOptions& o) {
  const std::string& image = o.Image;
  const bool json = o.Json;
  NandCheckOptions options;
  options.Layout = o.Layout;
  options.RepairTo = o.Repair;
  if (options.Layout != "auto" && !nand::FindLayout(options.Layout)) {
    return UsageProblem("check", "unknown layout \"" + options.Layout + "\"; known:" +
                                     nand::KnownLayoutNames() + " (or auto)",
                        kWrongUsage);
  }
  DumpInput input;
  int status = 0;
  if (!ChooseDumpFormat("check", image, o.Format, o.Spare, kWrongUsage, kCannotRead, input, status))
    return status;
  options.Format = input.Format;
  options.SparePath = input.SparePath;
  if (input.Format == DumpFormat::Split && !options.RepairTo.empty())
    return UsageProblem("check", "--repair of a split dump would need a second output for its spare data; "
                                 "convert the dump to full first", kWrongUsage);
  if (!options.RepairTo.empty()) {
    OutputGuard guard("check", o.Force);
    guard.Input(image);
    if (!input.SparePath.empty()) guard.Input(input.SparePath);
    if (!guard.Allows(options.RepairTo)) return kCannotRead;  // the repair is not written
  }
  if (input.Format == DumpFormat::Main)
    std::fprintf(stderr, "orvella: check: a main dump holds no spare data: no codes to check and no "
                         "bad-block marks; only erased and written sectors are counted\n");

  TerminalProgress progress("Checking " + image);
  if (progress.Active()) options.Progress = progress.Callback();
  // The next chunk is read on a second thread while the present one is checked.
  const std::unique_ptr<LaneRunner> lanes = MakeLaneRunner();
  options.SideBySide = SideBySide(*lanes);
  NandHealthReport report;
  std::string error;
  const bool checked = CheckNandHealth(image, options, report, error);
  progress.End();
  if (!checked) {
    std::fprintf(stderr, "orvella: check: %s\n", error.c_str());
    return kCannotRead;
  }
  const PhoneBadBlocks phoneBad = ReadPhoneBadBlocks(image, report.BadBlocks);
  if (json) {
    PrintJson(report, phoneBad);
  } else {
    PrintText(report, phoneBad);
  }

  if (!report.Uncorrectable.empty()) status |= kUncorrectableLeft;
  if (!report.Complete) {
    std::fprintf(stderr, "orvella: check: not read: %s\n", report.NotRead.c_str());
    status |= kCannotRead;
  } else if (!report.NotWhole.empty()) {
    std::fprintf(stderr, "orvella: check: \"%s\" is not a whole image: %s\n", image.c_str(),
                 report.NotWhole.c_str());
  }
  if (!report.RepairNotDone.empty()) {
    std::fprintf(stderr, "orvella: check: %s\n", report.RepairNotDone.c_str());
    status |= kCannotRead;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "orvella: check: cannot write to standard output\n");
    status |= kCannotRead;
  }
  return status;
}

}  // namespace orvella::cli
