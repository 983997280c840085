#include "fat/Volume.h"

#include <algorithm>
#include <cstring>

#include "fat/Names.h"

namespace orvella::fat {
namespace {

// The phone file system's journal file, under the names its versions give it; only in
// the root folder.
constexpr std::string_view kJournalNames[] = {"$RFS_LOG.LO$", "rfs.log", "@btfs.log"};

// Link record of a symbolic link: magic, kind byte, pad, u16 length, the UTF-16 target
// padded to 4 bytes, u32 checksum, end magic.
constexpr std::uint32_t kLinkMagic = 0xDFA78699;
constexpr std::uint32_t kLinkEndMagic = 0x83B18ACD;
constexpr std::uint32_t kLinkLength = 6;  // u16
constexpr std::uint32_t kLinkTarget = 8;
constexpr std::uint32_t kLinkTrailerBytes = 8;

std::string Num(std::uint64_t v) { return std::to_string(v); }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Upper(x) == Upper(y); });
}

std::uint64_t RoundUp4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

}  // namespace

const char* EntryKindName(EntryKind kind) {
  switch (kind) {
    case EntryKind::File: return "file";
    case EntryKind::Folder: return "folder";
    case EntryKind::Journal: return "journal";
    case EntryKind::Symlink: return "symlink";
    case EntryKind::Fifo: return "fifo";
    case EntryKind::Socket: return "socket";
  }
  return "file";
}

const char* FindingKindName(FindingKind kind) {
  switch (kind) {
    case FindingKind::VolumeCut: return "volume-cut";
    case FindingKind::ChainLoop: return "chain-loop";
    case FindingKind::ChainOutOfRange: return "chain-out-of-range";
    case FindingKind::ChainFree: return "chain-free-cluster";
    case FindingKind::ChainBad: return "chain-bad-cluster";
    case FindingKind::CrossLink: return "cross-link";
    case FindingKind::SizeBeyondChain: return "size-beyond-chain";
    case FindingKind::ChainBeyondSize: return "chain-beyond-size";
    case FindingKind::DataPastSource: return "data-past-source";
    case FindingKind::FolderCycle: return "folder-cycle";
    case FindingKind::FolderTooLarge: return "folder-too-large";
    case FindingKind::PathTooLong: return "path-too-long";
    case FindingKind::LongName: return "long-name";
    case FindingKind::ExtendedEntry: return "extended-entry";
    case FindingKind::LinkRecord: return "link-record";
    case FindingKind::ReadError: return "read-error";
  }
  return "finding";
}

bool ClusterSet::Contains(std::uint32_t cluster) const {
  const auto it = pages_.find(cluster / kPageBits);
  if (it == pages_.end()) return false;
  const std::uint32_t bit = cluster % kPageBits;
  return (it->second[bit / 64] >> (bit % 64)) & 1u;
}

bool ClusterSet::Insert(std::uint32_t cluster) {
  auto& page = pages_[cluster / kPageBits];
  const std::uint32_t bit = cluster % kPageBits;
  const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
  if (page[bit / 64] & mask) return false;
  page[bit / 64] |= mask;
  return true;
}

// A folder being read: where its next entry is, and the long name gathered so far.
struct Volume::Cursor {
  std::string Path;             // "" for the root
  std::uint32_t First = 0;      // 0 for the fixed root folder of FAT12/16
  std::uint32_t Cluster = 0;    // the cluster being read
  std::uint32_t Clusters = 0;   // of its chain, so far
  std::uint32_t Index = 0;      // entry number in the cluster (or the fixed root)
  std::uint32_t Entries = 0;    // entries read
  std::uint32_t Depth = 0;      // 0 for the root
  bool Ended = false;
  LongNameAssembler LongName;
  bool HasBack = false;         // an entry read ahead and given back
  std::array<std::uint8_t, kDirEntryBytes> Back{};
  std::uint64_t BackAt = 0;
};

struct Volume::WalkState {
  ClusterSet Claims;  // every cluster some chain walked so far holds
  const FindingSink* Findings = nullptr;
  WalkOptions Options;
  WalkTotals Totals;
  std::vector<Cursor> Stack;
};

Volume::Volume(ByteSource& source, const Geometry& geo)
    : source_(source), geo_(geo), cache_(kCacheSlots) {}

Volume::~Volume() = default;

