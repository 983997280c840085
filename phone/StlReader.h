#pragma once
// Rebuilds an STL logical volume as the phone's stlN device reads it, from the units of
// its partition (block v of the source is VBN v). Every structure is checked before it
// is trusted; a volume whose checks leave any doubt about a logical page is refused
// with the reason, and nothing of it is emitted.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "phone/PageSource.h"
#include "phone/StlFormat.h"

namespace orvella::phone {

// Something the rebuild met: a refusal's cause, an older copy taken, a group dropped.
struct StlFinding {
  std::string Kind;         // a short word: root, zone, header, meta, bmt, context, group, log, crc
  std::int64_t Block = -1;  // VBN, -1 where none applies
  std::int32_t Page = -1;   // page in that block, -1 where none applies
  std::string Text;
};

struct StlRootBlock {
  std::uint32_t Vbn = 0;
  bool Valid = false;       // its page 0 passes the checks
  std::uint64_t Age = 0;    // of page 0
  std::int32_t Current = -1;  // page of the root info taken, in the block chosen
};

struct StlLogInfo {
  std::uint32_t Lbn = 0;
  std::uint32_t Vbn = 0;
  bool Active = false;
  std::uint32_t RecordedPages = 0;  // pages the stored mapping covers
  std::uint32_t ReplayedPages = 0;  // pages committed by the active-log replay
};

struct StlReport {
  bool Stl = false;      // a root page with the signature was found
  bool Rebuilt = false;  // false: Refusal says why
  std::string Refusal;
  std::uint32_t Units = 0;
  std::uint32_t VolumeSectors = 0;
  std::uint32_t ZoneBlocks = 0, MetaBlocks = 0, UserBlocks = 0, LocalAreas = 0;
  std::vector<StlRootBlock> RootBlocks;
  std::vector<std::uint32_t> MetaVbns;
  // "old", "new:E,r,P[,a]" or "none" when the tables came from a scan of the meta blocks.
  std::string HeaderLayout;
  StlHeaderLayout Layout;
  std::int64_t HeaderBlock = -1;  // VBN of the header block replayed
  std::vector<StlLogInfo> Logs;
  std::uint64_t LogPagesUsed = 0;  // logical pages taken from log blocks
  std::vector<StlFinding> Findings;
};

// Receives the volume's bytes in order; false (with `error`) stops the emit.
using StlByteSink = std::function<bool(const std::uint8_t* data, std::size_t n, std::string& error)>;

class StlVolume {
 public:
  explicit StlVolume(PageSource& source) : source_(source) {}

  // Reads and checks every structure. False when the volume cannot be rebuilt soundly
  // (Report().Refusal says why) or when a page read fails (also in Refusal).
  bool Open();
  const StlReport& Report() const { return report_; }
  std::uint64_t Bytes() const { return std::uint64_t{report_.VolumeSectors} * 512; }

  // After a successful Open: delivers the volume's bytes in order, at most one logical
  // block (256 KiB) per call; false with `error` when a read fails or the sink refuses.
  bool Emit(const StlByteSink& sink, std::string& error);

  // Where logical page lpn is read from: (VBN << 6) | page, or kUnwritten (reads 0xFF).
  static constexpr std::uint32_t kUnwritten = 0xFFFFFFFF;
  std::uint32_t Locate(std::uint32_t lpn) const;

  // The volume as the rebuild resolved it.
  struct Group {
    std::uint32_t Dgn = 0;
    std::uint16_t LogVbn[kStlLogsPerGroup];
    std::uint16_t CleanPage[kStlLogsPerGroup];
    std::uint16_t Map[kPagesPerBlock];  // (log << 6) | page, kNone16 = the data block
  };
  struct Resolution {
    std::vector<std::uint16_t> DataVbn;  // per LBN; kNone16 reads 0xFF
    std::map<std::uint32_t, Group> Groups;
  };

 private:
  PageSource& source_;
  StlReport report_;
  Resolution resolved_;
  bool open_ = false;
};

}  // namespace orvella::phone
