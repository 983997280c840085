// pit, bml, volume and stl: the dump as the phone reads it. The table in the phone's own
// layout, the bad-block layer that remaps bad blocks into the reservoir, and each
// partition as the phone's bmlN and stlN devices deliver it.

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "cli/PhoneReport.h"
#include "image/ChunkBuffer.h"
#include "files/FileIO.h"
#include "image/Notation.h"
#include "phone/BmlView.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"
#include "phone/StlReader.h"
#include "phone/Volumes.h"

namespace orvella::cli {

namespace {

using Json = nlohmann::ordered_json;
using namespace phone;

constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::string Num(std::uint64_t v) { return std::to_string(v); }

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return Num(n) + " " + (n == 1 ? one : many);
}

// One block as "0x0007", more as "0x0007..0x0009".
std::string Blocks(std::uint64_t first, std::uint64_t count) {
  return count == 1 ? BlockText(first) : BlocksText(first, count);
}

std::string JsonText(const Json& j) { return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace); }

bool Printed(const char* command) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  std::fprintf(stderr, "orvella: %s: cannot write to standard output\n", command);
  return false;
}

// Characters a UTF-8 text shows, for lining up columns.
std::size_t Shown(const std::string& text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// Rows of cells printed in columns two blanks apart, the columns in `right` aligned to
// the right; the last column is not padded.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, const std::vector<std::size_t>& right = {}) {
  std::vector<std::size_t> width;
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (width.size() <= c) width.push_back(0);
      width[c] = std::max(width[c], Shown(row[c]));
    }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(width[c] - Shown(row[c]), ' ');
      const bool toRight = std::find(right.begin(), right.end(), c) != right.end();
      line += toRight ? pad + row[c] : row[c];
      if (c + 1 < row.size()) line += (toRight ? "" : pad) + "  ";
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
}

// The dump a command works on: its pages, its table and its bad-block layer. False, after
// saying why on standard error, when the image cannot be read.
bool OpenDump(const char* command, const std::string& image, ImagePageSource& chip, PhoneDump& dump,
              bool judgeContent) {
  NoteNotWhole(command, image);
  std::string error;
  if (!chip.Open(image, error)) {
    std::fprintf(stderr, "orvella: %s: %s\n", command, error.c_str());
    return false;
  }
  dump = ReadPhoneDump(chip, judgeContent);
  return true;
}

// The identity view is what a dump without the layer gives; every output says so.
void NoteNoStructure(const char* command, const PhoneDump& dump) {
  if (dump.Bml.Structure == BmlStructure::None)
    std::fprintf(stderr, "orvella: %s: %s\n", command, dump.Bml.NoStructure.c_str());
}

bool TableOrSay(const char* command, const PhoneDump& dump) {
  if (dump.TableFound) return true;
  std::fprintf(stderr, "orvella: %s: %s\n", command, dump.TableProblem.c_str());
  return false;
}

// The entry --row names, by position or by the name the phone's table holds.
bool PickEntry(const char* command, const PhoneDump& dump, const std::string& row, std::size_t& k) {
  std::vector<std::string> names;
  for (const PitEntry& e : dump.Table.Entries) names.push_back(e.Name);
  std::string problem;
  if (ResolveRow(names, row, k, problem, "pit")) return true;
  std::fprintf(stderr, "orvella: %s: %s\n", command, problem.c_str());
  return false;
}

std::string DeviceName(const PitEntry& e, const char* kind) {
  if (e.BmlNumber == 0) return "";
  return std::string(kind) + Num(e.BmlNumber);
}

std::string FirstBlockFromWord(FirstBlockFrom from) {
  switch (from) {
    case FirstBlockFrom::PartitionInfo: return "partition_info";
    case FirstBlockFrom::RunningSum: return "running_sum";
    case FirstBlockFrom::None: break;
  }
  return "";
}

std::string HoldsText(const PartitionContent& c) {
  std::string text = HoldsWord(c.Kind);
  if (!c.Label.empty()) text += " \"" + c.Label + "\"";
  return text;
}