std::unique_ptr<Volume> Volume::Open(ByteSource& source, std::string& error) {
  const std::uint64_t size = source.Size();
  if (size < kBootSectorBytes) {
    error = "the source holds " + Num(size) + " bytes, less than a boot sector (512)";
    return nullptr;
  }
  std::array<std::uint8_t, kBootSectorBytes> sector{};
  std::string readError;
  if (!source.Read(0, sector.data(), sector.size(), readError)) {
    error = "cannot read the boot sector: " + readError;
    return nullptr;
  }
  Geometry geo;
  if (!ParseBootSector(sector.data(), size, geo, error)) return nullptr;
  std::unique_ptr<Volume> v(new Volume(source, geo));
  if (geo.VolumeBytes > size)
    v->volumeFindings_.push_back(
        {FindingKind::VolumeCut, "/",
         "the boot sector gives a volume of " + Num(geo.VolumeBytes) + " bytes, the source holds " +
             Num(size) + ": what lies past byte " + Num(size) + " cannot be read"});
  v->label_ = v->FindLabel();
  if (v->label_.empty()) v->label_ = geo.BootLabel;
  return v;
}

bool Volume::CopyCached(std::uint64_t offset, std::uint8_t* out, std::size_t n, std::string& error) {
  const std::uint64_t size = source_.Size();
  if (offset > size || n > size - offset) {
    error = "byte " + Num(offset) + " lies past the end of the source (" + Num(size) + " bytes)";
    return false;
  }
  while (n > 0) {
    const std::uint64_t block = offset / kCacheBlockBytes;
    CacheSlot& slot = cache_[block % kCacheSlots];
    if (slot.Block != block) {
      const std::uint64_t start = block * kCacheBlockBytes;
      const auto valid = static_cast<std::uint32_t>(std::min<std::uint64_t>(kCacheBlockBytes, size - start));
      slot.Block = ~std::uint64_t{0};
      if (!source_.Read(start, slot.Bytes.data(), valid, error)) return false;
      slot.Block = block;
      slot.Valid = valid;
    }
    const auto in = static_cast<std::uint32_t>(offset - block * kCacheBlockBytes);
    const std::size_t take = std::min<std::size_t>(n, slot.Valid - in);
    std::memcpy(out, slot.Bytes.data() + in, take);
    out += take;
    offset += take;
    n -= take;
  }
  return true;
}

bool Volume::NextLink(std::uint32_t cluster, Link& link, std::string& error) {
  std::uint32_t v = 0;
  std::uint32_t end = 0;
  std::uint8_t b[4] = {};
  switch (geo_.Type) {
    case FatType::Fat12:
      if (!CopyCached(geo_.FatOffset + cluster + cluster / 2, b, 2, error)) return false;
      v = Le16(b);
      v = (cluster & 1) ? v >> 4 : v & 0x0FFF;
      end = 0x0FF8;
      break;
    case FatType::Fat16:
      if (!CopyCached(geo_.FatOffset + std::uint64_t{cluster} * 2, b, 2, error)) return false;
      v = Le16(b);
      end = 0xFFF8;
      break;
    case FatType::Fat32:
      if (!CopyCached(geo_.FatOffset + std::uint64_t{cluster} * 4, b, 4, error)) return false;
      v = Le32(b) & 0x0FFFFFFF;
      end = 0x0FFFFFF8;
      break;
  }
  link.Value = v;
  link.Kind = v >= end         ? LinkKind::End
              : v == end - 1   ? LinkKind::Bad
              : v == 0         ? LinkKind::Free
              : InRange(v)     ? LinkKind::Next
                               : LinkKind::OutOfRange;
  return true;
}

std::uint64_t Volume::ClusterOffset(std::uint32_t cluster) const {
  return geo_.DataOffset + std::uint64_t{cluster - 2} * geo_.ClusterBytes;
}

bool Volume::InChain(std::uint32_t first, std::uint32_t count, std::uint32_t target) {
  std::uint32_t c = first;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (c == target) return true;
    Link link;
    std::string ignored;
    if (!NextLink(c, link, ignored) || link.Kind != LinkKind::Next) return false;
    c = link.Value;
  }
  return false;
}

