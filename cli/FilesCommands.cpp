// files and extract: the files inside a volume file or a dump's partition, listed, and
// copied out into a folder with their folders and modification times.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "cli/VolumeFiles.h"
#include "phone/VolumeExtract.h"
#include "files/FileIO.h"

namespace orvella::cli {

namespace {

using Json = nlohmann::ordered_json;

int Flushed(const char* command, int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "orvella: %s: cannot write to standard output\n", command);
  return status == 0 ? 1 : status;
}

std::string LowerType(const fat::Volume& volume) {
  std::string type = fat::FatTypeName(volume.Facts().Type);
  for (char& c : type)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return type;
}

std::string IsoTime(const fat::DosTimestamp& t) {
  std::string text = t.Text();
  if (!text.empty()) text[10] = 'T';
  return text;
}

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string EntryLine(const ListedEntry& le) {
  const fat::Entry& e = le.Entry;
  std::string path = e.Path;
  if (!e.LinkTarget.empty()) path += " -> " + e.LinkTarget;
  char head[96];
  std::snprintf(head, sizeof head, "%-7s %10s  %-19s  %-11s  ", fat::EntryKindName(e.Kind),
                e.IsFolder() ? "-" : std::to_string(e.Size).c_str(), ModifiedText(e.Modified).c_str(),
                Md5CheckText(le.Check));
  return head + path;
}

void PrintFinding(const fat::Finding& f) {
  std::printf("  finding %s: %s\n", fat::FindingKindName(f.Kind), f.Text.c_str());
}

void PrintText(const OpenedVolume& v, const VolumeListing& listing) {
  std::printf("source: %s\n", v.LayerText.c_str());
  std::printf("file system: %s\n", FileSystemText(*v.Volume).c_str());
  for (const std::size_t i : listing.VolumeFindings) PrintFinding(listing.Findings[i]);
  for (const ListedEntry& le : listing.Entries) {
    std::printf("%s\n", EntryLine(le).c_str());
    for (const std::size_t i : le.Findings) PrintFinding(listing.Findings[i]);
  }
  const fat::WalkTotals& t = listing.Totals;
  std::printf("%s, %s, %s; %s; %s\n", Plural(t.Files, "file", "files").c_str(),
              Plural(t.Folders, "folder", "folders").c_str(), Plural(t.Bytes, "byte", "bytes").c_str(),
              Plural(t.Deleted, "deleted entry", "deleted entries").c_str(),
              Plural(listing.Findings.size(), "finding", "findings").c_str());
}

void PrintJson(const OpenedVolume& v, const VolumeListing& listing) {
  Json source = {{"file", v.Source},
                 {"row", v.Row ? Json(*v.Row + 1) : Json(nullptr)},
                 {"name", v.Row ? Json(v.RowName) : Json(nullptr)},
                 {"layer", v.Layer},
                 {"stl_refusal", v.StlRefusal.empty() ? Json(nullptr) : Json(v.StlRefusal)}};
  const fat::Geometry& g = v.Volume->Facts();
  Json fs = {{"type", LowerType(*v.Volume)},
             {"label", v.Volume->Label()},
             {"cluster_size", g.ClusterBytes},
             {"clusters", g.Clusters}};
  Json entries = Json::array();
  for (const ListedEntry& le : listing.Entries) {
    const fat::Entry& e = le.Entry;
    const std::string modified = IsoTime(e.Modified);
    Json j = {{"path", e.Path},
              {"size", e.Size},
              {"folder", e.IsFolder()},
              {"modified", modified.empty() ? Json(nullptr) : Json(modified)},
              {"md5_matches", le.Check == Md5Check::Matches   ? Json(true)
                              : le.Check == Md5Check::Differs ? Json(false)
                                                              : Json(nullptr)},
              {"kind", fat::EntryKindName(e.Kind)}};
    if (e.Kind == fat::EntryKind::Symlink) j["link_target"] = e.LinkTarget.empty() ? Json(nullptr) : Json(e.LinkTarget);
    entries.push_back(std::move(j));
  }
  Json findings = Json::array();
  for (const fat::Finding& f : listing.Findings)
    findings.push_back({{"kind", fat::FindingKindName(f.Kind)}, {"path", f.Path}, {"text", f.Text}});
  const fat::WalkTotals& t = listing.Totals;
  Json j = {{"source", std::move(source)},
            {"file_system", std::move(fs)},
            {"entries", std::move(entries)},
            {"findings", std::move(findings)},
            {"totals", {{"files", t.Files}, {"folders", t.Folders}, {"bytes", t.Bytes}, {"deleted", t.Deleted}}}};
  std::printf("%s\n", j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

// ---- extract ----------------------------------------------------------------------------

// Each file written on standard output as its path; the rest on standard error.
class ExtractLines : public phone::ExtractReporter {
 public:
  void Extracted(const fat::Entry&, const std::string& path) override { std::printf("%s\n", path.c_str()); }
  void Note(const std::string& text) override { std::fprintf(stderr, "orvella: extract: %s\n", text.c_str()); }
};

}  // namespace

int RunFiles(const FilesOptions& o) {
  OpenedVolume v;
  if (!OpenVolume("files", o.Source, o.Row, v)) return 1;
  VolumeListing listing;
  std::string error;
  if (!ListVolume(*v.Volume, false, listing, error)) {
    std::fprintf(stderr, "orvella: files: %s\n", error.c_str());
    return 1;
  }
  if (o.Json)
    PrintJson(v, listing);
  else
    PrintText(v, listing);
  return Flushed("files", 0);
}

int RunExtract(const ExtractOptions& o) {
  OpenedVolume v;
  if (!OpenVolume("extract", o.Source, o.Row, v)) return 1;
  phone::ExtractRequest request;
  request.Folder = o.Out;
  request.Paths = o.Paths;
  request.Replace = o.Force;
  request.ReplaceHint = "; give --force to replace it";
  request.Inputs = {o.Source};
  ExtractLines lines;
  const phone::ExtractTotals totals = phone::ExtractFiles(*v.Volume, request, lines);
  if (totals.NoFolder) return 1;
  std::printf("%s\n", phone::ExtractTotalText(totals, o.Out).c_str());
  return Flushed("extract", totals.Failed > 0 ? 1 : 0);
}

}  // namespace orvella::cli