std::string VolumeText(const VolumeState& v) {
  if (!v.Stl) return "";
  if (!v.Rebuilt) return "refused: " + v.Refusal;
  return "rebuilds: " + Num(v.Bytes()) + " bytes (" + Num(v.Sectors) + " sectors), holds " + HoldsText(v.Inside);
}

Json Nullable(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

// ---- pit ----

Json VolumeJson(const VolumeState& v) {
  if (!v.Stl) return nullptr;
  return {{"rebuilds", v.Rebuilt},
          {"sectors", v.Sectors},
          {"bytes", v.Bytes()},
          {"refusal", Nullable(v.Refusal)},
          {"header_layout", Nullable(v.HeaderLayout)},
          {"log_pages_used", v.LogPagesUsed},
          {"holds", v.Rebuilt ? Json(HoldsWord(v.Inside.Kind)) : Json(nullptr)},
          {"label", Nullable(v.Inside.Label)}};
}

Json EntryJson(const PitEntry& e, const VolumeState& v) {
  return {{"position", e.Position},
          {"name", e.Name},
          {"binary_type", e.BinaryType},
          {"device_type", e.DeviceType},
          {"device", PitDeviceName(e.DeviceType)},
          {"identifier", e.Identifier},
          {"attributes", e.Attributes},
          {"stl", e.Stl()},
          {"update_attributes", e.UpdateAttributes},
          {"block_size_or_offset", e.BlockSizeOrOffset},
          {"stored_blocks", e.BlockCount},
          {"file_offset", e.FileOffset},
          {"file_size", e.FileSize},
          {"in_dump", e.InDump},
          {"not_in_dump", Nullable(e.NotInDump)},
          {"first_block", e.InDump ? Json(e.FirstBlock) : Json(nullptr)},
          {"blocks", e.InDump ? e.Blocks : e.BlockCount},
          {"first_block_from", Nullable(FirstBlockFromWord(e.From))},
          {"bml_number", e.BmlNumber ? Json(e.BmlNumber) : Json(nullptr)},
          {"flash_file", e.FlashFile},
          {"fota_file", e.FotaFile},
          {"holds", HoldsWord(e.Content.Kind)},
          {"label", Nullable(e.Content.Label)},
          {"holds_detail", Nullable(e.Content.Detail)},
          {"volume", VolumeJson(v)}};
}

void PrintPitText(const PhoneDump& dump, const std::vector<VolumeState>& volumes) {
  const PitHeader& h = dump.Table.Header;
  std::string words = Hex(h.Unknown1, 8) + " " + Hex(h.Unknown2, 8);
  for (const std::uint16_t w : h.Unknown3To8) words += " " + Hex(w, 4);
  std::printf("Partition table at block %s: %s; header words %s\n", BlockText(kPitTableBlock).c_str(),
              Plural(h.Count, "entry", "entries").c_str(), words.c_str());
  const bool byInfo = dump.Bml.Info.Read;
  std::printf("Blocks from: %s\n", byInfo ? "the bad-block layer's partition info, as the phone places them"
                                          : "the running sum of the table's block counts");
  if (dump.Bml.Structure != BmlStructure::None)
    std::printf("Bad-block layer: %s, %s (orvella bml lists them)\n",
                Plural(dump.Bml.Remaps.size(), "remap", "remaps").c_str(),
                Plural(dump.Bml.Findings.size(), "finding", "findings").c_str());

  std::vector<std::vector<std::string>> rows{
      {"Pos", "Name", "Id", "Attributes", "Blocks", "Device", "Holds", "Flash file"}};
  for (const PitEntry& e : dump.Table.Entries)
    rows.push_back({Num(e.Position), e.Name, Num(e.Identifier), PitAttributeWords(e.Attributes),
                    e.InDump ? Blocks(e.FirstBlock, e.Blocks) : "-", e.InDump ? DeviceName(e, "bml") : "-",
                    HoldsText(e.Content), e.FlashFile});
  PrintColumns(rows, {0, 2});

  bool header = false;
  for (std::size_t k = 0; k < volumes.size(); ++k) {
    const VolumeState& v = volumes[k];
    if (!v.Stl) continue;
    if (!header) std::printf("STL volumes:\n");
    header = true;
    const PitEntry& e = dump.Table.Entries[k];
    std::printf("  %u %s: %s%s\n", e.Position, e.Name.c_str(), VolumeText(v).c_str(),
                  v.Rebuilt && v.LogPagesUsed ? ("; " + Plural(v.LogPagesUsed, "page", "pages") + " from log blocks").c_str() : "");
  }
  header = false;
  for (const PitEntry& e : dump.Table.Entries) {
    if (e.InDump) continue;
    if (!header) std::printf("Not in this dump:\n");
    header = true;
    std::printf("  %u %s: %s\n", e.Position, e.Name.c_str(), e.NotInDump.c_str());
  }
}

// ---- bml ----

Json BlockOrNull(std::uint32_t block) { return block == kNoBlock ? Json(nullptr) : Json(block); }

const char* StructureWord(BmlStructure s) {
  switch (s) {
    case BmlStructure::Complete: return "complete";
    case BmlStructure::Partial: return "partial";
    case BmlStructure::None: break;
  }
  return "none";
}

Json BmlJson(const BmlResult& b) {
  Json pools = Json::array();
  for (const PoolBlock& p : b.PoolBlocks)
    pools.push_back({{"block", p.Block},
                     {"signature", p.Signature},
                     {"age", p.Age},
                     {"global_age", p.GlobalAge},
                     {"role", p.Role},
                     {"ref_block", p.RefBlock},
                     {"tpcb_block", p.TpcbBlock},
                     {"meta_set_page", p.MetaSetPage ? Json(*p.MetaSetPage) : Json(nullptr)},
                     {"meta_set_age", p.MetaSetPage ? Json(p.MetaSetAge) : Json(nullptr)}});
  Json rows = Json::array();
  for (const PartitionInfoRow& r : b.Info.Rows)
    rows.push_back({{"bml_number", r.Index + 1},
                    {"identifier", r.Identifier},
                    {"attributes", r.Attributes},
                    {"first_block", r.FirstBlock},
                    {"blocks", r.Blocks},
                    {"load_address", r.LoadAddress},
                    {"usable", r.Usable}});
  Json remaps = Json::array();
  for (const BmlRemap& m : b.Remaps)
    remaps.push_back({{"block", m.Block},
                      {"replacement", m.Replacement},
                      {"partition", Nullable(m.Partition)},
                      {"reason", m.Reason()},
                      {"pool", m.Pool},
                      {"map_sector", m.MapSector},
                      {"info", m.Info},
                      {"applied", m.Applied}});
  Json findings = Json::array();
  for (const BmlFinding& f : b.Findings) {
    Json j = {{"kind", FindingWord(f.Kind)}};
    if (f.Block) j["block"] = *f.Block;
    j["text"] = f.Text;
    j["refuses_mount"] = f.RefusesMount;
    findings.push_back(std::move(j));
  }
  return {{"reservoir", {{"first", b.ReservoirFirst}, {"last", b.ReservoirLast}}},
          {"structure", StructureWord(b.Structure)},
          {"lpcb", BlockOrNull(b.Lpcb)},
          {"upcb", BlockOrNull(b.Upcb)},
          {"tpcb", BlockOrNull(b.Tpcb)},
          {"ref", BlockOrNull(b.Ref)},
          {"pool_blocks", pools},
          {"partition_info_read", b.Info.Read},
          {"partition_info_signature", b.Info.Read ? Json(b.Info.Signature) : Json(nullptr)},
          {"partition_info_version", b.Info.Read ? Json(b.Info.Version) : Json(nullptr)},
          {"partition_info", rows},
          {"remaps", remaps},
          {"allocated", b.Allocated},
          {"findings", findings},
          {"mountable", b.Mountable()}};
}

void PrintBmlText(const BmlResult& b) {
  std::printf("Reservoir: blocks %s (%u to %u): %u replacement blocks and the layer's own\n",
              BlocksText(b.ReservoirFirst, b.ReservoirLast - b.ReservoirFirst + 1).c_str(), b.ReservoirFirst,
              b.ReservoirLast, kBmlReplacementBlocks);
  std::printf("Pool control blocks: %zu\n", b.PoolBlocks.size());
  for (const PoolBlock& p : b.PoolBlocks) {
    std::string set = p.MetaSetPage ? "meta set at page " + Num(*p.MetaSetPage) + " (age " + Num(p.MetaSetAge) + ")"
                                    : std::string("no meta set in use");
    std::printf("  %s  %s  age %u, global age %u  %s  %s; TPCB %s, REF %s\n", BlockText(p.Block).c_str(),
                p.Signature.c_str(), p.Age, p.GlobalAge, p.Role.c_str(), set.c_str(), BlockText(p.TpcbBlock).c_str(),
                BlockText(p.RefBlock).c_str());
  }
  if (b.Info.Read) {
    // The signature is whatever 8 bytes the block holds; only its printable ones are shown.
    std::string signature = b.Info.Signature;
    for (char& c : signature)
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
    std::printf("Partition info: signature \"%s\", version %s, %s\n", signature.c_str(),
                Hex(b.Info.Version, 8).c_str(), Plural(b.Info.Rows.size(), "row", "rows").c_str());
    std::vector<std::vector<std::string>> rows{{"  Device", "Id", "Attributes", "Blocks", "Units", "Usable"}};
    for (const PartitionInfoRow& r : b.Info.Rows)
      rows.push_back({"  bml" + Num(r.Index + 1), Num(r.Identifier), Hex(r.Attributes, 4),
                      r.Blocks ? Blocks(r.FirstBlock, r.Blocks) : "-", Num(r.Blocks), r.Usable ? "yes" : "no"});
    PrintColumns(rows, {1, 4});
  } else {
    std::printf("Partition info: not read; the table's running sum places the partitions\n");
  }
  std::printf("Remaps: %zu\n", b.Remaps.size());
  if (!b.Remaps.empty()) {
    std::vector<std::vector<std::string>> rows{{"  Block", "Replacement", "Partition", "Reason"}};
    for (const BmlRemap& m : b.Remaps)
      rows.push_back({"  " + BlockText(m.Block), BlockText(m.Replacement), m.Partition.empty() ? "-" : m.Partition,
                      m.Reason() + (m.Applied ? "" : " (a later pair for this block wins)")});
    PrintColumns(rows);
  }
  std::printf("Findings: %s\n", b.Findings.empty() ? "none" : Num(b.Findings.size()).c_str());
  for (const BmlFinding& f : b.Findings)
    std::printf("  %s%s: %s%s\n", FindingWord(f.Kind), f.Block ? (" " + BlockText(*f.Block)).c_str() : "",
                f.Text.c_str(), f.RefusesMount ? " (refuses to mount)" : "");
  std::printf("%s\n", b.Mountable() ? "The phone mounts this chip." : "The phone would not mount this chip.");
}

// ---- stl ----

Json StlJson(const PitEntry& e, const StlReport& r) {
  Json roots = Json::array();
  for (const StlRootBlock& b : r.RootBlocks)
    roots.push_back({{"vbn", b.Vbn},
                     {"valid", b.Valid},
                     {"age", b.Valid ? Json(b.Age) : Json(nullptr)},
                     {"page", b.Current >= 0 ? Json(b.Current) : Json(nullptr)}});
  Json logs = Json::array();
  for (const StlLogInfo& l : r.Logs)
    logs.push_back({{"lbn", l.Lbn},
                    {"vbn", l.Vbn},
                    {"active", l.Active},
                    {"recorded_pages", l.RecordedPages},
                    {"replayed_pages", l.ReplayedPages}});
  Json findings = Json::array();
  for (const StlFinding& f : r.Findings) {
    Json j = {{"kind", f.Kind}};
    if (f.Block >= 0) j["block"] = f.Block;
    if (f.Page >= 0) j["page"] = f.Page;
    j["text"] = f.Text;
    findings.push_back(std::move(j));
  }
  return {{"position", e.Position},
          {"name", e.Name},
          {"bml_number", e.BmlNumber ? Json(e.BmlNumber) : Json(nullptr)},
          {"units", r.Units},
          {"stl", r.Stl},
          {"rebuilt", r.Rebuilt},
          {"refusal", Nullable(r.Refusal)},
          {"volume_sectors", r.VolumeSectors},
          {"volume_bytes", std::uint64_t{r.VolumeSectors} * 512},
          {"root_blocks", roots},
          {"zone",
           {{"blocks", r.ZoneBlocks},
            {"meta_blocks", r.MetaBlocks},
            {"user_blocks", r.UserBlocks},
            {"local_areas", r.LocalAreas}}},
          {"meta_vbns", r.MetaVbns},
          {"header_layout", Nullable(r.HeaderLayout)},
          {"header_block", r.HeaderBlock >= 0 ? Json(r.HeaderBlock) : Json(nullptr)},
          {"logs", logs},
          {"log_pages_used", r.LogPagesUsed},
          {"findings", findings}};
}

std::string FindingPlace(const StlFinding& f) {
  std::string at;
  if (f.Block >= 0) at = "VBN " + Num(static_cast<std::uint64_t>(f.Block));
  if (f.Page >= 0) at += (at.empty() ? "page " : " page ") + Num(static_cast<std::uint64_t>(f.Page));
  return at.empty() ? f.Kind : f.Kind + " " + at;
}

void PrintStlText(const PitEntry& e, const StlReport& r) {
  const std::string device = DeviceName(e, "stl");
  std::printf("Partition %u \"%s\"%s: %s units: %s\n", e.Position, e.Name.c_str(),
              device.empty() ? "" : (" (" + device + ")").c_str(), Num(r.Units).c_str(),
              r.Rebuilt ? "STL volume rebuilt" : ("refused: " + r.Refusal).c_str());
  if (!r.RootBlocks.empty()) {
    std::string roots;
    for (const StlRootBlock& b : r.RootBlocks) {
      roots += roots.empty() ? "" : "; ";
      roots += "VBN " + Num(b.Vbn) + (b.Valid ? " valid, age " + Hex(b.Age, 16) : std::string(" not valid"));
      if (b.Current >= 0) roots += ", root info taken from page " + Num(static_cast<std::uint64_t>(b.Current));
    }
    std::printf("Root blocks: %s\n", roots.c_str());
  }
  if (r.ZoneBlocks)
    std::printf("Zone: %u blocks: %u meta, %u free, %u user blocks in %s; %u user sectors (%llu bytes)\n",
                r.ZoneBlocks, r.MetaBlocks, r.ZoneBlocks - r.MetaBlocks - r.UserBlocks, r.UserBlocks,
                Plural(r.LocalAreas, "local area", "local areas").c_str(), r.VolumeSectors,
                static_cast<unsigned long long>(std::uint64_t{r.VolumeSectors} * 512));
  if (!r.MetaVbns.empty()) {
    std::string vbns;
    for (const std::uint32_t v : r.MetaVbns) vbns += (vbns.empty() ? "VBN " : ", ") + Num(v);
    std::printf("Meta blocks: %s\n", vbns.c_str());
  }
  if (!r.HeaderLayout.empty())
    std::printf("Directory header: layout %s%s\n", r.HeaderLayout.c_str(),
                r.HeaderBlock >= 0 ? (", header block VBN " + Num(static_cast<std::uint64_t>(r.HeaderBlock))).c_str()
                                   : "");
  if (r.Rebuilt) {
    std::printf("Log groups: %zu\n", r.Logs.size());
    for (const StlLogInfo& l : r.Logs)
      std::printf("  LBN %u in log VBN %u%s: %u pages recorded, %u replayed\n", l.Lbn, l.Vbn,
                  l.Active ? " (active)" : "", l.RecordedPages, l.ReplayedPages);
    std::printf("Pages taken from log blocks: %llu\n", static_cast<unsigned long long>(r.LogPagesUsed));
  }
  std::printf("Findings: %s\n", r.Findings.empty() ? "none" : Num(r.Findings.size()).c_str());
  for (const StlFinding& f : r.Findings) std::printf("  %s: %s\n", FindingPlace(f).c_str(), f.Text.c_str());
}

// ---- volume ----

// Shows a copy's progress on standard error when it is a terminal.
class Progress {
 public:
  explicit Progress(std::string what) : what_(std::move(what)), shown_(StandardErrorIsTerminal() ? -1 : -2) {}
  ~Progress() { End(); }
  void operator()(std::uint64_t done, std::uint64_t total) {
    if (shown_ == -2 || total == 0) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == shown_) return;
    shown_ = percent;
    std::fprintf(stderr, "\r%s: %3d%%", what_.c_str(), percent);
  }
  void End() {
    if (shown_ >= 0) std::fputc('\n', stderr);
    shown_ = shown_ == -2 ? -2 : -1;
  }

 private:
  std::string what_;
  int shown_;
};