std::string Volume::LinkProblem(const Link& link) const {
  switch (link.Kind) {
    case LinkKind::Free: return "runs into a free cluster";
    case LinkKind::Bad: return "runs into a cluster marked bad";
    case LinkKind::OutOfRange:
      return "links to cluster " + Num(link.Value) + ", outside clusters 2 to " +
             Num(std::uint64_t{geo_.Clusters} + 1);
    case LinkKind::End: return "ends";
    case LinkKind::Next: break;
  }
  return "goes on";
}

void Volume::Emit(WalkState& w, FindingKind kind, const std::string& path, std::string text) {
  ++w.Totals.Findings;
  if (w.Findings && *w.Findings) (*w.Findings)(Finding{kind, path.empty() ? "/" : path, std::move(text)});
}

FindingKind Volume::FindingOf(LinkKind kind) {
  return kind == LinkKind::Bad          ? FindingKind::ChainBad
         : kind == LinkKind::OutOfRange ? FindingKind::ChainOutOfRange
                                        : FindingKind::ChainFree;
}

bool Volume::ClaimNext(WalkState& w, std::uint32_t first, std::uint32_t count, std::uint32_t next,
                       const std::string& path, const char* what, const std::string& consequence) {
  if (w.Claims.Insert(next)) return true;
  if (InChain(first, count, next))
    Emit(w, FindingKind::ChainLoop, path,
         std::string(what) + " comes back to its cluster " + Num(next) + " after " + Num(count) +
             " clusters" + consequence);
  else
    Emit(w, FindingKind::CrossLink, path,
         std::string(what) + " runs into cluster " + Num(next) + " after " + Num(count) +
             " clusters, which another file or folder already holds" + consequence);
  return false;
}

bool Volume::AdvanceFolder(WalkState& w, Cursor& c) {
  Link link;
  std::string error;
  if (!NextLink(c.Cluster, link, error)) {
    Emit(w, FindingKind::ReadError, c.Path, "its chain cannot be read: " + error);
    return false;
  }
  if (link.Kind == LinkKind::End) return false;
  if (link.Kind != LinkKind::Next) {
    Emit(w, FindingOf(link.Kind), c.Path, "its chain " + LinkProblem(link) + " after " + Num(c.Clusters) +
                     " clusters; the entries after that are not listed");
    return false;
  }
  if (!ClaimNext(w, c.First, c.Clusters, link.Value, c.Path, "its chain",
                 "; the entries after that are not listed"))
    return false;
  c.Cluster = link.Value;
  ++c.Clusters;
  c.Index = 0;
  return true;
}

bool Volume::NextRaw(WalkState& w, Cursor& c, std::uint8_t* e, std::uint64_t& at) {
  if (c.HasBack) {
    std::memcpy(e, c.Back.data(), kDirEntryBytes);
    at = c.BackAt;
    c.HasBack = false;
    return true;
  }
  if (c.Ended) return false;
  if (c.First == 0) {
    if (c.Index >= geo_.RootEntries) {
      c.Ended = true;
      return false;
    }
    at = geo_.RootOffset + std::uint64_t{c.Index} * kDirEntryBytes;
  } else {
    if (c.Index == geo_.ClusterBytes / kDirEntryBytes && !AdvanceFolder(w, c)) {
      c.Ended = true;
      return false;
    }
    at = ClusterOffset(c.Cluster) + std::uint64_t{c.Index} * kDirEntryBytes;
  }
  std::string error;
  if (!CopyCached(at, e, kDirEntryBytes, error)) {
    Emit(w, at >= source_.Size() ? FindingKind::DataPastSource : FindingKind::ReadError, c.Path,
         "its entries from byte " + Num(at) + " on cannot be read: " + error);
    c.Ended = true;
    return false;
  }
  ++c.Index;
  if (++c.Entries > kMaxFolderEntries && e[0] != kEntryEnd) {
    Emit(w, FindingKind::FolderTooLarge, c.Path,
         "it holds more than " + Num(kMaxFolderEntries) + " entries; those past them are not listed");
    c.Ended = true;
    return false;
  }
  return true;
}

