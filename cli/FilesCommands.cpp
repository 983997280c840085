// files and extract: the files inside a volume file or a dump's partition, listed, and
// copied out into a folder with their folders and modification times.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "cli/VolumeFiles.h"
#include "fat/Names.h"
#include "files/FileIO.h"

namespace orvella::cli {

namespace {

using Json = nlohmann::ordered_json;

#ifdef _WIN32
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

// Temporary names tried beside a file before it is refused: a volume may hold files
// named like part files itself.
constexpr int kPartNameTries = 100;

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

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when `path` begins with `prefix`, ASCII letters in either case.
bool StartsNoCase(const std::string& path, const std::string& prefix) {
  if (path.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (AsciiUpper(path[i]) != AsciiUpper(prefix[i])) return false;
  return true;
}

bool EqualNoCase(const std::string& a, const std::string& b) { return a.size() == b.size() && StartsNoCase(a, b); }

// Seconds since 1970 of a date and time taken as UTC.
std::int64_t UnixSeconds(const fat::DosTimestamp& t) {
  // Days from 1970-01-01 to the civil date (proleptic Gregorian).
  const int y = static_cast<int>(t.Year()) - (t.Month() <= 2 ? 1 : 0);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int m = static_cast<int>(t.Month());
  const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<int>(t.Day()) - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t days = std::int64_t{era} * 146097 + doe - 719468;
  return days * 86400 + t.Hour() * 3600 + t.Minute() * 60 + t.Second();
}

struct FolderTime {
  std::uint32_t Depth;
  std::string Path;        // in the output folder
  std::string VolumePath;
  fat::DosTimestamp Modified;
};

class Extraction {
 public:
  Extraction(const ExtractOptions& o, OpenedVolume& v) : o_(o), v_(v), guard_("extract", o.Force) {
    guard_.Input(o.Source);
    for (std::string p : o.Paths) {
      if (p.empty() || p.front() != '/') p.insert(p.begin(), '/');
      while (p.size() > 1 && p.back() == '/') p.pop_back();
      if (p == "/") {
        requests_.clear();
        all_ = true;
        break;
      }
      requests_.push_back(p);
    }
    if (o.Paths.empty()) all_ = true;
    found_.assign(requests_.size(), false);
  }

  int Run();

 private:
  bool Selected(const std::string& path);
  bool LeadsToRequest(const std::string& path) const;
  void Refuse(const fat::Entry& e, const std::string& why);
  void Note(const std::string& text) { std::fprintf(stderr, "orvella: extract: %s\n", text.c_str()); }
  // False, after saying why, when no folder can stand at `path`; `made` when this run made it.
  bool MakeFolderAt(const fat::Entry& e, const std::string& path, bool& made);
  void ExtractFile(const fat::Entry& e, const std::string& path);
  void CloseFoldersFrom(std::uint32_t depth);
  void SetTime(const std::string& path, const fat::DosTimestamp& t, const std::string& volumePath);

  const ExtractOptions& o_;
  OpenedVolume& v_;
  OutputGuard guard_;
  bool all_ = false;
  std::vector<std::string> requests_;
  std::vector<bool> found_;
  std::vector<std::string> dirs_;   // the output folder at each depth: [0] is DIR
  std::vector<FolderTime> open_;    // folders made, whose times are set once they are complete
  std::set<FileId> written_;        // files this run wrote
  std::uint64_t files_ = 0, folders_ = 0, bytes_ = 0, failed_ = 0, skipped_ = 0;
};

bool Extraction::Selected(const std::string& path) {
  if (all_) return true;
  bool selected = false;
  for (std::size_t i = 0; i < requests_.size(); ++i) {
    const std::string& r = requests_[i];
    if (EqualNoCase(path, r)) found_[i] = true;
    if (EqualNoCase(path, r) || (StartsNoCase(path, r) && path[r.size()] == '/')) selected = true;
  }
  return selected;
}

bool Extraction::LeadsToRequest(const std::string& path) const {
  for (const std::string& r : requests_)
    if (StartsNoCase(r, path) && r.size() > path.size() && r[path.size()] == '/') return true;
  return false;
}

void Extraction::Refuse(const fat::Entry& e, const std::string& why) {
  ++failed_;
  Note("\"" + e.Path + "\"" + (e.IsFolder() ? " and what it holds" : "") + " not extracted: " + why);
}

void Extraction::SetTime(const std::string& path, const fat::DosTimestamp& t, const std::string& volumePath) {
  if (!t.Valid()) return;
  std::string error;
  if (SetModifiedTime(path, UnixSeconds(t), error)) return;
  ++failed_;
  Note("\"" + volumePath + "\" extracted, but its modification time was not set: " + error);
}

void Extraction::CloseFoldersFrom(std::uint32_t depth) {
  while (!open_.empty() && open_.back().Depth >= depth) {
    SetTime(open_.back().Path, open_.back().Modified, open_.back().VolumePath);
    open_.pop_back();
  }
}

bool Extraction::MakeFolderAt(const fat::Entry& e, const std::string& path, bool& made) {
  std::string error;
  made = false;
  switch (KindOfPath(path)) {
    case PathKind::Folder: return true;  // filled further, nothing in it replaced
    case PathKind::Missing:
      if (MakeFolder(path, error)) {
        ++folders_;
        made = true;
        return true;
      }
      Refuse(e, error);
      return false;
    case PathKind::Link: Refuse(e, "\"" + path + "\" is a link; nothing is written through it"); return false;
    case PathKind::File:
    case PathKind::Other: break;
  }
  Refuse(e, "\"" + path + "\" is in the way and is no folder");
  return false;
}

void Extraction::ExtractFile(const fat::Entry& e, const std::string& path) {
  // A damaged folder may list one name twice: the second never replaces the first.
  if (const std::optional<FileId> id = IdOfFile(path); id && written_.count(*id)) {
    Refuse(e, "another entry of the volume was extracted as \"" + path + "\" before it, and is kept");
    return;
  }
  if (!guard_.Allows(path)) {
    ++failed_;
    return;
  }
  // Nor is a device or a pipe of that name written into.
  if (KindOfPath(path) == PathKind::Other) {
    Refuse(e, "\"" + path + "\" is in the way and is no file");
    return;
  }
  std::string part = PartFile::PartName(path);
  for (int n = 1; KindOfPath(part) != PathKind::Missing; ++n) {
    if (n == kPartNameTries) {
      Refuse(e, "no free temporary name beside \"" + path + "\"");
      return;
    }
    part = path + "." + std::to_string(n) + ".part";
  }
  PartFile out;
  std::string error, writeError;
  if (!out.CreateAs(path, part, error)) {
    Refuse(e, error);
    return;
  }
  const fat::ReadResult r = v_.Volume->Read(e, [&](const std::uint8_t* data, std::size_t n) {
    return out.Out().WriteAll(data, n, writeError);
  });
  if (r.Status != fat::ReadStatus::Complete) {
    Refuse(e, !writeError.empty() ? writeError
                                  : "only " + std::to_string(r.Bytes) + " of its " + std::to_string(e.Size) +
                                        " bytes can be read: " + r.Problem);
    return;
  }
  if (!out.Commit(error)) {
    Refuse(e, error);
    return;
  }
  if (const std::optional<FileId> id = IdOfFile(path)) written_.insert(*id);
  ++files_;
  bytes_ += e.Size;
  SetTime(path, e.Modified, e.Path);
  std::printf("%s\n", path.c_str());
}

int Extraction::Run() {
  std::string error;
  const std::string& dir = o_.Out;
  switch (KindOfPath(dir)) {
    case PathKind::Missing:
      if (!MakeFolder(dir, error)) {
        Note(error);
        return 1;
      }
      break;
    case PathKind::Folder: break;
    case PathKind::Link:
      if (IdOfFile(dir) && !FileExists(dir)) break;  // a link to a folder the user named
      [[fallthrough]];
    case PathKind::File:
    case PathKind::Other:
      Note("\"" + dir + "\" is no folder");
      return 1;
  }
  dirs_ = {dir};
  v_.Volume->Walk(
      [&](const fat::Entry& e) {
        CloseFoldersFrom(e.Depth);
        const bool selected = Selected(e.Path);
        const bool leads = !selected && e.IsFolder() && LeadsToRequest(e.Path);
        if (!selected && !leads) return e.IsFolder() ? fat::WalkStep::SkipFolder : fat::WalkStep::Continue;
        if (e.Depth > dirs_.size()) return fat::WalkStep::SkipFolder;  // under a folder not made
        dirs_.resize(e.Depth);
        std::string why = fat::UnsafeNameReason(e.Name);
        if (why.empty() && kWindowsNames) why = fat::WindowsNameReason(e.Name);
        if (!why.empty()) {
          Refuse(e, "its name is refused: " + why);
          return fat::WalkStep::SkipFolder;
        }
        const std::string path = dirs_.back() + "/" + e.Name;
        if (e.IsFolder()) {
          bool made = false;
          if (!MakeFolderAt(e, path, made)) return fat::WalkStep::SkipFolder;
          dirs_.push_back(path);
          // A folder that was there already keeps its own time.
          if (selected && made) open_.push_back({e.Depth, path, e.Path, e.Modified});
          return fat::WalkStep::Continue;
        }
        if (e.Kind == fat::EntryKind::File || e.Kind == fat::EntryKind::Journal) {
          ExtractFile(e, path);
        } else {
          ++skipped_;
          Note("\"" + e.Path + "\" skipped: a " + fat::EntryKindName(e.Kind) +
               (e.LinkTarget.empty() ? std::string() : " to \"" + e.LinkTarget + "\"") + "; no such file is made");
        }
        return fat::WalkStep::Continue;
      },
      [&](const fat::Finding& f) {
        if (f.Path == "/" || Selected(f.Path) || LeadsToRequest(f.Path))
          Note("\"" + f.Path + "\": " + fat::FindingKindName(f.Kind) + ": " + f.Text);
      });
  CloseFoldersFrom(0);
  for (std::size_t i = 0; i < requests_.size(); ++i)
    if (!found_[i]) {
      ++failed_;
      Note("\"" + requests_[i] + "\" not extracted: the volume lists no such file or folder");
    }
  std::string tail;
  if (skipped_) tail += "; " + Plural(skipped_, "special file", "special files") + " skipped";
  if (failed_) tail += "; " + std::to_string(failed_) + " not extracted";
  std::printf("extracted %s (%s) and %s into \"%s\"%s\n", Plural(files_, "file", "files").c_str(),
              Plural(bytes_, "byte", "bytes").c_str(), Plural(folders_, "new folder", "new folders").c_str(),
              dir.c_str(), tail.c_str());
  return Flushed("extract", failed_ > 0 ? 1 : 0);
}

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
  Extraction extraction(o, v);
  return extraction.Run();
}

}  // namespace orvella::cli