int WriteBmlLayer(const VolumeOptions& o, ImagePageSource& chip, const PhoneDump& dump, std::size_t k) {
  const PitEntry& e = dump.Table.Entries[k];
  BmlView view(chip, EntryBlocks(dump, k));
  std::uint32_t remapped = 0;
  for (std::uint32_t u = 0; u < e.Blocks; ++u) remapped += view.Physical()[u] != e.FirstBlock + u;
  ChunkBuffer buffer;
  std::string error;
  if (!buffer.Resize(kCopyBuffer)) {
    std::fprintf(stderr, "orvella: volume: no memory for the copy buffer\n");
    return 1;
  }
  Progress progress("Writing " + o.Out);
  const bool written = OutputGuard::Write(
      o.Out,
      [&](File& out, std::string& why) {
        return CopyViewMain(chip, view, out, buffer, why,
                            [&](std::uint64_t done, std::uint64_t total) { progress(done, total); });
      },
      error);
  progress.End();
  if (!written) {
    std::fprintf(stderr, "orvella: volume: %s\n", error.c_str());
    return 1;
  }
  const std::string device = DeviceName(e, "bml");
  std::printf("Wrote %s: %llu bytes, partition %u \"%s\" as the phone's %s reads it (blocks %s, %s)\n",
              o.Out.c_str(), static_cast<unsigned long long>(std::uint64_t{e.Blocks} * kBlockMainBytes),
              e.Position, e.Name.c_str(), device.empty() ? "block device" : device.c_str(),
              Blocks(e.FirstBlock, e.Blocks).c_str(),
              remapped == 0 ? "none remapped" : (Num(remapped) + " taken from " + (remapped == 1 ? "its replacement" : "their replacements")).c_str());
  return Printed("volume") ? 0 : 1;
}