void Volume::MakeEntry(WalkState& w, Cursor& c, const std::uint8_t* e, std::uint64_t at, Entry& entry) {
  const std::uint8_t checksum = ShortNameChecksum(e);
  bool hadParts = false;
  const std::optional<std::u16string> longName = c.LongName.Take(checksum, hadParts);
  entry.ShortName = ShortNameText(e);
  entry.Name = longName ? Utf16ToUtf8(longName->data(), longName->size()) : entry.ShortName;
  entry.Path = c.Path + "/" + entry.Name;
  entry.EntryOffset = at;
  entry.Depth = c.Depth + 1;
  entry.Attributes = e[kEntAttr];
  const std::uint8_t flags = e[kEntFlags];
  const std::uint8_t kindByte = e[kEntCreateCentis];
  entry.FirstCluster = Le16(e + kEntClusterLow);
  if (geo_.Type == FatType::Fat32) entry.FirstCluster |= std::uint32_t{Le16(e + kEntClusterHigh)} << 16;
  entry.Modified = {Le16(e + kEntWriteDate), Le16(e + kEntWriteTime), 0};
  entry.AccessedDate = Le16(e + kEntAccessDate);
  if (flags & kFlagXattr)
    entry.XattrCluster = (std::uint32_t{Le16(e + kEntCreateDate)} << 16) | Le16(e + kEntCreateTime);
  else
    entry.Created = {Le16(e + kEntCreateDate), Le16(e + kEntCreateTime),
                     static_cast<std::uint8_t>(kindByte < 200 ? kindByte : 0)};

  if (entry.Attributes & kAttrFolder) {
    entry.Kind = EntryKind::Folder;
  } else {
    entry.Size = Le32(e + kEntSize);
    entry.Kind = kindByte == kKindSymlink ? EntryKind::Symlink
                 : kindByte == kKindFifo  ? EntryKind::Fifo
                 : kindByte == kKindSocket ? EntryKind::Socket
                                           : EntryKind::File;
    if (entry.Kind == EntryKind::File && c.Depth == 0)
      for (std::string_view j : kJournalNames)
        if (EqualNoCase(entry.Name, j) || EqualNoCase(entry.ShortName, j)) entry.Kind = EntryKind::Journal;
  }

  if (hadParts && !longName)
    Emit(w, FindingKind::LongName, entry.Path,
         "the long-name entries before it do not belong to it (a part missing or out of order, "
         "or another name's checksum); it is listed under its short name");

  if (flags & kFlagExtendedEntry) {
    std::array<std::uint8_t, kDirEntryBytes> x{};
    std::uint64_t xAt = 0;
    if (NextRaw(w, c, x.data(), xAt)) {
      if (const auto xde = ParseExtendedEntry(x.data(), checksum)) {
        entry.Owner = FileOwner{xde->Uid, xde->Gid, xde->Mode};
        return;
      }
      c.HasBack = true;
      c.Back = x;
      c.BackAt = xAt;
    }
    Emit(w, FindingKind::ExtendedEntry, entry.Path,
         "its flags announce an extended entry after it, but the next entry is none of its; "
         "its owner and mode are unknown");
  }
}

void Volume::CheckChain(WalkState& w, const std::string& path, std::uint32_t first,
                        std::uint64_t size, bool sized, const char* what) {
  const std::string of = std::string(what);
  if (first == 0) {
    if (sized && size > 0)
      Emit(w, FindingKind::SizeBeyondChain, path,
           "its size is " + Num(size) + " bytes, but it has no clusters; nothing of it can be read");
    return;
  }
  if (!InRange(first)) {
    Emit(w, FindingKind::ChainOutOfRange, path,
         of + " starts at cluster " + Num(first) + ", outside clusters 2 to " +
             Num(std::uint64_t{geo_.Clusters} + 1) + "; nothing of it can be read");
    return;
  }
  if (!w.Claims.Insert(first)) {
    Emit(w, FindingKind::CrossLink, path,
         of + " starts at cluster " + Num(first) + ", which another file or folder already holds");
    return;
  }
  const std::uint64_t cs = geo_.ClusterBytes;
  const std::uint64_t need = (size + cs - 1) / cs;
  const std::uint64_t sourceSize = source_.Size();
  auto readable = [&](std::uint64_t clusters) {
    return " (" + Num(std::min(size, clusters * cs)) + " of its " + Num(size) + " bytes can be read)";
  };
  std::uint32_t count = 1;
  std::uint32_t c = first;
  bool pastSource = false;
  for (;;) {
    if (sized && !pastSource && count <= need) {
      const std::uint64_t want = std::min<std::uint64_t>(cs, size - (count - 1) * cs);
      if (ClusterOffset(c) + want > sourceSize) {
        pastSource = true;
        Emit(w, FindingKind::DataPastSource, path,
             "its cluster " + Num(c) + " lies past the end of the source" + readable(count - 1));
      }
    }
    Link link;
    std::string error;
    if (!NextLink(c, link, error)) {
      Emit(w, FindingKind::ReadError, path, of + " cannot be read: " + error);
      return;
    }
    if (link.Kind == LinkKind::End) break;
    if (link.Kind != LinkKind::Next) {
      Emit(w, FindingOf(link.Kind), path, of + " " + LinkProblem(link) + " after " + Num(count) + " clusters" +
                     (sized ? readable(count) : std::string()));
      return;
    }
    if (!ClaimNext(w, first, count, link.Value, path, what, sized ? readable(count) : std::string()))
      return;
    ++count;
    c = link.Value;
  }
  if (!sized) return;
  if (count < need)
    Emit(w, FindingKind::SizeBeyondChain, path,
         "its size is " + Num(size) + " bytes, but its chain ends after " + Num(count) +
             " clusters" + readable(count));
  else if (count > need)
    Emit(w, FindingKind::ChainBeyondSize, path,
         "its chain holds " + Num(count) + " clusters, its size of " + Num(size) + " bytes needs " +
             Num(need));
}

