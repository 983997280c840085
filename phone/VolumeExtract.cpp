#include "phone/VolumeExtract.h"

#include <optional>
#include <set>

#include "fat/Names.h"
#include "files/FileIO.h"

namespace orvella::phone {

namespace {

// Temporary names tried beside a file before it is refused: a volume may hold files
// named like part files itself.
constexpr int kPartNameTries = 100;
constexpr char kStopped[] = "Stopped by User.";

std::string Plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

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
  std::string Path;  // in the output folder
  std::string VolumePath;
  fat::DosTimestamp Modified;
};

class Extraction {
 public:
  Extraction(fat::Volume& volume, const ExtractRequest& request, ExtractReporter& reporter)
      : volume_(volume), request_(request), reporter_(reporter) {
    for (std::string p : request.Paths) {
      if (p.empty() || p.front() != '/') p.insert(p.begin(), '/');
      while (p.size() > 1 && p.back() == '/') p.pop_back();
      if (p == "/") {
        requests_.clear();
        all_ = true;
        break;
      }
      requests_.push_back(p);
    }
    if (request.Paths.empty()) all_ = true;
    found_.assign(requests_.size(), false);
  }

  ExtractTotals Run();

 private:
  bool Selected(const std::string& path);
  bool LeadsToRequest(const std::string& path) const;
  void Refuse(const fat::Entry& e, const std::string& why);
  // False, after saying why, when no folder can stand at `path`; `made` when this run made it.
  bool MakeFolderAt(const fat::Entry& e, const std::string& path, bool& made);
  void ExtractFile(const fat::Entry& e, const std::string& path);
  void CloseFoldersFrom(std::uint32_t depth);
  void SetTime(const std::string& path, const fat::DosTimestamp& t, const std::string& volumePath);
  bool Stopping() {
    if (!totals_.Stopped && reporter_.Stop()) totals_.Stopped = true;
    return totals_.Stopped;
  }

