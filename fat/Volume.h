#pragma once
// A FAT12/16/32 volume with long names and the phone's additions, read-only from a byte
// source: its boot-sector facts, a walk over every file and folder with the findings of
// every structure that does not hold together, and a file's bytes streamed in chunks.
//
// Nothing read from the volume is trusted: every chain is followed with a bound and
// checked for loops, links out of range, early ends and clusters another chain holds;
// a folder that holds itself is not entered twice. Each such problem is a finding on the
// file or folder it concerns, and the walk goes on with the rest. Memory stays bounded
// whatever the volume's size: the FAT is read through a small cache, folders are read
// as they are walked, and file bytes pass through one buffer.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fat/BootSector.h"
#include "fat/ByteSource.h"
#include "fat/Directory.h"

namespace orvella::fat {

enum class EntryKind : std::uint8_t { File, Folder, Journal, Symlink, Fifo, Socket };
// "file", "folder", "journal", "symlink", "fifo", "socket".
const char* EntryKindName(EntryKind kind);

// Owner and mode from the phone file system's extended entry.
struct FileOwner {
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  std::uint16_t Mode = 0;  // permission bits as stored
};

struct Entry {
  // From the root, the names joined by "/": "/data/nv_data.bin". A damaged long name may
  // hold "/" itself, so whoever makes files checks each Name, not the Path.
  std::string Path;
  std::string Name;       // the last part: the long name, else the short name
  std::string ShortName;  // "NV_DATA.BIN" as stored (case flags applied)
  EntryKind Kind = EntryKind::File;
  std::uint8_t Attributes = 0;
  std::uint32_t Size = 0;  // as stored; 0 for folders
  std::uint32_t FirstCluster = 0;
  DosTimestamp Modified;
  DosTimestamp Created;  // absent when XattrCluster holds its fields
  std::uint16_t AccessedDate = 0;
  std::optional<std::uint32_t> XattrCluster;  // first cluster of its extended attributes
  std::optional<FileOwner> Owner;
  std::string LinkTarget;          // symbolic links whose record could be read
  std::uint64_t EntryOffset = 0;   // byte offset of its short entry in the volume
  std::uint32_t Depth = 1;         // 1 for what the root folder holds

  bool IsFolder() const { return Kind == EntryKind::Folder; }
};

enum class FindingKind : std::uint8_t {
  VolumeCut,        // the source holds less than the boot sector's volume
  ChainLoop,        // a chain comes back to one of its own clusters
  ChainOutOfRange,  // a first cluster or link outside the volume's clusters
  ChainFree,        // a chain runs into a free cluster
  ChainBad,         // a chain runs into a cluster marked bad
  CrossLink,        // a chain runs into a cluster another chain holds
  SizeBeyondChain,  // the size needs more clusters than the chain holds
  ChainBeyondSize,  // the chain holds more clusters than the size needs
  DataPastSource,   // clusters of a file lie past the end of the source
  FolderCycle,      // a folder that is itself or a folder above it
  FolderTooLarge,   // a folder of more than 65536 entries
  PathTooLong,      // a folder nested too deep to be listed
  LongName,         // long-name parts that do not belong to their short entry
  ExtendedEntry,    // an announced extended entry that is missing or someone else's
  LinkRecord,       // a symbolic link whose record cannot be read
  ReadError,        // the source failed to read
};
// "volume-cut", "chain-loop", ... as JSON and the tool write them.
const char* FindingKindName(FindingKind kind);

struct Finding {
  FindingKind Kind = FindingKind::ReadError;
  std::string Path;  // the file or folder it concerns; "/" for the volume or its root
  std::string Text;
};

struct WalkTotals {
  std::uint64_t Files = 0;    // files, the journal and special files
  std::uint64_t Folders = 0;
  std::uint64_t Deleted = 0;  // deleted short entries met in the folders walked
  std::uint64_t Bytes = 0;    // sizes of the files, as stored
  std::uint64_t Findings = 0;
  bool Stopped = false;       // the entry callback asked to stop
};

// What the entry callback asks of the walk next.
enum class WalkStep : std::uint8_t { Continue, SkipFolder, Stop };

struct WalkOptions {
  // Follow every file's chain (and extended-attribute chain) to check it; without it
  // only folders are followed: a quicker listing without the files' chain findings.
  bool CheckChains = true;
};

enum class ReadStatus : std::uint8_t {
  Complete,      // all Size bytes delivered
  Short,         // fewer bytes: the chain or the source ended first (Problem says how)
  SourceFailed,  // the source failed to read (Problem holds its error)
  Stopped,       // the byte callback returned false
  NotAFile,      // a folder
};

struct ReadResult {
  ReadStatus Status = ReadStatus::Complete;
  std::uint64_t Bytes = 0;  // delivered to the callback
  std::string Problem;
};

using EntrySink = std::function<WalkStep(const Entry&)>;
using FindingSink = std::function<void(const Finding&)>;
// Gets a file's bytes in order, at most kReadChunkBytes (or one cluster) at a time;
// false stops the read.
using ByteSink = std::function<bool(const std::uint8_t* data, std::size_t n)>;

inline constexpr std::size_t kReadChunkBytes = 256 * 1024;
// Folders whose path would grow longer than this are not entered.
inline constexpr std::size_t kMaxPathBytes = 4096;
// Link records longer than this hold no link target.
inline constexpr std::uint32_t kMaxLinkRecordBytes = 16 + 2 * 4096;

// Clusters met, as a sparse bitmap: pages are made only where clusters are added.
class ClusterSet {
 public:
  bool Contains(std::uint32_t cluster) const;
  // False when the cluster was there already.
  bool Insert(std::uint32_t cluster);