void Volume::ReadLinkTarget(WalkState& w, Entry& entry) {
  auto bad = [&](const std::string& why) {
    Emit(w, FindingKind::LinkRecord, entry.Path,
         "its link record " + why + "; the link's target is not shown");
  };
  if (entry.Size < kLinkTarget + kLinkTrailerBytes || entry.Size > kMaxLinkRecordBytes) {
    bad("holds " + Num(entry.Size) + " bytes, which no link record does");
    return;
  }
  std::vector<std::uint8_t> record;
  const ReadResult r = ReadAll(entry, record, kMaxLinkRecordBytes);
  if (r.Status != ReadStatus::Complete) {
    bad("cannot be read (" + r.Problem + ")");
    return;
  }
  const std::uint8_t* p = record.data();
  const std::uint64_t n = record.size();
  if (Le32(p) != kLinkMagic || Le32(p + n - 4) != kLinkEndMagic) {
    bad("lacks its magic numbers");
    return;
  }
  const std::uint32_t length = Le16(p + kLinkLength);
  // The length counts UTF-16 units or bytes; only one of the two fits the record's size.
  std::uint64_t units = 0;
  if (n == kLinkTarget + RoundUp4(2ull * length) + kLinkTrailerBytes)
    units = length;
  else if (length % 2 == 0 && n == kLinkTarget + RoundUp4(length) + kLinkTrailerBytes)
    units = length / 2;
  else {
    bad("gives a target length of " + Num(length) + ", which does not fit its " + Num(n) + " bytes");
    return;
  }
  std::u16string target;
  for (std::uint64_t i = 0; i < units; ++i)
    target += static_cast<char16_t>(Le16(p + kLinkTarget + 2 * i));
  while (!target.empty() && target.back() == 0) target.pop_back();
  entry.LinkTarget = Utf16ToUtf8(target.data(), target.size());
}

bool Volume::EnterFolder(WalkState& w, const Entry& entry) {
  const std::uint32_t first = entry.FirstCluster;
  if (first == 0 || (geo_.Type == FatType::Fat32 && first == geo_.RootCluster)) {
    Emit(w, FindingKind::FolderCycle, entry.Path,
         "it starts where the root folder does (cluster " + Num(first) +
             "): the folder holds the root again; what it holds is not listed twice");
    return false;
  }
  if (!InRange(first)) {
    Emit(w, FindingKind::ChainOutOfRange, entry.Path,
         "it starts at cluster " + Num(first) + ", outside clusters 2 to " +
             Num(std::uint64_t{geo_.Clusters} + 1) + "; what it holds cannot be listed");
    return false;
  }
  if (w.Claims.Contains(first)) {
    for (const Cursor& up : w.Stack)
      if (up.First == first) {
        Emit(w, FindingKind::FolderCycle, entry.Path,
             "it starts at cluster " + Num(first) + ", where " + (up.Path.empty() ? "/" : up.Path) +
                 " starts: the folder holds itself; what it holds is not listed twice");
        return false;
      }
    Emit(w, FindingKind::CrossLink, entry.Path,
         "it starts at cluster " + Num(first) +
             ", which another file or folder already holds; what it holds is not listed");
    return false;
  }
  if (entry.Path.size() > kMaxPathBytes) {
    Emit(w, FindingKind::PathTooLong, entry.Path,
         "its path is longer than " + Num(kMaxPathBytes) + " bytes; what it holds is not listed");
    return false;
  }
  w.Claims.Insert(first);
  Cursor c;
  c.Path = entry.Path;
  c.First = first;
  c.Cluster = first;
  c.Clusters = 1;
  c.Depth = entry.Depth;
  w.Stack.push_back(std::move(c));
  return true;
}