int WriteStlLayer(const VolumeOptions& o, ImagePageSource& chip, const PhoneDump& dump, std::size_t k) {
  const PitEntry& e = dump.Table.Entries[k];
  BmlView view(chip, EntryBlocks(dump, k));
  StlVolume volume(view);
  // Nothing is written for a volume the rebuild refuses.
  if (!volume.Open()) {
    std::fprintf(stderr, "orvella: volume: partition %u \"%s\": %s; nothing written\n", e.Position, e.Name.c_str(),
                 volume.Report().Refusal.c_str());
    return 1;
  }
  const StlReport& report = volume.Report();
  for (const StlFinding& f : report.Findings)
    std::fprintf(stderr, "orvella: volume: note: %s: %s\n", FindingPlace(f).c_str(), f.Text.c_str());
  Progress progress("Writing " + o.Out);
  std::string error;
  const std::uint64_t total = volume.Bytes();
  const bool written = OutputGuard::Write(
      o.Out,
      [&](File& out, std::string& why) {
        std::uint64_t done = 0;
        return volume.Emit(
            [&](const std::uint8_t* data, std::size_t n, std::string& failure) {
              if (!out.WriteAll(data, n, failure)) return false;
              done += n;
              progress(done, total);
              return true;
            },
            why);
      },
      error);
  progress.End();
  if (!written) {
    std::fprintf(stderr, "orvella: volume: %s\n", error.c_str());
    return 1;
  }
  const std::string device = DeviceName(e, "stl");
  std::printf("Wrote %s: %llu bytes, partition %u \"%s\" as the phone's %s reads it (STL volume of %u sectors, "
              "header layout %s, %s from log blocks)\n",
              o.Out.c_str(), static_cast<unsigned long long>(total), e.Position, e.Name.c_str(),
              device.empty() ? "STL device" : device.c_str(), report.VolumeSectors, report.HeaderLayout.c_str(),
              Plural(report.LogPagesUsed, "page", "pages").c_str());
  return Printed("volume") ? 0 : 1;
}

}  // namespace