  fat::Volume& volume_;
  const ExtractRequest& request_;
  ExtractReporter& reporter_;
  bool all_ = false;
  std::vector<std::string> requests_;
  std::vector<bool> found_;
  std::vector<std::string> dirs_;  // the output folder at each depth: [0] is the folder
  std::vector<FolderTime> open_;   // folders made, whose times are set once they are complete
  std::set<FileId> written_;       // files this run wrote
  ExtractTotals totals_;
  std::uint64_t fileBytes_ = 0;  // of the file being written
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
  ++totals_.Failed;
  reporter_.Note("\"" + e.Path + "\"" + (e.IsFolder() ? " and what it holds" : "") + " not extracted: " + why);
}

void Extraction::SetTime(const std::string& path, const fat::DosTimestamp& t, const std::string& volumePath) {
  if (!t.Valid()) return;
  std::string error;
  if (SetModifiedTime(path, UnixSeconds(t), error)) return;
  ++totals_.Failed;
  reporter_.Note("\"" + volumePath + "\" extracted, but its modification time was not set: " + error);
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
        ++totals_.Folders;
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
  if (const std::string refusal = OutputRefusal(path, request_.Inputs, request_.Replace, request_.ReplaceHint);
      !refusal.empty()) {
    ++totals_.Failed;
    reporter_.Note(refusal);
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
  const fat::ReadResult r = volume_.Read(e, [&](const std::uint8_t* data, std::size_t n) {
    if (Stopping()) {
      writeError = kStopped;
      return false;
    }
    if (!out.Out().WriteAll(data, n, writeError)) return false;
    fileBytes_ += n;
    reporter_.Progress(totals_.Bytes + fileBytes_);
    return true;
  });
  fileBytes_ = 0;
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
  ++totals_.Files;
  totals_.Bytes += e.Size;
  SetTime(path, e.Modified, e.Path);
  reporter_.Extracted(e, path);
}

ExtractTotals Extraction::Run() {
  std::string error;
  const std::string& dir = request_.Folder;
  switch (KindOfPath(dir)) {
    case PathKind::Missing:
      if (!MakeFolder(dir, error)) {
        reporter_.Note(error);
        totals_.NoFolder = true;
        return totals_;
      }
      break;
    case PathKind::Folder: break;
    case PathKind::Link:
      if (IdOfFile(dir) && !FileExists(dir)) break;  // a link to a folder the user named
      [[fallthrough]];
    case PathKind::File:
    case PathKind::Other:
      reporter_.Note("\"" + dir + "\" is no folder");
      totals_.NoFolder = true;
      return totals_;
  }
  dirs_ = {dir};
  volume_.Walk(
      [&](const fat::Entry& e) {
        if (Stopping()) return fat::WalkStep::Stop;
        CloseFoldersFrom(e.Depth);
        const bool selected = Selected(e.Path);
        const bool leads = !selected && e.IsFolder() && LeadsToRequest(e.Path);
        if (!selected && !leads) return e.IsFolder() ? fat::WalkStep::SkipFolder : fat::WalkStep::Continue;
        if (e.Depth > dirs_.size()) return fat::WalkStep::SkipFolder;  // under a folder not made
        dirs_.resize(e.Depth);
        std::string why = fat::UnsafeNameReason(e.Name);
        if (why.empty() && request_.WindowsNames) why = fat::WindowsNameReason(e.Name);
        if (!why.empty()) {
          Refuse(e, "its name is refused: " + why);
          return fat::WalkStep::SkipFolder;
        }
        const std::string path = dirs_.back() + "/" + e.Name;
        if (e.IsFolder()) {
          bool made = false;
          if (!MakeFolderAt(e, path, made)) return fat::WalkStep::SkipFolder;
          dirs_.push_back(path);
          // A folder made here takes the volume's time, one made only on the way to a
          // requested path too; a folder that was there already keeps its own.
          if (made) open_.push_back({e.Depth, path, e.Path, e.Modified});
          return fat::WalkStep::Continue;
        }
        if (e.Kind == fat::EntryKind::File || e.Kind == fat::EntryKind::Journal) {
          ExtractFile(e, path);
        } else {
          ++totals_.Skipped;
          reporter_.Note("\"" + e.Path + "\" skipped: a " + fat::EntryKindName(e.Kind) +
                         (e.LinkTarget.empty() ? std::string() : " to \"" + e.LinkTarget + "\"") +
                         "; no such file is made");
        }
        return totals_.Stopped ? fat::WalkStep::Stop : fat::WalkStep::Continue;
      },
      [&](const fat::Finding& f) {
        if (f.Path == "/" || Selected(f.Path) || LeadsToRequest(f.Path))
          reporter_.Note("\"" + f.Path + "\": " + fat::FindingKindName(f.Kind) + ": " + f.Text);
      });
  CloseFoldersFrom(0);
  if (totals_.Stopped) return totals_;
  for (std::size_t i = 0; i < requests_.size(); ++i)
    if (!found_[i]) {
      ++totals_.Failed;
      reporter_.Note("\"" + requests_[i] + "\" not extracted: the volume lists no such file or folder");
    }
  return totals_;
}

}  // namespace

ExtractTotals ExtractFiles(fat::Volume& volume, const ExtractRequest& request, ExtractReporter& reporter) {
  Extraction extraction(volume, request, reporter);
  return extraction.Run();
}

std::string ExtractTotalText(const ExtractTotals& totals, const std::string& folder) {
  std::string tail;
  if (totals.Skipped) tail += "; " + Plural(totals.Skipped, "special file", "special files") + " skipped";
  if (totals.Failed) tail += "; " + std::to_string(totals.Failed) + " not extracted";
  return "extracted " + Plural(totals.Files, "file", "files") + " (" + Plural(totals.Bytes, "byte", "bytes") + ") and " +
         Plural(totals.Folders, "new folder", "new folders") + " into \"" + folder + "\"" + tail;
}

}  // namespace orvella::phone
