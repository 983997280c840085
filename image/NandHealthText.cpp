#include <cstdio>
#include <string>
#include <vector>

#include "image/NandHealth.h"
#include "image/Notation.h"

namespace orvella {

namespace {

// Bad blocks and uncorrectable sectors listed by number in the log; more are counted.
constexpr std::size_t kListed = 32;

std::string Percent(double share) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f%%", share * 100.0);
  return buf;
}

std::string Count(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

template <typename T, typename Text>
std::string Listed(const std::vector<T>& numbers, Text textOf) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size() && i < kListed; ++i)
    text += (i ? ", " : "") + textOf(numbers[i]);
  if (numbers.size() > kListed) text += " and " + std::to_string(numbers.size() - kListed) + " more";
  return text;
}

// "3 corrected, 1 uncorrectable": the findings only, empty when there are none.
std::string Findings(const NandCounts& c, std::size_t badBlocks, bool withEcc) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (withEcc) {
    if (c.Corrected) add(std::to_string(c.Corrected) + " corrected");
    if (c.CodeErrors) add(Count(c.CodeErrors, "code error", "code errors"));
    if (c.Uncorrectable) add(std::to_string(c.Uncorrectable) + " uncorrectable");
  }
  if (badBlocks) add(Count(badBlocks, "bad block", "bad blocks"));
  return text;
}

std::string Sectors(const NandCounts& c) {
  return Count(c.Sectors, "sector", "sectors") + " (" + std::to_string(c.Written()) +
         " written, " + std::to_string(c.Erased) + " erased)";
}

}  // namespace

std::string NandTotalsLine(const NandHealthReport& report) {
  const NandCounts& t = report.Total;
  std::string total = "Sectors: " + Sectors(t);
  if (report.Layout.empty()) return total;
  total += "; " + std::to_string(t.Clean) + " clean, " + std::to_string(t.Corrected) +
           " corrected, " + Count(t.CodeErrors, "code error", "code errors") + ", " +
           std::to_string(t.Uncorrectable) + " uncorrectable";
  // Sectors of bad blocks are not checked: their data are not the chip's to vouch for.
  if (t.Unchecked) total += ", " + std::to_string(t.Unchecked) + " not checked (bad blocks)";
  return total;
}

std::vector<std::string> NandHealthLogLines(const NandHealthReport& report) {
  std::vector<std::string> lines;
  const bool withEcc = !report.Layout.empty();
  if (!withEcc) {
    lines.push_back("ECC layout: no known ECC layout matches; only written and erased sectors "
                    "and bad blocks are checked");
  } else if (report.LayoutNamedByUser) {
    lines.push_back("ECC layout: " + report.Layout + " (as named)");
  } else {
    lines.push_back("ECC layout: " + report.Layout + " (found: " + Percent(report.CleanShare) +
                    " of " + std::to_string(report.SampledSectors) +
                    " sampled written sectors clean)");
  }

  lines.push_back(NandTotalsLine(report));

  bool anyFindings = false;
  for (const NandPartitionHealth& p : report.Partitions) {
    const std::string findings = Findings(p.Counts, p.BadBlocks.size(), withEcc);
    if (findings.empty()) continue;
    anyFindings = true;
    lines.push_back("Partition " + std::to_string(p.Position) + " \"" + p.Name + "\" (blocks " +
                    BlocksText(p.BegBlock, p.Blocks) + "): " + findings);
  }
  // Bad blocks outside the table are in the list below.
  if (const std::string outside = Findings(report.Outside, 0, withEcc); !outside.empty()) {
    anyFindings = true;
    lines.push_back("Outside every partition: " + outside);
  }
  if (!anyFindings)
    lines.push_back(report.Partitions.empty() ? "No findings." : "No partition has findings.");

  if (report.BadBlocks.empty())
    lines.push_back("Bad blocks: none");
  else
    lines.push_back("Bad blocks (" + std::to_string(report.BadBlocks.size()) +
                    "): " + Listed(report.BadBlocks, BlockText));
  // The sectors a repair cannot restore, by number and by place in the file.
  if (!report.Uncorrectable.empty())
    lines.push_back("Uncorrectable sectors (" + std::to_string(report.Uncorrectable.size()) +
                    "): " + Listed(report.Uncorrectable, SectorText));
  if (!report.TableProblem.empty())
    lines.push_back("Partition table: " + report.TableProblem);
  else if (!report.TableFound)
    lines.push_back("No partition table at block 1: the image was checked without partitions.");
  if (!report.Complete)
    lines.push_back("Not checked: " + (report.NotRead.empty() ? std::string("part of the image")
                                                              : report.NotRead));
  return lines;
}

}  // namespace orvella