void AddPhoneView(const std::string& image, ReportInput& input) {
  ImagePageSource chip;
  std::string error;
  if (!chip.Open(image, error)) return;
  const PhoneDump dump = ReadPhoneDump(chip, true);
  const BmlResult& b = dump.Bml;
  const bool layer = b.Structure != BmlStructure::None;
  if (!dump.TableFound && !layer) return;
  PhoneFacts facts;
  facts.Layer = layer;
  if (!layer)
    facts.Placement = b.NoStructure + "; the blocks come from the running sum of the table's block counts.";
  else if (b.Info.Read)
    facts.Placement = "The bad-block layer's partition info places the partitions and numbers the phone's "
                      "devices; " + Plural(b.Remaps.size(), "block is", "blocks are") + " remapped.";
  else
    facts.Placement = "The bad-block layer gives no partition info; the blocks come from the running sum of the "
                      "table's block counts; " + Plural(b.Remaps.size(), "block is", "blocks are") + " remapped.";
  if (!dump.TableFound) facts.Placement += " " + dump.TableProblem + ".";
  for (std::size_t k = 0; k < dump.Table.Entries.size(); ++k) {
    const PitEntry& e = dump.Table.Entries[k];
    PhoneRow row;
    row.Position = e.Position;
    row.Name = e.Name;
    row.Identifier = e.Identifier;
    row.Attributes = PitAttributeWords(e.Attributes);
    row.InDump = e.InDump;
    row.Blocks = e.InDump ? Blocks(e.FirstBlock, e.Blocks) : e.NotInDump;
    row.Device = e.InDump ? DeviceName(e, "bml") : "";
    row.Holds = HoldsText(e.Content);
    row.FlashFile = e.FlashFile;
    row.Volume = VolumeText(CheckVolume(chip, dump, k));
    facts.Rows.push_back(std::move(row));
  }
  if (layer) {
    input.Map.Remap.assign(input.Map.Blocks, BlockRemap::None);
    for (const BmlRemap& m : b.Remaps) {
      facts.Remaps.push_back({m.Block, m.Replacement, m.Partition, m.Reason() + (m.Applied ? "" : " (a later pair wins)")});
      if (!m.Applied) continue;
      if (m.Block < input.Map.Blocks) input.Map.Remap[m.Block] = BlockRemap::Replaced;
      if (m.Replacement < input.Map.Blocks) input.Map.Remap[m.Replacement] = BlockRemap::Replacement;
    }
    for (const BmlFinding& f : b.Findings)
      facts.Findings.push_back(std::string(FindingWord(f.Kind)) + ": " + f.Text +
                               (f.RefusesMount ? " (the phone would not mount the chip)" : ""));
  }
  input.Phone = std::move(facts);
}