WalkTotals Volume::Walk(const EntrySink& onEntry, const FindingSink& onFinding, WalkOptions options) {
  WalkState w;
  w.Findings = &onFinding;
  w.Options = options;
  for (const Finding& f : volumeFindings_) Emit(w, f.Kind, f.Path, f.Text);

  Cursor root;
  if (geo_.Type == FatType::Fat32) {
    root.First = root.Cluster = geo_.RootCluster;
    root.Clusters = 1;
    w.Claims.Insert(geo_.RootCluster);
  }
  w.Stack.push_back(std::move(root));

  std::array<std::uint8_t, kDirEntryBytes> raw{};
  while (!w.Stack.empty()) {
    Cursor& c = w.Stack.back();
    std::uint64_t at = 0;
    const std::uint8_t* e = raw.data();
    if (!NextRaw(w, c, raw.data(), at) || e[0] == kEntryEnd) {
      w.Stack.pop_back();
      continue;
    }
    const std::uint8_t attr = e[kEntAttr];
    if (attr == kAttrExtended) {  // a stray one; before masking, or it reads as a long name
      c.LongName.Reset();
      continue;
    }
    if ((attr & 0x3F) == kAttrLongName) {
      if (e[0] == kEntryDeleted)
        c.LongName.Reset();
      else
        c.LongName.Add(e);
      continue;
    }
    if (e[0] == kEntryDeleted) {
      ++w.Totals.Deleted;
      c.LongName.Reset();
      continue;
    }
    if ((attr & kAttrLabel) || IsDotEntry(e)) {
      c.LongName.Reset();
      continue;
    }

    Entry entry;
    MakeEntry(w, c, e, at, entry);
    if (entry.Kind == EntryKind::Symlink) ReadLinkTarget(w, entry);
    if (entry.IsFolder()) {
      ++w.Totals.Folders;
    } else {
      ++w.Totals.Files;
      w.Totals.Bytes += entry.Size;
    }
    const WalkStep step = onEntry ? onEntry(entry) : WalkStep::Continue;
    if (step == WalkStep::Stop) {
      w.Totals.Stopped = true;
      break;
    }
    if (options.CheckChains) {
      if (!entry.IsFolder())
        CheckChain(w, entry.Path, entry.FirstCluster, entry.Size, true, "its chain");
      if (entry.XattrCluster) {
        if (*entry.XattrCluster == 0)
          Emit(w, FindingKind::ChainOutOfRange, entry.Path,
               "its flags give extended attributes, but their cluster is 0");
        else
          CheckChain(w, entry.Path, *entry.XattrCluster, 0, false, "the chain of its extended attributes");
      }
    }
    // `c` may move when a folder is pushed; nothing below uses it.
    if (entry.IsFolder() && step == WalkStep::Continue) EnterFolder(w, entry);
  }
  return w.Totals;
}

std::string Volume::FindLabel() {
  WalkState w;
  Cursor c;
  if (geo_.Type == FatType::Fat32) {
    c.First = c.Cluster = geo_.RootCluster;
    c.Clusters = 1;
    w.Claims.Insert(geo_.RootCluster);
  }
  std::array<std::uint8_t, kDirEntryBytes> e{};
  std::uint64_t at = 0;
  while (NextRaw(w, c, e.data(), at) && e[0] != kEntryEnd) {
    const std::uint8_t attr = e[kEntAttr];
    if (e[0] == kEntryDeleted || attr == kAttrExtended || (attr & 0x3F) == kAttrLongName) continue;
    if ((attr & (kAttrLabel | kAttrFolder)) == kAttrLabel) {
      std::uint32_t n = 11;
      while (n > 0 && e[n - 1] == ' ') --n;
      std::string label;
      for (std::uint32_t i = 0; i < n; ++i) AppendCp437(label, e[i]);
      return label;
    }
  }
  return {};
}

