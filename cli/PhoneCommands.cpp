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
#include "cli/Progress.h"
#include "cli/PhoneReport.h"
#include "files/FileIO.h"
#include "image/Notation.h"
#include "phone/BmlView.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"
#include "phone/PhoneTexts.h"
#include "phone/StlReader.h"
#include "phone/VolumeCopy.h"
#include "phone/Volumes.h"

namespace orvella::cli {

namespace {

using Json = nlohmann::ordered_json;
using namespace phone;

std::string Hex(std::uint64_t v, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
  return buf;
}

std::string Num(std::uint64_t v) { return std::to_string(v); }

std::string JsonText(const Json& j) { return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace); }

bool Printed(const char* command) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  std::fprintf(stderr, "orvella: %s: cannot write to standard output\n", command);
  return false;
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

std::string FirstBlockFromWord(FirstBlockFrom from) {
  switch (from) {
    case FirstBlockFrom::PartitionInfo: return "partition_info";
    case FirstBlockFrom::RunningSum: return "running_sum";
    case FirstBlockFrom::None: break;
  }
  return "";
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

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
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
                CountText(r.LocalAreas, "local area", "local areas").c_str(), r.VolumeSectors,
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
  for (const StlFinding& f : r.Findings) std::printf("  %s: %s\n", StlFindingPlace(f).c_str(), f.Text.c_str());
}

// ---- volume ----

// Writes the layer `copy` was opened with into o.Out, complete or nothing.
bool WriteLayer(const VolumeOptions& o, VolumeCopy& copy) {
  TerminalProgress progress("Writing " + o.Out);
  std::string error;
  const bool written = OutputGuard::Write(
      o.Out,
      [&](File& out, std::string& why) {
        return copy.Write(out, why, [&](std::uint64_t done, std::uint64_t total) { progress(done, total); });
      },
      error);
  progress.End();
  if (!written) std::fprintf(stderr, "orvella: volume: %s\n", error.c_str());
  return written;
}

int WriteBmlLayer(const VolumeOptions& o, ImagePageSource& chip, const PhoneDump& dump, std::size_t k) {
  const PitEntry& e = dump.Table.Entries[k];
  VolumeCopy copy;
  std::string error;
  if (!copy.Open(chip, dump, k, VolumeLayer::Bml, error)) {
    std::fprintf(stderr, "orvella: volume: %s\n", error.c_str());
    return 1;
  }
  if (!WriteLayer(o, copy)) return 1;
  const std::uint32_t remapped = copy.Remapped();
  const std::string device = DeviceName(e, "bml");
  std::printf("Wrote %s: %llu bytes, partition %u \"%s\" as the phone's %s reads it (blocks %s, %s)\n",
              o.Out.c_str(), static_cast<unsigned long long>(std::uint64_t{e.Blocks} * kBlockMainBytes),
              e.Position, e.Name.c_str(), device.empty() ? "block device" : device.c_str(),
              BlockRangeText(e.FirstBlock, e.Blocks).c_str(),
              remapped == 0 ? "none remapped" : (Num(remapped) + " taken from " + (remapped == 1 ? "its replacement" : "their replacements")).c_str());
  return Printed("volume") ? 0 : 1;
}

int WriteStlLayer(const VolumeOptions& o, ImagePageSource& chip, const PhoneDump& dump, std::size_t k) {
  const PitEntry& e = dump.Table.Entries[k];
  VolumeCopy copy;
  std::string error;
  // Nothing is written for a volume the rebuild refuses.
  if (!copy.Open(chip, dump, k, VolumeLayer::Stl, error)) {
    std::fprintf(stderr, "orvella: volume: partition %u \"%s\": %s; nothing written\n", e.Position, e.Name.c_str(),
                 error.c_str());
    return 1;
  }
  const StlReport& report = copy.Stl();
  for (const StlFinding& f : report.Findings)
    std::fprintf(stderr, "orvella: volume: note: %s: %s\n", StlFindingPlace(f).c_str(), f.Text.c_str());
  if (!WriteLayer(o, copy)) return 1;
  const std::string device = DeviceName(e, "stl");
  std::printf("Wrote %s: %llu bytes, partition %u \"%s\" as the phone's %s reads it (STL volume of %u sectors, "
              "header layout %s, %s from log blocks)\n",
              o.Out.c_str(), static_cast<unsigned long long>(copy.Bytes()), e.Position, e.Name.c_str(),
              device.empty() ? "STL device" : device.c_str(), report.VolumeSectors, report.HeaderLayout.c_str(),
              CountText(report.LogPagesUsed, "page", "pages").c_str());
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
                      "devices; " + CountText(b.Remaps.size(), "block is", "blocks are") + " remapped.";
  else
    facts.Placement = "The bad-block layer gives no partition info; the blocks come from the running sum of the "
                      "table's block counts; " + CountText(b.Remaps.size(), "block is", "blocks are") + " remapped.";
  if (!dump.TableFound) facts.Placement += " " + dump.TableProblem + ".";
  for (std::size_t k = 0; k < dump.Table.Entries.size(); ++k) {
    const PitEntry& e = dump.Table.Entries[k];
    PhoneRow row;
    row.Position = e.Position;
    row.Name = e.Name;
    row.Identifier = e.Identifier;
    row.Attributes = PitAttributeWords(e.Attributes);
    row.InDump = e.InDump;
    row.Blocks = e.InDump ? BlockRangeText(e.FirstBlock, e.Blocks) : e.NotInDump;
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
    PrintLines(PitTextLines(dump, volumes));
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
    PrintLines(BmlTextLines(b));
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
  const bool stl = o.Layer.empty() ? DefaultLayer(chip, dump, k) == VolumeLayer::Stl : o.Layer == "stl";
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