int RunPit(const PitOptions& o) {
  ImagePageSource chip;
  PhoneDump dump;
  if (!OpenDump("pit", o.Image, chip, dump, true)) return 1;
  if (!TableOrSay("pit", dump)) return 1;
  NoteNoStructure("pit", dump);
  std::vector<VolumeState> volumes;
  for (std::size_t k = 0; k < dump.Table.Entries.size(); ++k) volumes.push_back(CheckVolume(chip, dump, k));
  if (o.Json) {
    Json entries = Json::array();
    for (std::size_t k = 0; k < dump.Table.Entries.size(); ++k)
      entries.push_back(EntryJson(dump.Table.Entries[k], volumes[k]));
    std::printf("%s\n", JsonText(entries).c_str());
  } else {
    PrintPitText(dump, volumes);
  }
  return Printed("pit") ? 0 : 1;
}

int RunBml(const BmlOptions& o) {
  ImagePageSource chip;
  PhoneDump dump;
  if (!OpenDump("bml", o.Image, chip, dump, false)) return 1;
  const BmlResult& b = dump.Bml;
  // Nothing is made up for a dump without the layer: no reservoir, no remaps.
  if (b.Structure == BmlStructure::None) {
    std::fprintf(stderr, "orvella: bml: %s\n", b.NoStructure.c_str());
    return 1;
  }
  if (!dump.TableFound) std::fprintf(stderr, "orvella: bml: %s; remaps name no partition\n", dump.TableProblem.c_str());
  if (o.Json)
    std::printf("%s\n", JsonText(BmlJson(b)).c_str());
  else
    PrintBmlText(b);
  return Printed("bml") ? 0 : 1;
}