std::optional<Entry> Volume::Find(std::string_view path) {
  // Paths are taken as listed: a damaged name may end in "/", so none is cut off.
  std::string want(path);
  if (want.empty() || want.front() != '/') want.insert(want.begin(), '/');
  // The same walk as the listing's, so a folder that damage keeps out of the listing is
  // kept out here too and the first entry listed under a path is the one found.
  std::optional<Entry> found;
  Walk(
      [&](const Entry& e) {
        if (!EqualNoCase(e.Path, want)) return WalkStep::Continue;
        found = e;
        return WalkStep::Stop;
      },
      nullptr);
  return found;
}

ReadResult Volume::Read(const Entry& entry, const ByteSink& sink) {
  ReadResult r;
  if (entry.IsFolder()) {
    r.Status = ReadStatus::NotAFile;
    r.Problem = "it is a folder";
    return r;
  }
  std::uint64_t remaining = entry.Size;
  if (remaining == 0) return r;
  if (entry.FirstCluster == 0) {
    r.Status = ReadStatus::Short;
    r.Problem = "it has no clusters";
    return r;
  }
  const std::size_t bufferBytes = std::max<std::size_t>(kReadChunkBytes, geo_.ClusterBytes);
  if (readBuffer_.size() < bufferBytes) readBuffer_.resize(bufferBytes);

  const std::uint64_t sourceSize = source_.Size();
  std::uint64_t runAt = 0;
  std::size_t runBytes = 0;
  // Reads the pending run of clusters and hands it on; false when the read must end.
  auto flush = [&]() {
    if (runBytes == 0) return true;
    std::size_t n = runBytes;
    const bool cut = runAt + n > sourceSize;
    if (cut) n = runAt < sourceSize ? static_cast<std::size_t>(sourceSize - runAt) : 0;
    std::string error;
    if (n > 0 && !source_.Read(runAt, readBuffer_.data(), n, error)) {
      r.Status = ReadStatus::SourceFailed;
      r.Problem = error;
      return false;
    }
    if (n > 0 && !sink(readBuffer_.data(), n)) {
      r.Status = ReadStatus::Stopped;
      r.Problem = "stopped";
      return false;
    }
    r.Bytes += n;
    runBytes = 0;
    if (cut) {
      r.Status = ReadStatus::Short;
      r.Problem = "its data past byte " + Num(r.Bytes) + " lie beyond the end of the source";
      return false;
    }
    return true;
  };

  ClusterSet seen;
  std::uint32_t c = entry.FirstCluster;
  std::string problem;
  while (remaining > 0) {
    if (!InRange(c)) {
      problem = "its chain reaches cluster " + Num(c) + ", outside clusters 2 to " +
                Num(std::uint64_t{geo_.Clusters} + 1);
      break;
    }
    if (!seen.Insert(c)) {
      problem = "its chain comes back to its cluster " + Num(c);
      break;
    }
    const std::uint64_t at = ClusterOffset(c);
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(geo_.ClusterBytes, remaining));
    if (runBytes != 0 && runAt + runBytes == at && runBytes + take <= readBuffer_.size()) {
      runBytes += take;
    } else {
      if (!flush()) return r;
      runAt = at;
      runBytes = take;
    }
    remaining -= take;
    if (remaining == 0) break;
    Link link;
    std::string error;
    if (!NextLink(c, link, error)) {
      if (!flush()) return r;
      r.Status = ReadStatus::SourceFailed;
      r.Problem = error;
      return r;
    }
    if (link.Kind != LinkKind::Next) {
      problem = "its chain " + LinkProblem(link) + " after " + Num(entry.Size - remaining) + " bytes";
      break;
    }
    c = link.Value;
  }
  if (!flush()) return r;
  if (!problem.empty()) {
    r.Status = ReadStatus::Short;
    r.Problem = problem;
  }
  return r;
}

ReadResult Volume::ReadAll(const Entry& entry, std::vector<std::uint8_t>& out, std::size_t maxBytes) {
  out.clear();
  if (entry.Size > maxBytes) {
    ReadResult r;
    r.Status = ReadStatus::Short;
    r.Problem = "its " + Num(entry.Size) + " bytes are more than the " + Num(maxBytes) + " asked for";
    return r;
  }
  out.reserve(entry.Size);
  return Read(entry, [&](const std::uint8_t* data, std::size_t n) {
    out.insert(out.end(), data, data + n);
    return true;
  });
}

}  // namespace orvella::fat
