#include "cli/VolumeFiles.h"

#include <cstdio>
#include <unordered_map>

#include "cli/Frame.h"
#include "digest/Digest.h"

namespace orvella::cli {

namespace {

// A checksum file is a line or two; anything longer is something else.
constexpr std::size_t kMaxChecksumFileBytes = 4096;
constexpr std::size_t kMd5HexDigits = 32;

std::string LowerAscii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool IsHexDigit(std::uint8_t c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool HasBytes(const fat::Entry& e) { return e.Kind == fat::EntryKind::File || e.Kind == fat::EntryKind::Journal; }

// The file's MD5 in lower-case hex, or "" when it cannot be read whole; false with
// `error` when the digest itself fails.
bool Md5Of(fat::Volume& volume, const fat::Entry& e, std::string& hex, std::string& error) {
  std::unique_ptr<Digester> md5 = MakeDigester(DigestAlgorithm::Md5, error);
  if (!md5) return false;
  bool updated = true;
  const fat::ReadResult r = volume.Read(e, [&](const std::uint8_t* data, std::size_t n) {
    updated = md5->Update(data, n);
    return updated;
  });
  if (!updated || !md5->Finish(hex)) {
    error = "the MD5 digest failed";
    return false;
  }
  if (r.Status != fat::ReadStatus::Complete) hex.clear();
  return true;
}

void Say(const std::string& command, const std::string& text) {
  std::fprintf(stderr, "orvella: %s: %s\n", command.c_str(), text.c_str());
}

}  // namespace

const char* Md5CheckText(Md5Check check) {
  switch (check) {
    case Md5Check::Matches: return "md5 matches";
    case Md5Check::Differs: return "md5 differs";
    case Md5Check::Unread: return "md5 unread";
    case Md5Check::None: break;
  }
  return "-";
}

std::string ModifiedText(const fat::DosTimestamp& t) {
  const std::string text = t.Text();
  return text.empty() ? "-" : text;
}

std::string FileSystemText(const fat::Volume& volume) {
  const fat::Geometry& g = volume.Facts();
  return std::string(fat::FatTypeName(g.Type)) + ", label \"" + volume.Label() + "\", " + std::to_string(g.Clusters) +
         " clusters of " + std::to_string(g.ClusterBytes) + " bytes";
}

bool OpenVolume(const std::string& command, const std::string& source, const std::string& row, OpenedVolume& v) {
  v.Source = source;
  std::string error;
  fat::ByteSource* bytes = &v.File;
  if (row.empty()) {
    if (!v.File.Open(source, error)) {
      Say(command, error);
      return false;
    }
    v.Layer = "file";
    v.LayerText = "the volume file \"" + source + "\"";
  } else {
    NoteNotWhole(command, source);
    if (!v.Chip.Open(source, error)) {
      Say(command, error);
      return false;
    }
    v.Dump = phone::ReadPhoneDump(v.Chip, false);
    if (!v.Dump.TableFound) {
      Say(command, "\"" + source + "\" holds no partition table at block 1: " + v.Dump.TableProblem);
      return false;
    }
    std::vector<std::string> names;
    for (const phone::PitEntry& e : v.Dump.Table.Entries) names.push_back(e.Name);
    std::size_t k = 0;
    if (!ResolveRow(names, row, k, error) || !v.Partition.Open(v.Chip, v.Dump, k, error)) {
      Say(command, error);
      return false;
    }
    v.Row = k;
    v.RowName = names[k];
    v.Layer = phone::VolumeLayerWord(v.Partition.Layer());
    v.LayerText = "row " + std::to_string(k + 1) + " (" + v.RowName + ") of \"" + source + "\", " +
                  v.Partition.LayerText();
    v.StlRefusal = v.Partition.StlRefusal();
    if (!v.StlRefusal.empty())
      Say(command, "row " + std::to_string(k + 1) + " (" + v.RowName + "): its STL volume was refused (" +
                       v.StlRefusal + "); the partition is read as the phone's bml device reads it");
    bytes = &v.Partition;
  }
  v.Volume = fat::Volume::Open(*bytes, error);
  if (!v.Volume) {
    Say(command, "no FAT volume in " + v.LayerText + ": " + error +
                     (row.empty() ? "; for a partition of a full dump, give --row N|NAME" : ""));
    return false;
  }
  return true;
}

std::optional<std::string> Md5FileDigits(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < kMd5HexDigits) return std::nullopt;
  std::string digits;
  for (std::size_t i = 0; i < kMd5HexDigits; ++i) {
    if (!IsHexDigit(bytes[i])) return std::nullopt;
    digits += static_cast<char>(bytes[i]);
  }
  // "md5sum" writes the digits, two blanks and the name; others a newline or nothing.
  if (bytes.size() > kMd5HexDigits) {
    const std::uint8_t after = bytes[kMd5HexDigits];
    if (after != ' ' && after != '\t' && after != '\r' && after != '\n' && after != 0) return std::nullopt;
  }
  return LowerAscii(digits);
}

bool ListVolume(fat::Volume& volume, bool everyDigest, VolumeListing& listing, std::string& error) {
  listing = VolumeListing{};
  std::unordered_map<std::string, std::size_t> byPath;  // the last entry listed under each path
  listing.Totals = volume.Walk(
      [&](const fat::Entry& e) {
        byPath[e.Path] = listing.Entries.size();
        listing.Entries.push_back(ListedEntry{e, Md5Check::None, {}, {}});
        return fat::WalkStep::Continue;
      },
      [&](const fat::Finding& f) {
        const std::size_t index = listing.Findings.size();
        listing.Findings.push_back(f);
        const auto it = byPath.find(f.Path);
        if (it != byPath.end())
          listing.Entries[it->second].Findings.push_back(index);
        else
          listing.VolumeFindings.push_back(index);
      });

  // FAT names are alike in any case, so "NV_DATA.BIN.MD5" stands beside "nv_data.bin".
  std::unordered_map<std::string, std::size_t> files;
  for (std::size_t i = 0; i < listing.Entries.size(); ++i)
    if (HasBytes(listing.Entries[i].Entry)) files.emplace(LowerAscii(listing.Entries[i].Entry.Path), i);
  for (ListedEntry& le : listing.Entries) {
    if (!HasBytes(le.Entry)) continue;
    std::optional<std::string> expected;
    const auto sibling = files.find(LowerAscii(le.Entry.Path) + ".md5");
    if (sibling != files.end() && listing.Entries[sibling->second].Entry.Size <= kMaxChecksumFileBytes) {
      std::vector<std::uint8_t> bytes;
      if (volume.ReadAll(listing.Entries[sibling->second].Entry, bytes, kMaxChecksumFileBytes).Status ==
          fat::ReadStatus::Complete)
        expected = Md5FileDigits(bytes);
    }
    if (!expected && !everyDigest) continue;
    if (!Md5Of(volume, le.Entry, le.Md5, error)) return false;
    if (expected) le.Check = le.Md5.empty() ? Md5Check::Unread : le.Md5 == *expected ? Md5Check::Matches : Md5Check::Differs;
  }
  return true;
}

std::optional<VolumeFilesFacts> EfsFilesOfDump(const std::string& image) {
  phone::ImagePageSource chip;
  std::string error;
  if (!chip.Open(image, error)) return std::nullopt;
  const phone::PhoneDump dump = phone::ReadPhoneDump(chip, false);
  if (!dump.TableFound) return std::nullopt;
  std::vector<std::string> names;
  for (const phone::PitEntry& e : dump.Table.Entries) names.push_back(e.Name);
  std::size_t k = 0;
  phone::PartitionBytes bytes;
  if (!ResolveRow(names, "EFS", k, error) || !bytes.Open(chip, dump, k, error) ||
      bytes.Layer() != phone::VolumeLayer::Stl)
    return std::nullopt;

  VolumeFilesFacts facts;
  facts.Partition = names[k] + " (row " + std::to_string(k + 1) + ")";
  facts.Layer = bytes.LayerText();
  const std::unique_ptr<fat::Volume> volume = fat::Volume::Open(bytes, error);
  if (!volume) {
    facts.Problem = "no FAT volume: " + error;
    return facts;
  }
  facts.FileSystem = FileSystemText(*volume);
  VolumeListing listing;
  if (!ListVolume(*volume, true, listing, error)) {
    facts.Problem = error;
    return facts;
  }
  for (const ListedEntry& le : listing.Entries) {
    ReportedFile f;
    f.Path = le.Entry.Path;
    f.Kind = fat::EntryKindName(le.Entry.Kind);
    f.Size = le.Entry.Size;
    f.Modified = ModifiedText(le.Entry.Modified);
    f.Md5 = le.Md5;
    if (le.Check == Md5Check::Matches || le.Check == Md5Check::Differs) f.Md5Matches = le.Check == Md5Check::Matches;
    facts.Files.push_back(std::move(f));
  }
  for (const fat::Finding& f : listing.Findings)
    facts.Findings.push_back(f.Path + ": " + fat::FindingKindName(f.Kind) + ": " + f.Text);
  return facts;
}

}  // namespace orvella::cli
