#include "phone/StlWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <random>

#include "phone/SpareBuffer.h"

namespace orvella::phone {
namespace {

using Page = std::array<std::uint8_t, kPageMainBytes>;

// Rewritten pages per log block before the replayed request and the unfinished tail.
constexpr std::uint32_t kRecordedPerLog = 48;
constexpr std::uint32_t kTailPages = 2;

struct Request {
  std::vector<std::uint32_t> Lpos;
};

// A log group as the STL holds it in memory; stored into PMT pages.
struct Group {
  std::uint32_t Lbn = 0;
  std::uint32_t Vbn = 0;
  std::uint32_t Written = 0;  // pages programmed into the log
  std::uint32_t LastLpo = kNone16;
  std::array<std::uint16_t, kPagesPerBlock> Map{};
  std::vector<Request> Requests;
  bool HoldLastForReplay = false;
};

class Writer {
 public:
  Writer(PageSink& sink, std::vector<std::uint8_t>& volume, const StlWriteOptions& options,
         StlWriteResult& result)
      : sink_(sink), volume_(volume), options_(options), result_(result), rng_(options.Seed) {}

  bool Run(std::string& error);

 private:
  const StlGeometry& G() const { return result_.Geometry; }
  std::uint32_t Next(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
  bool Program(std::uint32_t vbn, std::uint32_t page, const Page& main, const SpareBuffer& spare,
               std::string& error);
  bool ProgramMeta(StlPageKind kind, std::uint32_t page, const Page& main, std::uint32_t sdata1,
                   std::uint32_t sdata2, std::uint16_t ptf, std::uint32_t lbn, std::string& error);
  bool ProgramLog(StlPageKind kind, std::uint32_t vbn, std::uint32_t page, const Page& main,
                  std::uint32_t lpo, bool end, std::uint32_t lpn, std::string& error);
  bool WriteRoot(std::string& error);
  bool WriteHeader(std::uint32_t metaIndex, std::string& error);
  void FillContext(std::uint8_t* ctx);
  bool WriteFormat(std::string& error);
  bool PlanRewrites(std::string& error);
  bool WriteRequest(Group& g, const Request& r, StlPageKind kind, std::string& error);
  bool StorePmt(std::uint32_t lbn, std::string& error);

  PageSink& sink_;
  std::vector<std::uint8_t>& volume_;
  const StlWriteOptions& options_;
  StlWriteResult& result_;
  std::mt19937_64 rng_;
  std::uint64_t contentBytes_ = 0;
  std::uint32_t rctPages_ = 0;
  std::uint64_t ctxAge_ = kStlAgeStart - 2;  // the first meta page follows the format's DH
  std::uint64_t dhAge_ = kStlAgeStart - 1;
  std::uint32_t headerIndex_ = 0;
  std::uint32_t headerPage_ = 0;  // next clean page of the header block
  std::uint32_t freeHead_ = 0;
  std::vector<std::uint16_t> bmtDir_;
  std::vector<std::uint16_t> pmtDir_;
  std::vector<Group> groups_;  // in store order
  std::vector<std::uint32_t> active_;  // indexes into groups_
};

bool Writer::Program(std::uint32_t vbn, std::uint32_t page, const Page& main, const SpareBuffer& spare,
                     std::string& error) {
  std::array<std::uint8_t, kPageSpareBytes> raw;
  raw.fill(0xFF);
  spare.ToPageSpare(raw.data());
  return sink_.WritePage(vbn, page, main.data(), raw.data(), error);
}

bool Writer::ProgramMeta(StlPageKind kind, std::uint32_t page, const Page& main, std::uint32_t sdata1,
                         std::uint32_t sdata2, std::uint16_t ptf, std::uint32_t lbn, std::string& error) {
  const std::uint32_t vbn = G().RootBlocks + headerIndex_;
  SpareBuffer s;
  s.SetU32(kBufSData1, sdata1);
  s.SetU32(kBufSData2, sdata2);
  s.SetU32(kBufSData3, PtfWord(ptf));
  result_.Pages.push_back({kind, vbn, page, 0, lbn});
  return Program(vbn, page, main, s, error);
}

bool Writer::ProgramLog(StlPageKind kind, std::uint32_t vbn, std::uint32_t page, const Page& main,
                        std::uint32_t lpo, bool end, std::uint32_t lpn, std::string& error) {
  SpareBuffer s;
  s.SetU32(kBufSData1, LpoWord(lpo));
  s.SetU32(kBufSData2, 0xFFFFFFFFu);
  s.SetU32(kBufSData3, PtfWord(end ? kPtfLogEnd : kPtfLogMid));
  if (end) {
    static constexpr std::uint32_t kCrcWords[4] = {0, 1, 4, 5};
    for (std::uint32_t q = 0; q < 4; ++q)
      s.SetU32(kBufExt0 + 4 * kCrcWords[q], StlCrc32(main.data() + 1024 * q, 1024));
  }
  result_.Pages.push_back({kind, vbn, page, lpn, lpn / 64});
  return Program(vbn, page, main, s, error);
}

bool Writer::WriteRoot(std::string& error) {
  Page p;
  p.fill(0xFF);
  std::uint8_t* r = p.data();
  std::memset(r, 0, kRootInfoBuffer);
  std::memcpy(r, kStlSignature, sizeof kStlSignature);
  StlPut32(r + kRootVersion, 0);
  StlPutAge(r + kRootAge, kStlAgeStart - 1);
  StlPut32(r + kRootMetaVersion, kStlMetaFormat);
  StlPut16(r + kRootStartVbn, 0);
  StlPut16(r + kRootPageOffset, 1);
  StlPut16(r + kRootZones, 1);
  StlPut16(r + kRootBlockCount, G().RootBlocks);
  StlPut16(r + kRootN, 1);
  StlPut16(r + kRootK, kStlLogsPerGroup);
  StlPut16(r + kRootLog2N, 0);
  StlPut16(r + kRootLog2K, 3);
  for (std::uint32_t i = 0; i < G().RootBlocks; ++i) StlPut32(r + kRootEraseCounts + 4 * i, 1);
  for (std::uint32_t z = 0; z < kZoneCount; ++z) {
    std::uint8_t* zi = r + ZoneInfoOffset(G().RootBlocks) + z * kZoneInfoBytes;
    std::memset(zi + kZoneMetaList, 0xFF, 2 * kStlMaxMetaBlocks);
  }
  std::uint8_t* z = r + ZoneInfoOffset(G().RootBlocks);
  const StlGeometry& g = G();
  StlPut16(z + kZoneStartVbn, g.RootBlocks);
  StlPut16(z + kZoneBlocks, g.ZoneBlocks);
  StlPut16(z + kZoneMetaBlocks, g.MetaBlocks);
  z[kZoneDhPages] = static_cast<std::uint8_t>(options_.Layout.Old ? 3 : options_.Layout.Pages);
  z[kZoneRctPages] = static_cast<std::uint8_t>(rctPages_);
  StlPut16(z + kZoneMaxPmtDir, g.PmtDir);
  StlPut16(z + kZoneGroupsPerPmt, 8);
  StlPut16(z + kZoneFreeBlocks, g.FreeBlocks);
  StlPut16(z + kZoneUserBlocks, g.UserBlocks);
  StlPut32(z + kZoneUserSectors, g.UserBlocks * kStlSectorsPerBlock);
  StlPut32(z + kZoneUserPages, g.UserBlocks * kPagesPerBlock);
  StlPut16(z + kZoneLaCount, g.LocalAreas);
  StlPut16(z + kZoneBlocksPerLa, kStlBlocksPerLa);
  StlPut32(z + kZoneLog2BlocksPerLa, 9);
  for (std::uint32_t i = 0; i < g.MetaBlocks; ++i) StlPut16(z + kZoneMetaList + 2 * i, g.RootBlocks + i);
  const std::uint32_t zbc = ZeroBitCount(r, RootInfoChecked(g.RootBlocks));
  SpareBuffer s;
  s.SetU32(kBufSData1, zbc);
  s.SetU32(kBufSData2, ~zbc);
  s.SetU32(kBufSData3, PtfWord(kPtfRoot));
  result_.Pages.push_back({StlPageKind::Root, 0, 0, 0, 0});
  return Program(0, 0, p, s, error);
}

// Writes the directory header into pages 0 .. P-1 of meta block `metaIndex` and makes it
// the header block.
bool Writer::WriteHeader(std::uint32_t metaIndex, std::string& error) {
  const StlHeaderLayout& layout = options_.Layout;
  const StlGeometry& g = G();
  const std::uint32_t pages = layout.Old ? 3 : layout.Pages;
  const StlHeaderOffsets o = layout.Offsets(g.MetaBlocks, g.LocalAreasEven());
  std::vector<std::uint8_t> dh(std::size_t{pages} * kPageMainBytes, 0xFF);
  const std::uint32_t entries = layout.Old ? kStlMaxPmtDir : layout.PmtEntries;
  for (std::uint32_t i = 0; i < g.MetaBlocks; ++i) {
    StlPut16(&dh[o.IdleList + 2 * i], i);
    StlPut16(&dh[o.ValidCounts + 2 * i], i == headerIndex_ ? headerPage_ : 0);
    StlPut32(&dh[o.EraseCounts + 4 * i], 1);
  }
  for (std::uint32_t l = 0; l < g.LocalAreasEven(); ++l)
    StlPut16(&dh[o.BmtDir + 2 * l], l < bmtDir_.size() ? bmtDir_[l] : kNone16);
  std::memset(&dh[o.MergeFlags], 0, (entries + 7) / 8);
  for (std::uint32_t d = 0; d < entries && d < pmtDir_.size(); ++d)
    if (pmtDir_[d] != kNone16) {
      StlPut16(&dh[o.PmtDir + 4 * d], 0);
      StlPut16(&dh[o.PmtDir + 4 * d + 2], pmtDir_[d]);
    }
  std::uint8_t* f = &dh[o.Fixed];
  StlPutAge(f + kDhAge, dhAge_--);
  StlPut32(f + kDhVictim, 0);
  // The stored header index and latest-context fields are those of the previous header.
  StlPut16(f + kDhHeaderIndex, metaIndex == 0 ? kNone16 : headerIndex_);
  StlPut16(f + kDhCleanPage, 0);
  StlPut16(f + kDhLatestBlock, 0);
  StlPut16(f + kDhLatestPage, 0);
  StlPut16(f + kDhIdleHead, metaIndex + 1);
  StlPut16(f + kDhIdleCount, g.MetaBlocks - metaIndex - 1);
  StlPut16(f + kDhMinEcPmt, 0);
  StlPut16(f + kDhPmtEntries, 0);
  headerIndex_ = metaIndex;
  for (std::uint32_t p = 0; p < pages; ++p) {
    Page page;
    std::memcpy(page.data(), &dh[std::size_t{p} * kPageMainBytes], kPageMainBytes);
    const std::uint32_t zbc = ZeroBitCount(page.data(), kPageMainBytes);
    if (!ProgramMeta(StlPageKind::DirHeader, p, page, zbc, ~zbc, kPtfDirHeader, 0, error)) return false;
  }
  headerPage_ = pages;
  return true;
}

void Writer::FillContext(std::uint8_t* ctx) {
  const StlGeometry& g = G();
  std::memset(ctx, 0xFF, kContextBytes);
  StlPutAge(ctx + kCtxAge, ctxAge_--);
  StlPut16(ctx + kCtxMergedDgn, kNone16);
  StlPut16(ctx + kCtxMergedVbn, kNone16);
  StlPut16(ctx + 12, 0);
  StlPut16(ctx + kCtxMergeVictim, kNone16);
  StlPut16(ctx + kCtxMergeVictim + 2, 0);
  StlPut16(ctx + kCtxModifiedDgn, kNone16);
  StlPut16(ctx + kCtxModifiedDgn + 2, kNone16);
  StlPut16(ctx + kCtxActiveCount, static_cast<std::uint32_t>(active_.size()));
  StlPut16(ctx + kCtxFreeCount, g.FreeBlocks - freeHead_);
  StlPut16(ctx + kCtxFreeHead, freeHead_);
  StlPut32(ctx + kCtxIdleBlocks, g.UserBlocks);
  StlPut16(ctx + kCtxMinEcLan, g.LocalAreas - 1);
  StlPut16(ctx + kCtxZoneWl, 0);
  for (std::uint32_t off = kCtxZoneWl + 2; off < 44; off += 2) StlPut16(ctx + off, kNone16);
  StlPut32(ctx + 44, 0);
  StlPut32(ctx + 48, 0);
  StlPut16(ctx + kCtxMinEcPmt, kNone16);
  StlPut16(ctx + kCtxMinEcPmt + 2, kNone16);
  for (std::size_t i = 0; i < active_.size(); ++i) {
    StlPut16(ctx + kCtxActiveList + 4 * i, groups_[active_[i]].Lbn);
    StlPut16(ctx + kCtxActiveList + 4 * i + 2, groups_[active_[i]].Vbn);
  }
  for (std::uint32_t i = 0; i < g.FreeBlocks; ++i) StlPut16(ctx + kCtxFreeList + 2 * i, g.FirstFreeVbn() + i);
  std::memset(ctx + kCtxFreeEc, 0, 4 * kCtxFreeSlots);
  std::memset(ctx + kCtxLaArrays, 0, 6 * g.LocalAreas);
  const std::uint32_t checked = ContextChecked(g.LocalAreas);
  std::memset(ctx + kCtxLaArrays + 6 * g.LocalAreas, 0, checked - kCtxLaArrays - 6 * g.LocalAreas);
  PutConfirmation(ctx, checked);
}

bool Writer::WriteFormat(std::string& error) {
  const StlGeometry& g = G();
  if (!WriteRoot(error)) return false;
  pmtDir_.assign(g.PmtDir, kNone16);
  bmtDir_.assign(g.LocalAreas, kNone16);
  if (!WriteHeader(0, error)) return false;
  const std::uint64_t usedBlocks = (contentBytes_ + kBlockMainBytes - 1) / kBlockMainBytes;
  for (std::uint32_t lan = 0; lan < g.LocalAreas; ++lan) {
    Page p;
    p.fill(0xFF);
    std::uint8_t* b = p.data();
    StlPut16(b + kBmtLan, lan);
    StlPut16(b + kBmtLan + 2, ~lan & 0xFFFF);
    std::memset(b + kBmtEraseCounts, 0, 4 * kStlBlocksPerLa);
    std::memset(b + kBmtGarbage, 0xFF, 64);
    for (std::uint32_t j = 0; j < kStlBlocksPerLa; ++j) {
      const std::uint32_t lbn = lan * kStlBlocksPerLa + j;
      StlPut16(b + kBmtVbns + 2 * j, lbn < g.UserBlocks ? g.FirstDataVbn() + lbn : kNone16);
      if (lbn < usedBlocks) b[kBmtGarbage + j / 8] = static_cast<std::uint8_t>(b[kBmtGarbage + j / 8] & ~(1u << (j % 8)));
    }
    PutConfirmation(b, kBmtChecked);
    FillContext(b + kBmtCtxContext);
    bmtDir_[lan] = static_cast<std::uint16_t>(headerIndex_ << 6 | headerPage_);
    if (!ProgramMeta(StlPageKind::BmtCtx, headerPage_++, p, kTypeBmtCtx, 0xFFFFFFFFu, kPtfBmtCtx, 0, error))
      return false;
  }
  for (std::uint64_t lpn = 0; lpn * kPageMainBytes < contentBytes_; ++lpn) {
    Page p;
    std::memcpy(p.data(), &volume_[lpn * kPageMainBytes], kPageMainBytes);
    const std::uint32_t lbn = static_cast<std::uint32_t>(lpn / kPagesPerBlock);
    const std::uint32_t lpo = static_cast<std::uint32_t>(lpn % kPagesPerBlock);
    SpareBuffer s;
    s.SetU32(kBufSData1, LpoWord(lpo));
    s.SetU32(kBufSData2, 0xFFFFFFFFu);
    s.SetU32(kBufSData3, PtfWord(kPtfLogEnd));
    static constexpr std::uint32_t kCrcWords[4] = {0, 1, 4, 5};
    for (std::uint32_t q = 0; q < 4; ++q) s.SetU32(kBufExt0 + 4 * kCrcWords[q], StlCrc32(p.data() + 1024 * q, 1024));
    if (!Program(g.FirstDataVbn() + lbn, lpo, p, s, error)) return false;
  }
  return true;
}

bool Writer::PlanRewrites(std::string& error) {
  const StlGeometry& g = G();
  const std::uint32_t n = options_.RewritePages;
  if (n == 0) return true;
  const std::uint32_t logs = std::min({kStlMaxActiveLogs, g.UserBlocks, (n + 31) / 32});
  if (n > logs * kRecordedPerLog || logs == 0) {
    error = std::to_string(n) + " rewritten pages do not fit: at most " +
            std::to_string(std::min(kStlMaxActiveLogs, g.UserBlocks) * kRecordedPerLog) +
            " go through the log blocks of this volume without a merge";
    return false;
  }
  std::vector<std::uint32_t> lbns;
  while (lbns.size() < logs) {
    const std::uint32_t lbn = Next(g.UserBlocks);
    if (std::find(lbns.begin(), lbns.end(), lbn) == lbns.end()) lbns.push_back(lbn);
  }
  for (std::uint32_t i = 0; i < logs; ++i) {
    Group grp;
    grp.Lbn = lbns[i];
    grp.Map.fill(kNone16);
    std::uint32_t left = n / logs + (i < n % logs ? 1 : 0);
    while (left > 0) {
      Request r;
      const std::uint32_t size = std::min(left, 1 + Next(4));
      for (std::uint32_t k = 0; k < size; ++k) r.Lpos.push_back(Next(kPagesPerBlock));
      left -= size;
      grp.Requests.push_back(std::move(r));
    }
    grp.HoldLastForReplay = options_.Replay && grp.Requests.size() >= 2;
    groups_.push_back(std::move(grp));
  }
  return true;
}

bool Writer::WriteRequest(Group& g, const Request& r, StlPageKind kind, std::string& error) {
  for (std::size_t k = 0; k < r.Lpos.size(); ++k) {
    const std::uint32_t lpo = r.Lpos[k];
    const std::uint64_t lpn = std::uint64_t{g.Lbn} * kPagesPerBlock + lpo;
    Page p;
    for (std::uint32_t i = 0; i < kPageMainBytes; i += 8) {
      const std::uint64_t word = rng_();
      std::memcpy(p.data() + i, &word, 8);
    }
    const bool end = kind != StlPageKind::LogTail && k + 1 == r.Lpos.size();
    if (!ProgramLog(kind, g.Vbn, g.Written, p, lpo, end, static_cast<std::uint32_t>(lpn), error)) return false;
    if (kind != StlPageKind::LogTail) {
      std::memcpy(&volume_[lpn * kPageMainBytes], p.data(), kPageMainBytes);
      g.Map[lpo] = static_cast<std::uint16_t>(g.Written);  // log index 0
      g.LastLpo = lpo;
    }
    ++g.Written;
  }
  return true;
}

// Stores the PMT page of `lbn`'s octet with the current context.
bool Writer::StorePmt(std::uint32_t lbn, std::string& error) {
  if (headerPage_ >= kPagesPerBlock) {
    error = "the header block is full";
    return false;
  }
  Page p;
  p.fill(0xFF);
  FillContext(p.data());
  const std::uint32_t octet = lbn / 8;
  const std::uint16_t poffset = static_cast<std::uint16_t>(headerIndex_ << 6 | headerPage_);
  for (const Group& g : groups_) {
    if (g.Vbn == 0 || g.Lbn / 8 != octet) continue;
    std::uint8_t* s = p.data() + kPmtSlots + kPmtSlotBytes * (g.Lbn % 8);
    std::memset(s, 0, kGroupChecked);
    StlPut16(s + kGroupDgn, g.Lbn);
    StlPut16(s + kGroupMinValidLog, 0);
    s[kGroupState] = 0;
    s[kGroupLogCount] = 1;
    s[6] = 0;
    s[7] = 0;
    StlPut16(s + kGroupMinEcVbn, g.Vbn);
    StlPut16(s + kGroupMinEcVbn + 2, 0);
    StlPut32(s + kGroupMinEcVbn + 4, 0);
    std::uint32_t live = 0;
    for (std::uint32_t lpo = 0; lpo < kPagesPerBlock; ++lpo) {
      StlPut16(s + kGroupPageMap + 2 * lpo, g.Map[lpo]);
      live += g.Map[lpo] != kNone16;
    }
    for (std::uint32_t i = 0; i < kStlLogsPerGroup; ++i) {
      std::uint8_t* rec = s + kGroupLogs + kLogRecordBytes * i;
      rec[kLogState] = i == 0 ? 0x13 : 0;
      rec[kLogSelf] = static_cast<std::uint8_t>(i);
      rec[2] = 0xFF;
      rec[3] = 0xFF;
      StlPut16(rec + kLogVbn, i == 0 ? g.Vbn : kNone16);
      StlPut16(rec + kLogLastLpo, i == 0 ? g.LastLpo : 0);
      StlPut16(rec + kLogCleanPage, i == 0 ? g.Written : 0);
      StlPut16(rec + kLogLsbOffset, i == 0 ? g.Written : 0);
      StlPut16(s + kGroupLogLbns + 2 * i, i == 0 ? g.Lbn : kNone16);
      StlPut16(s + kGroupLogDataBlocks + 2 * i, i == 0 ? 1 : 0);
      StlPut16(s + kGroupLogValid + 2 * i, i == 0 ? live : 0);
    }
    PutConfirmation(s, kGroupChecked);
    pmtDir_[g.Lbn] = poffset;
  }
  // Every directory entry of the octet follows its page.
  for (std::uint32_t d = octet * 8; d < octet * 8 + 8 && d < pmtDir_.size(); ++d)
    if (pmtDir_[d] != kNone16) pmtDir_[d] = poffset;
  return ProgramMeta(StlPageKind::CtxPmt, headerPage_++, p, kTypeCtxPmt, 0xFFFFFFFFu, kPtfCtxPmt, lbn, error);
}

bool Writer::Run(std::string& error) {
  StlGeometry& g = result_.Geometry;
  if (!CheckStlWrite(sink_.Blocks(), volume_.size(), options_, g, error)) return false;
  if (!options_.Layout.Old) rctPages_ = options_.Layout.RctEntries;
  contentBytes_ = volume_.size();
  volume_.resize(g.VolumeBytes(), 0xFF);
  if (!PlanRewrites(error) || !WriteFormat(error)) return false;
  for (std::size_t i = 0; i < groups_.size(); ++i) {
    Group& grp = groups_[i];
    grp.Vbn = g.FirstFreeVbn() + freeHead_++;
    active_.push_back(static_cast<std::uint32_t>(i));
    const std::size_t recorded = grp.Requests.size() - (grp.HoldLastForReplay ? 1 : 0);
    for (std::size_t r = 0; r < recorded; ++r)
      if (!WriteRequest(grp, grp.Requests[r], StlPageKind::LogRecorded, error)) return false;
    if (options_.HeaderSwitch && i == groups_.size() / 2 && !WriteHeader(1, error)) return false;
    if (!StorePmt(grp.Lbn, error)) return false;
  }
  for (Group& grp : groups_)
    if (grp.HoldLastForReplay && !WriteRequest(grp, grp.Requests.back(), StlPageKind::LogReplayed, error))
      return false;
  if (options_.InterruptedTail && !groups_.empty()) {
    Request tail;
    for (std::uint32_t k = 0; k < kTailPages; ++k) tail.Lpos.push_back(Next(kPagesPerBlock));
    if (!WriteRequest(groups_.back(), tail, StlPageKind::LogTail, error)) return false;
  }
  result_.RewrittenBlocks = static_cast<std::uint32_t>(groups_.size());
  return true;
}

}  // namespace

bool CheckStlWrite(std::uint32_t units, std::uint64_t contentBytes, const StlWriteOptions& options,
                   StlGeometry& g, std::string& error) {
  const StlHeaderLayout& layout = options.Layout;
  if (!StlGeometryForUnits(units, g, error)) return false;
  if (!layout.Old) {
    const StlHeaderOffsets o = layout.Offsets(g.MetaBlocks, g.LocalAreasEven());
    if (o.End > layout.Pages * kPageMainBytes || o.End <= (layout.Pages - 1) * kPageMainBytes) {
      error = "header layout " + layout.Name() + " takes " + std::to_string(o.End) + " bytes here, which " +
              std::to_string(layout.Pages) + " pages do not fit exactly";
      return false;
    }
    if (layout.PmtEntries < g.PmtDir) {
      error = "header layout " + layout.Name() + " has fewer PMT directory entries than the volume's " +
              std::to_string(g.PmtDir) + " logical blocks";
      return false;
    }
  }
  if (contentBytes > g.VolumeBytes()) {
    error = "the contents (" + std::to_string(contentBytes) + " bytes) do not fit in the volume's " +
            std::to_string(g.VolumeBytes()) + " bytes";
    return false;
  }
  const std::uint32_t logs = std::min(kStlMaxActiveLogs, g.UserBlocks);
  if (options.RewritePages > logs * kRecordedPerLog) {
    error = std::to_string(options.RewritePages) + " rewritten pages do not fit: at most " +
            std::to_string(logs * kRecordedPerLog) + " go through the log blocks of this volume without a merge";
    return false;
  }
  if (options.HeaderSwitch && g.MetaBlocks < 2) {
    error = "a header switch needs two meta blocks";
    return false;
  }
  return true;
}

bool WriteStlVolume(PageSink& sink, std::vector<std::uint8_t>& volume, const StlWriteOptions& options,
                    StlWriteResult& result, std::string& error) {
  result = StlWriteResult{};
  Writer w(sink, volume, options, result);
  return w.Run(error);
}

}  // namespace orvella::phone