 private:
  static constexpr std::uint32_t kPageBits = 4096;
  std::unordered_map<std::uint32_t, std::array<std::uint64_t, kPageBits / 64>> pages_;
};

class Volume {
 public:
  // Reads the boot sector and the root folder's label. Nothing with `error` set when the
  // source holds no readable FAT volume. The source must outlive the volume.
  static std::unique_ptr<Volume> Open(ByteSource& source, std::string& error);
  ~Volume();
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;

  const Geometry& Facts() const { return geo_; }
  // The root folder's label entry, else the boot sector's label; "" when neither.
  const std::string& Label() const { return label_; }
  // Findings on the volume as a whole; Walk reports them first as well.
  const std::vector<Finding>& VolumeFindings() const { return volumeFindings_; }

  // Every file and folder in pre-order (a folder, then what it holds), deleted entries,
  // dot entries, labels and extended entries left out. Each finding follows the entry
  // it concerns. The volume's findings come first.
  WalkTotals Walk(const EntrySink& onEntry, const FindingSink& onFinding, WalkOptions options = {});

  // The first entry the walk lists at `path` ("/a/b.txt"; ASCII letters match either
  // case).
  std::optional<Entry> Find(std::string_view path);

  // Streams a file's bytes (a link's record, for symbolic links) into `sink`.
  ReadResult Read(const Entry& entry, const ByteSink& sink);
  // The same into `out`; Short without reading when the size exceeds `maxBytes`.
  ReadResult ReadAll(const Entry& entry, std::vector<std::uint8_t>& out, std::size_t maxBytes);

 private:
  struct Cursor;
  struct WalkState;
  enum class LinkKind : std::uint8_t { Next, End, Free, Bad, OutOfRange };
  struct Link {
    LinkKind Kind = LinkKind::End;
    std::uint32_t Value = 0;
  };

  Volume(ByteSource& source, const Geometry& geo);
  bool CopyCached(std::uint64_t offset, std::uint8_t* out, std::size_t n, std::string& error);
  bool NextLink(std::uint32_t cluster, Link& link, std::string& error);
  bool InRange(std::uint32_t cluster) const { return cluster >= 2 && cluster - 2 < geo_.Clusters; }
  std::uint64_t ClusterOffset(std::uint32_t cluster) const;
  bool InChain(std::uint32_t first, std::uint32_t count, std::uint32_t target);
  std::string LinkProblem(const Link& link) const;
  static FindingKind FindingOf(LinkKind kind);

  void Emit(WalkState& w, FindingKind kind, const std::string& path, std::string text);
  bool NextRaw(WalkState& w, Cursor& c, std::uint8_t* e, std::uint64_t& at);
  bool AdvanceFolder(WalkState& w, Cursor& c);
  bool ClaimNext(WalkState& w, std::uint32_t first, std::uint32_t count, std::uint32_t next,
                 const std::string& path, const char* what, const std::string& consequence);
  void MakeEntry(WalkState& w, Cursor& c, const std::uint8_t* e, std::uint64_t at, Entry& entry);
  void CheckChain(WalkState& w, const std::string& path, std::uint32_t first, std::uint64_t size,
                  bool sized, const char* what);
  void ReadLinkTarget(WalkState& w, Entry& entry);
  bool EnterFolder(WalkState& w, const Entry& entry);
  std::string FindLabel();

  ByteSource& source_;
  Geometry geo_;
  std::string label_;
  std::vector<Finding> volumeFindings_;

  // Direct-mapped cache of 4 KiB blocks for the FAT and folder entries.
  static constexpr std::uint32_t kCacheBlockBytes = 4096;
  static constexpr std::uint32_t kCacheSlots = 64;
  struct CacheSlot {
    std::uint64_t Block = ~std::uint64_t{0};
    std::uint32_t Valid = 0;
    std::array<std::uint8_t, kCacheBlockBytes> Bytes{};
  };
  std::vector<CacheSlot> cache_;
  std::vector<std::uint8_t> readBuffer_;
};

}  // namespace orvella::fat