int RunVolume(const VolumeOptions& o) {
  if (!o.Layer.empty() && o.Layer != "bml" && o.Layer != "stl")
    return UsageProblem("volume", "--layer takes bml or stl, not \"" + o.Layer + "\"");
  OutputGuard guard("volume", o.Force);
  guard.Input(o.Image);
  if (!guard.Allows(o.Out)) return 1;
  ImagePageSource chip;
  PhoneDump dump;
  if (!OpenDump("volume", o.Image, chip, dump, false)) return 1;
  if (!TableOrSay("volume", dump)) return 1;
  std::size_t k = 0;
  if (!PickEntry("volume", dump, o.Row, k)) return 1;
  PitEntry& e = dump.Table.Entries[k];
  if (!e.InDump) {
    std::fprintf(stderr, "orvella: volume: partition %u \"%s\" is not in this dump: %s; nothing written\n",
                 e.Position, e.Name.c_str(), e.NotInDump.c_str());
    return 1;
  }
  NoteNoStructure("volume", dump);
  // Only this partition's content decides its default layer; judging every one would read
  // the whole of erased partitions.
  if (o.Layer.empty()) {
    BmlView view(chip, EntryBlocks(dump, k));
    e.Content = JudgeContent(view);
  }
  const bool stl = o.Layer.empty() ? IsStlEntry(e) : o.Layer == "stl";
  return stl ? WriteStlLayer(o, chip, dump, k) : WriteBmlLayer(o, chip, dump, k);
}

int RunStl(const StlOptions& o) {
  ImagePageSource chip;
  PhoneDump dump;
  if (!OpenDump("stl", o.Image, chip, dump, false)) return 1;
  if (!TableOrSay("stl", dump)) return 1;
  std::size_t k = 0;
  if (!PickEntry("stl", dump, o.Row, k)) return 1;
  const PitEntry& e = dump.Table.Entries[k];
  if (!e.InDump) {
    std::fprintf(stderr, "orvella: stl: partition %u \"%s\" is not in this dump: %s\n", e.Position, e.Name.c_str(),
                 e.NotInDump.c_str());
    return 1;
  }
  NoteNoStructure("stl", dump);
  BmlView view(chip, EntryBlocks(dump, k));
  StlVolume volume(view);
  const bool rebuilt = volume.Open();
  if (o.Json)
    std::printf("%s\n", JsonText(StlJson(e, volume.Report())).c_str());
  else
    PrintStlText(e, volume.Report());
  if (!Printed("stl")) return 1;
  return rebuilt ? 0 : 1;
}

}  // namespace orvella::cli
