#include "phone/StlReader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>

#include "phone/SpareBuffer.h"

namespace orvella::phone {
namespace {

using PageBuf = std::array<std::uint8_t, kPageMainBytes>;
using SpareRaw = std::array<std::uint8_t, kPageSpareBytes>;

std::string Hex(std::uint32_t v, int digits = 8) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*X", digits, v);
  return b;
}
std::string Num(std::uint64_t v) { return std::to_string(v); }

bool AllFF(const std::uint8_t* p, std::size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0xFF; });
}

struct Failure {
  std::string Kind;
  std::int64_t Block = -1;
  std::int32_t Page = -1;
  std::string Text;
};

enum class MetaKind : std::uint8_t { Clean, DirHeader, BmtCtx, CtxPmt, Rct, Bad };

// What the scan of the meta blocks found in one page.
struct MetaPage {
  MetaKind Kind = MetaKind::Clean;
  std::uint64_t Age = 0;         // of the page's context
  std::uint16_t Lan = 0;         // BMT+CTX
  std::uint16_t Octet = kNone16;  // CTX+PMT with at least one log group
  std::string Why;               // Bad
};

// Where the newest tables lie: the BMT page of each LA, the PMT page of each DGN and the
// latest context, as POFFSETs.
struct Tables {
  std::vector<std::uint16_t> BmtDir;
  std::vector<std::uint16_t> PmtDir;
  std::uint16_t LatestCtx = kNone16;
  std::int64_t HeaderVbn = -1;
  bool operator==(const Tables&) const = default;
};

// A directory-header layout worth trying, with the offsets it gives this volume.
struct Candidate {
  StlHeaderLayout Layout;
  StlHeaderOffsets Off;
  std::uint32_t Entries = 0;
};

// The result of one way of finding the tables, before it is chosen.
struct Attempt {
  Tables T;
  StlVolume::Resolution Res;
  std::vector<StlLogInfo> Logs;
  std::vector<StlFinding> Notes;
  std::uint64_t LogPages = 0;
};

class Rebuild {
 public:
  Rebuild(PageSource& source, StlReport& report, StlVolume::Resolution& resolved)
      : src_(source), rep_(report), resolved_(resolved) {}
  bool Run();

 private:
  bool Refuse(const Failure& f);
  bool Read(std::uint32_t vbn, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare, Failure& f);
  bool ReadSpare(std::uint32_t vbn, std::uint32_t page, SpareBuffer& s, Failure& f);
  // Clean (spare and main all 0xFF), written without spare words, or written.
  enum class PageState { Clean, NoSpare, Written };
  bool State(std::uint32_t vbn, std::uint32_t page, SpareBuffer& s, PageState& state, Failure& f);

  bool FindRoot(std::vector<std::uint8_t>& rootInfo);
  bool CheckZone(const std::vector<std::uint8_t>& rootInfo);
  bool ScanMeta();
  MetaPage Classify(const std::uint8_t* main, const SpareBuffer& s) const;
  std::vector<Candidate> Candidates() const;
  std::string ScoreHeader(const Candidate& c, const std::vector<std::uint8_t>& dh) const;
  bool HeaderTables(const Candidate& c, Tables& t, Failure& f);
  bool ReplayHeaderBlock(std::uint32_t h, Tables& t, Failure& f);
  bool ScanTables(Tables& t, Failure& f);
  bool CheckTables(const Tables& t, Failure& f);
  bool Resolve(Attempt& a, Failure& f);
  bool ReplayLog(Attempt& a, StlVolume::Group& g, std::uint32_t logIndex, StlLogInfo& info, Failure& f);
  bool VerifyLogPages(Attempt& a, Failure& f);
  bool ReadMeta(std::uint16_t poffset, PageBuf& page, Failure& f);

  const MetaPage& Meta(std::uint16_t poffset) const { return scan_[(poffset >> 6) * kPagesPerBlock + (poffset & 63)]; }
  std::uint32_t MetaVbn(std::uint16_t poffset) const { return metaVbns_[poffset >> 6]; }
  std::string Where(std::uint16_t poffset) const {
    return "meta block " + Num(poffset >> 6) + " (VBN " + Num(MetaVbn(poffset)) + ") page " + Num(poffset & 63);
  }
  bool ValidPoffset(std::uint16_t p) const { return (p >> 6) < m_ && (p & 63) >= dhPages_; }
  bool IsMetaVbn(std::uint32_t vbn) const {
    return std::find(metaVbns_.begin(), metaVbns_.end(), vbn) != metaVbns_.end();
  }

  PageSource& src_;
  StlReport& rep_;
  StlVolume::Resolution& resolved_;
  bool io_ = false;
  std::uint32_t units_ = 0, m_ = 0, d_ = 0, l_ = 0, free_ = 0, dhPages_ = 0, rctPages_ = 0, maxPmt_ = 0;
  std::vector<std::uint32_t> metaVbns_;
  std::vector<MetaPage> scan_;
  std::map<std::uint32_t, std::vector<std::uint8_t>> dhBytes_;  // meta index -> its P pages
};

bool Rebuild::Refuse(const Failure& f) {
  rep_.Rebuilt = false;
  rep_.Refusal = f.Text;
  const bool listed = std::any_of(rep_.Findings.begin(), rep_.Findings.end(), [&](const StlFinding& x) { return x.Text == f.Text; });
  if (!listed) rep_.Findings.push_back({f.Kind.empty() ? "refused" : f.Kind, f.Block, f.Page, f.Text});
  return false;
}

bool Rebuild::Read(std::uint32_t vbn, std::uint32_t page, std::uint8_t* main, std::uint8_t* spare, Failure& f) {
  std::string error;
  if (src_.ReadPage(vbn, page, main, spare, error)) return true;
  io_ = true;
  f = {"read", vbn, static_cast<std::int32_t>(page), "VBN " + Num(vbn) + " page " + Num(page) + " cannot be read: " + error};
  return false;
}

bool Rebuild::ReadSpare(std::uint32_t vbn, std::uint32_t page, SpareBuffer& s, Failure& f) {
  SpareRaw raw;
  if (!Read(vbn, page, nullptr, raw.data(), f)) return false;
  s = SpareBuffer::FromPageSpare(raw.data());
  return true;
}

bool Rebuild::State(std::uint32_t vbn, std::uint32_t page, SpareBuffer& s, PageState& state, Failure& f) {
  if (!ReadSpare(vbn, page, s, f)) return false;
  if (!s.AllErased()) {
    state = PageState::Written;
    return true;
  }
  PageBuf main;
  if (!Read(vbn, page, main.data(), nullptr, f)) return false;
  state = AllFF(main.data(), main.size()) ? PageState::Clean : PageState::NoSpare;
  return true;
}

// Empty when the page holds a root info for `rootBlocks` root blocks, else why not.
std::string RootProblem(const std::uint8_t* main, const SpareBuffer& s, std::uint32_t rootBlocks) {
  if (std::memcmp(main, kStlSignature, sizeof kStlSignature) != 0) return "no FSR_STL signature";
  if (s.SData3() != PtfWord(kPtfRoot)) return "page type word " + Hex(s.SData3()) + " is not a root page's";
  const std::uint32_t r = StlU16(main + kRootBlockCount);
  if (r != rootBlocks) return "it names " + Num(r) + " root blocks";
  const std::uint32_t zbc = ZeroBitCount(main, RootInfoChecked(r));
  if (s.SData1() != zbc) return "checksum " + Hex(s.SData1()) + " does not match its root info (" + Hex(zbc) + ")";
  if (s.SData2() != ~zbc) return "checksum complement " + Hex(s.SData2()) + " does not match " + Hex(~zbc);
  return {};
}

bool Rebuild::FindRoot(std::vector<std::uint8_t>& rootInfo) {
  units_ = src_.Blocks();
  rep_.Units = units_;
  Failure f;
  if (units_ < kStlRootBlocks) return Refuse({"root", -1, -1, "not an STL volume: the partition holds " + Num(units_) + " units"});
  bool fourRoots = false;
  std::string why;
  for (std::uint32_t vbn = 0; vbn < kStlRootBlocks; ++vbn) {
    PageBuf main;
    SpareRaw raw;
    if (!Read(vbn, 0, main.data(), raw.data(), f)) return Refuse(f);
    const SpareBuffer s = SpareBuffer::FromPageSpare(raw.data());
    StlRootBlock rb;
    rb.Vbn = vbn;
    if (std::memcmp(main.data(), kStlSignature, sizeof kStlSignature) == 0) rep_.Stl = true;
    const std::string problem = RootProblem(main.data(), s, kStlRootBlocks);
    rb.Valid = problem.empty();
    if (rb.Valid) rb.Age = StlAge(main.data() + kRootAge);
    else {
      if (RootProblem(main.data(), s, 4).empty()) fourRoots = true;
      why += (why.empty() ? "" : "; ") + ("VBN " + Num(vbn) + ": " + problem);
      if (!s.AllErased() || !AllFF(main.data(), main.size()))
        rep_.Findings.push_back({"root", vbn, 0, "root page fails its checks: " + problem});
    }
    rep_.RootBlocks.push_back(rb);
  }
  const StlRootBlock* best = nullptr;
  for (const StlRootBlock& rb : rep_.RootBlocks)
    if (rb.Valid && (!best || rb.Age < best->Age)) best = &rb;
  if (!best) {
    if (fourRoots)
      return Refuse({"root", -1, -1,
                     "the root info names four root blocks: the older volume format, which this reader does not read"});
    if (!rep_.Stl) return Refuse({"root", -1, -1, "not an STL volume: no root page in VBN 0 or 1 carries the signature"});
    return Refuse({"root", -1, -1, "no root page passes its checks (" + why + ")"});
  }
  const std::uint32_t vbn = best->Vbn;
  // The root pages are appended; the last one that validates is current, and nothing
  // may follow the first clean page.
  std::int32_t current = -1, firstClean = -1;
  for (std::uint32_t p = 0; p + 1 < kPagesPerBlock; ++p) {
    SpareBuffer s;
    PageState st;
    if (!State(vbn, p, s, st, f)) return Refuse(f);
    if (st == PageState::Clean) {
      if (firstClean < 0) firstClean = static_cast<std::int32_t>(p);
      continue;
    }
    if (firstClean >= 0)
      return Refuse({"root", vbn, static_cast<std::int32_t>(p),
                     "root block VBN " + Num(vbn) + " page " + Num(p) + " is written after clean page " +
                         Num(firstClean) + ": a root page may be lost"});
    PageBuf main;
    if (!Read(vbn, p, main.data(), nullptr, f)) return Refuse(f);
    const std::string problem = st == PageState::NoSpare ? "written without spare words" : RootProblem(main.data(), s, kStlRootBlocks);
    if (problem.empty()) {
      current = static_cast<std::int32_t>(p);
      rootInfo.assign(main.begin(), main.begin() + kRootInfoBuffer);
    } else if (p > 0) {
      rep_.Findings.push_back({"root", vbn, static_cast<std::int32_t>(p),
                               "root page fails its checks (" + problem + "); an older root page is taken"});
    }
  }
  for (StlRootBlock& rb : rep_.RootBlocks)
    if (rb.Vbn == vbn) rb.Current = current;
  return true;
}

bool Rebuild::CheckZone(const std::vector<std::uint8_t>& ri) {
  const std::uint8_t* r = ri.data();
  const std::uint8_t* z = r + ZoneInfoOffset(kStlRootBlocks);
  auto refuse = [&](const std::string& text) { return Refuse({"zone", -1, -1, text}); };
  if (StlU16(r + kRootZones) != 1) return refuse("the root info names " + Num(StlU16(r + kRootZones)) + " zones; only one-zone volumes are read");
  if (StlU16(r + kRootN) != 1 || StlU16(r + kRootK) != kStlLogsPerGroup || StlU16(r + kRootLog2N) != 0 ||
      StlU16(r + kRootLog2K) != 3)
    return refuse("the root info's mapping constants (N " + Num(StlU16(r + kRootN)) + ", k " + Num(StlU16(r + kRootK)) +
                  ") are not the 1 data block and 8 logs per group this reader knows");
  if (StlU16(r + kRootStartVbn) != 0) return refuse("the root info starts at VBN " + Num(StlU16(r + kRootStartVbn)) + ", not 0");
  if (StlU32(r + kRootMetaVersion) != kStlMetaFormat)
    rep_.Findings.push_back({"zone", -1, -1, "meta format version " + Hex(StlU32(r + kRootMetaVersion)) + ", not " + Hex(kStlMetaFormat)});
  const std::uint32_t start = StlU16(z + kZoneStartVbn), t = StlU16(z + kZoneBlocks);
  m_ = StlU16(z + kZoneMetaBlocks);
  dhPages_ = z[kZoneDhPages];
  rctPages_ = z[kZoneRctPages];
  maxPmt_ = StlU16(z + kZoneMaxPmtDir);
  free_ = StlU16(z + kZoneFreeBlocks);
  d_ = StlU16(z + kZoneUserBlocks);
  l_ = StlU16(z + kZoneLaCount);
  rep_.ZoneBlocks = t;
  rep_.MetaBlocks = m_;
  rep_.UserBlocks = d_;
  rep_.LocalAreas = l_;
  if (start != kStlRootBlocks) return refuse("the zone starts at VBN " + Num(start) + ", not after the 2 root blocks");
  if (std::uint64_t{start} + t > units_)
    return refuse("the zone covers " + Num(t) + " blocks after VBN " + Num(start) + ", but the partition holds " + Num(units_) + " units");
  if (start + t < units_)
    rep_.Findings.push_back({"zone", -1, -1, "the zone ends at VBN " + Num(start + t) + "; the partition's other " +
                                                 Num(units_ - start - t) + " units are not part of the volume"});
  if (m_ == 0 || m_ > kStlMaxMetaBlocks) return refuse("the zone names " + Num(m_) + " meta blocks (1 to 96 are possible)");
  if (dhPages_ == 0 || dhPages_ > 16) return refuse("the zone names " + Num(dhPages_) + " directory-header pages (1 to 16 are read)");
  if (free_ < 1 || free_ > kCtxFreeSlots) return refuse("the zone names " + Num(free_) + " free blocks (1 to 32 are possible)");
  if (std::uint64_t{m_} + free_ + d_ != t || d_ == 0)
    return refuse("the zone's " + Num(m_) + " meta, " + Num(free_) + " free and " + Num(d_) + " user blocks do not make its " + Num(t) + " blocks");
  if (StlU32(z + kZoneUserSectors) != d_ * kStlSectorsPerBlock || StlU32(z + kZoneUserPages) != d_ * kPagesPerBlock)
    return refuse("the zone's user sectors (" + Num(StlU32(z + kZoneUserSectors)) + ") or pages (" + Num(StlU32(z + kZoneUserPages)) +
                  ") do not match its " + Num(d_) + " user blocks");
  if (l_ != (d_ - 1) / kStlBlocksPerLa + 1 || StlU16(z + kZoneBlocksPerLa) != kStlBlocksPerLa || StlU32(z + kZoneLog2BlocksPerLa) != 9)
    return refuse("the zone's " + Num(l_) + " local areas of " + Num(StlU16(z + kZoneBlocksPerLa)) + " blocks do not cover its " + Num(d_) + " user blocks");
  if (maxPmt_ != std::min(d_, kStlMaxPmtDir) || StlU16(z + kZoneGroupsPerPmt) != 8)
    return refuse("the zone's PMT directory of " + Num(maxPmt_) + " entries (" + Num(StlU16(z + kZoneGroupsPerPmt)) +
                  " groups per page) does not fit its " + Num(d_) + " user blocks");
  if (ContextChecked(l_) + 8 > kContextBytes) return refuse("the zone's " + Num(l_) + " local areas are more than a context can list");
  metaVbns_.clear();
  for (std::uint32_t i = 0; i < m_; ++i) {
    const std::uint32_t vbn = StlU16(z + kZoneMetaList + 2 * i);
    if (vbn < start || vbn >= start + t || IsMetaVbn(vbn))
      return refuse("meta block " + Num(i) + " is VBN " + Num(vbn) + ", outside the zone or named twice");
    metaVbns_.push_back(vbn);
  }
  rep_.MetaVbns = metaVbns_;
  rep_.VolumeSectors = d_ * kStlSectorsPerBlock;
  StlGeometry g;
  std::string error;
  if (StlGeometryForUnits(start + t, g, error) && (g.MetaBlocks != m_ || g.FreeBlocks != free_))
    rep_.Findings.push_back({"zone", -1, -1, "the zone has " + Num(m_) + " meta and " + Num(free_) + " free blocks where a format of " +
                                                 Num(start + t) + " units makes " + Num(g.MetaBlocks) + " and " + Num(g.FreeBlocks)});
  return true;
}

MetaPage Rebuild::Classify(const std::uint8_t* main, const SpareBuffer& s) const {
  MetaPage mp;
  auto bad = [&](std::string why) {
    mp.Kind = MetaKind::Bad;
    mp.Why = std::move(why);
    return mp;
  };
  if (!HalvesComplement(s.SData3())) return bad("its page type word " + Hex(s.SData3()) + " is not a value and its complement");
  const std::uint16_t ptf = static_cast<std::uint16_t>(s.SData3() >> 16);
  const std::uint32_t ctxChecked = ContextChecked(l_);
  switch (ptf) {
    case kPtfDirHeader: {
      const std::uint32_t zbc = ZeroBitCount(main, kPageMainBytes);
      if (s.SData1() != zbc || s.SData2() != ~zbc) return bad("its checksum " + Hex(s.SData1()) + " does not match the page (" + Hex(zbc) + ")");
      mp.Kind = MetaKind::DirHeader;
      return mp;
    }
    case kPtfBmtCtx: {
      if (s.SData1() != kTypeBmtCtx) return bad("its type word " + Hex(s.SData1()) + " is not a BMT page's");
      if (!ConfirmationHolds(main, kBmtChecked)) return bad("the BMT's confirmation does not match");
      const std::uint16_t lan = StlU16(main + kBmtLan);
      if (StlU16(main + kBmtLan + 2) != static_cast<std::uint16_t>(~lan)) return bad("the BMT's LAN and its complement disagree");
      if (lan >= l_) return bad("the BMT is for LA " + Num(lan) + " of " + Num(l_));
      if (!ConfirmationHolds(main + kBmtCtxContext, ctxChecked)) return bad("the context's confirmation does not match");
      mp.Kind = MetaKind::BmtCtx;
      mp.Lan = lan;
      mp.Age = StlAge(main + kBmtCtxContext + kCtxAge);
      return mp;
    }
    case kPtfCtxPmt: {
      if (s.SData1() != kTypeCtxPmt) return bad("its type word " + Hex(s.SData1()) + " is not a PMT page's");
      if (!ConfirmationHolds(main, ctxChecked)) return bad("the context's confirmation does not match");
      for (std::uint32_t slot = 0; slot < 8; ++slot) {
        const std::uint8_t* g = main + kPmtSlots + kPmtSlotBytes * slot;
        const std::uint16_t dgn = StlU16(g + kGroupDgn);
        if (dgn == kNone16) continue;
        if (!ConfirmationHolds(g, kGroupChecked)) return bad("log group slot " + Num(slot) + "'s confirmation does not match");
        if (dgn % 8 != slot || dgn >= maxPmt_) return bad("log group slot " + Num(slot) + " holds DGN " + Num(dgn));
        if (mp.Octet != kNone16 && mp.Octet != dgn / 8) return bad("its log groups belong to different octets");
        mp.Octet = static_cast<std::uint16_t>(dgn / 8);
      }
      mp.Kind = MetaKind::CtxPmt;
      mp.Age = StlAge(main + kCtxAge);
      return mp;
    }
    case kPtfRct: mp.Kind = MetaKind::Rct; return mp;
    default: return bad("page type " + Hex(ptf, 4) + " is not a meta page's");
  }
}

bool Rebuild::ScanMeta() {
  scan_.assign(std::size_t{m_} * kPagesPerBlock, MetaPage{});
  Failure f;
  for (std::uint32_t i = 0; i < m_; ++i) {
    for (std::uint32_t p = 0; p < kPagesPerBlock; ++p) {
      PageBuf main;
      SpareRaw raw;
      if (!Read(metaVbns_[i], p, main.data(), raw.data(), f)) return Refuse(f);
      const SpareBuffer s = SpareBuffer::FromPageSpare(raw.data());
      MetaPage& mp = scan_[i * kPagesPerBlock + p];
      if (s.AllErased()) {
        if (!AllFF(main.data(), main.size())) mp = {MetaKind::Bad, 0, 0, kNone16, "it holds data without spare words"};
        continue;
      }
      mp = Classify(main.data(), s);
    }
  }
  return true;
}

std::vector<Candidate> Rebuild::Candidates() const {
  std::vector<Candidate> out;
  const std::uint32_t lEven = (l_ + 1) / 2 * 2;
  auto add = [&](const StlHeaderLayout& layout) {
    Candidate c{layout, layout.Offsets(m_, lEven), layout.Old ? kStlMaxPmtDir : layout.PmtEntries};
    if (c.Off.End > dhPages_ * kPageMainBytes || c.Off.End <= (dhPages_ - 1) * kPageMainBytes) return;
    for (const Candidate& o : out)
      if (o.Off.BmtDir == c.Off.BmtDir && o.Off.PmtDir == c.Off.PmtDir && o.Off.Fixed == c.Off.Fixed && o.Entries == c.Entries) return;
    out.push_back(c);
  };
  if (dhPages_ == 3) add(StlHeaderLayout{});
  const std::uint32_t es[] = {kStlMaxPmtDir, maxPmt_, (maxPmt_ + 7) / 8 * 8};
  const std::uint32_t rs[] = {0, rctPages_, (rctPages_ + 1) / 2 * 2, lEven};
  for (std::uint32_t e : es)
    for (std::uint32_t r : rs)
      for (bool aligned : {false, true}) add(StlHeaderLayout{false, e, r, dhPages_, aligned});
  return out;
}

std::string Rebuild::ScoreHeader(const Candidate& c, const std::vector<std::uint8_t>& dh) const {
  const StlHeaderOffsets& o = c.Off;
  const std::uint8_t* b = dh.data();
  auto poffsetOk = [&](std::uint16_t p) { return p == kNone16 || ValidPoffset(p); };
  for (std::uint32_t i = 0; i < m_; ++i) {
    const std::uint16_t idle = StlU16(b + o.IdleList + 2 * i);
    if (idle != kNone16 && idle >= m_) return "idle meta-block entry " + Num(i) + " is " + Num(idle);
    if (StlU16(b + o.ValidCounts + 2 * i) > kPagesPerBlock) return "valid-page count " + Num(i) + " exceeds a block";
  }
  for (std::uint32_t l = 0; l < (l_ + 1) / 2 * 2; ++l)
    if (!poffsetOk(StlU16(b + o.BmtDir + 2 * l))) return "BMT directory entry " + Num(l) + " names no meta page";
  for (std::uint32_t d = 0; d < c.Entries; ++d) {
    const std::uint16_t p = StlU16(b + o.PmtDir + 4 * d + 2);
    if (!poffsetOk(p) || (d >= maxPmt_ && p != kNone16)) return "PMT directory entry " + Num(d) + " names no meta page";
    if (p == kNone16) continue;
    for (std::uint32_t e = d / 8 * 8; e < d; ++e) {
      const std::uint16_t q = StlU16(b + o.PmtDir + 4 * e + 2);
      if (q != kNone16 && q != p) return "PMT directory entries " + Num(e) + " and " + Num(d) + " of one octet differ";
    }
  }
  const std::uint8_t* f = b + o.Fixed;
  if (StlU32(f + kDhAge) != 0xFFFFFFFFu) return "the age's high word is not all ones";
  if (StlU32(f + kDhVictim) >= m_ || StlU16(f + kDhIdleHead) >= m_ || StlU16(f + kDhIdleCount) > m_)
    return "victim, idle head or idle count lie outside the meta blocks";
  if (StlU16(f + kDhLatestPage) >= kPagesPerBlock || StlU16(f + kDhPmtEntries) > maxPmt_)
    return "latest page or PMT entry count out of range";
  const std::size_t end = std::size_t{dhPages_} * kPageMainBytes;
  if (o.End < end && !std::all_of(b + o.End, b + end, [&](std::uint8_t x) { return x == b[o.End]; }))
    return "the bytes after its fixed members are not uniform";
  return {};
}

bool Rebuild::ReadMeta(std::uint16_t poffset, PageBuf& page, Failure& f) {
  return Read(MetaVbn(poffset), poffset & 63, page.data(), nullptr, f);
}

// Replays pages P.. of header block h into the directories.
bool Rebuild::ReplayHeaderBlock(std::uint32_t h, Tables& t, Failure& f) {
  std::int32_t firstClean = -1;
  t.LatestCtx = kNone16;
  for (std::uint32_t p = dhPages_; p < kPagesPerBlock; ++p) {
    const std::uint16_t poff = static_cast<std::uint16_t>(h << 6 | p);
    const MetaPage& mp = Meta(poff);
    if (mp.Kind == MetaKind::Clean) {
      if (firstClean < 0) firstClean = static_cast<std::int32_t>(p);
      continue;
    }
    if (firstClean >= 0) {
      f = {"meta", metaVbns_[h], static_cast<std::int32_t>(p),
           "header block " + Where(poff) + " is written after clean page " + Num(firstClean) + ": a meta page may be lost"};
      return false;
    }
    if (mp.Kind == MetaKind::Bad || mp.Kind == MetaKind::DirHeader) {
      f = {"meta", metaVbns_[h], static_cast<std::int32_t>(p),
           "header block " + Where(poff) + " fails its checks (" + (mp.Kind == MetaKind::Bad ? mp.Why : "a directory-header page among the meta pages") +
               "); the phone would skip it and mount read-only, so newer tables may be missing"};
      return false;
    }
    if (mp.Kind == MetaKind::BmtCtx) t.BmtDir[mp.Lan] = poff;
    if (mp.Kind == MetaKind::CtxPmt) {
      PageBuf page;
      if (!ReadMeta(poff, page, f)) return false;
      for (std::uint32_t slot = 0; slot < 8; ++slot) {
        const std::uint16_t dgn = StlU16(page.data() + kPmtSlots + kPmtSlotBytes * slot + kGroupDgn);
        if (dgn == kNone16) continue;
        t.PmtDir[dgn] = poff;
        for (std::uint32_t e = dgn / 8 * 8u; e < dgn / 8 * 8u + 8 && e < maxPmt_; ++e)
          if (t.PmtDir[e] != kNone16) t.PmtDir[e] = poff;
      }
    }
    if (mp.Kind != MetaKind::Rct) t.LatestCtx = poff;
  }
  return true;
}

// The newest valid context of all meta blocks must be the one the tables end with;
// anything newer means the header block chosen is not the latest.
bool Rebuild::CheckTables(const Tables& t, Failure& f) {
  for (std::uint32_t lan = 0; lan < l_; ++lan) {
    const std::uint16_t p = t.BmtDir[lan];
    if (p == kNone16 || !ValidPoffset(p)) {
      f = {"bmt", -1, -1, "LA " + Num(lan) + " has no BMT page"};
      return false;
    }
    const MetaPage& mp = Meta(p);
    if (mp.Kind != MetaKind::BmtCtx || mp.Lan != lan) {
      f = {"bmt", MetaVbn(p), p & 63,
           "the BMT of LA " + Num(lan) + " at " + Where(p) + " fails its checks" + (mp.Kind == MetaKind::Bad ? " (" + mp.Why + ")" : "") +
               "; no older copy can stand for it"};
      return false;
    }
  }
  for (std::uint32_t d = 0; d < maxPmt_; ++d) {
    const std::uint16_t p = t.PmtDir[d];
    if (p == kNone16) continue;
    const MetaPage& mp = ValidPoffset(p) ? Meta(p) : MetaPage{MetaKind::Bad, 0, 0, kNone16, "not a meta page"};
    if (mp.Kind != MetaKind::CtxPmt || (mp.Octet != kNone16 && mp.Octet != d / 8)) {
      f = {"group", ValidPoffset(p) ? MetaVbn(p) : -1, p & 63,
           "the log group of DGN " + Num(d) + " should be at " + (ValidPoffset(p) ? Where(p) : Hex(p, 4)) + ", which holds no valid PMT page of its octet" +
               (mp.Kind == MetaKind::Bad ? " (" + mp.Why + ")" : "")};
      return false;
    }
  }
  if (t.LatestCtx == kNone16) {
    f = {"context", -1, -1, "no meta page holds a context"};
    return false;
  }
  const std::uint64_t latest = Meta(t.LatestCtx).Age;
  for (std::uint32_t i = 0; i < scan_.size(); ++i) {
    const MetaPage& mp = scan_[i];
    if ((mp.Kind == MetaKind::BmtCtx || mp.Kind == MetaKind::CtxPmt) && mp.Age < latest) {
      const std::uint16_t poff = static_cast<std::uint16_t>(i);
      f = {"context", MetaVbn(poff), poff & 63,
           Where(poff) + " holds a newer context than the header block's latest at " + Where(t.LatestCtx)};
      return false;
    }
  }
  return true;
}

bool Rebuild::HeaderTables(const Candidate& c, Tables& t, Failure& f) {
  std::optional<std::uint32_t> newest;
  std::uint64_t newestAge = 0;
  std::string firstWhy;
  for (const auto& [index, dh] : dhBytes_) {
    const std::string why = ScoreHeader(c, dh);
    if (!why.empty()) {
      if (firstWhy.empty()) firstWhy = "the directory header in meta block " + Num(index) + " does not fit layout " + c.Layout.Name() + ": " + why;
      continue;
    }
    const std::uint64_t age = StlAge(dh.data() + c.Off.Fixed + kDhAge);
    if (!newest || age < newestAge) {
      newest = index;
      newestAge = age;
    }
  }
  if (!newest) {
    f = {"header", -1, -1, firstWhy.empty() ? "no directory header passes its checks" : firstWhy};
    return false;
  }
  const std::vector<std::uint8_t>& dh = dhBytes_.at(*newest);
  t.BmtDir.assign(l_, kNone16);
  t.PmtDir.assign(maxPmt_, kNone16);
  for (std::uint32_t l = 0; l < l_; ++l) t.BmtDir[l] = StlU16(dh.data() + c.Off.BmtDir + 2 * l);
  for (std::uint32_t d = 0; d < maxPmt_; ++d) t.PmtDir[d] = StlU16(dh.data() + c.Off.PmtDir + 4 * d + 2);
  t.HeaderVbn = metaVbns_[*newest];
  if (!ReplayHeaderBlock(*newest, t, f)) return false;
  if (t.LatestCtx == kNone16) {
    // A header block with nothing after its directory header: the latest context is the
    // newest one anywhere.
    std::uint64_t best = kStlAgeStart;
    for (std::uint32_t i = 0; i < scan_.size(); ++i)
      if ((scan_[i].Kind == MetaKind::BmtCtx || scan_[i].Kind == MetaKind::CtxPmt) && (t.LatestCtx == kNone16 || scan_[i].Age < best)) {
        best = scan_[i].Age;
        t.LatestCtx = static_cast<std::uint16_t>(i);
      }
  }
  return CheckTables(t, f);
}

// The tables without a directory header: the newest valid page of each LA and octet.
bool Rebuild::ScanTables(Tables& t, Failure& f) {
  t.BmtDir.assign(l_, kNone16);
  t.PmtDir.assign(maxPmt_, kNone16);
  std::vector<std::uint64_t> bmtAge(l_), octetAge((maxPmt_ + 7) / 8);
  std::vector<std::uint16_t> octetPage((maxPmt_ + 7) / 8, kNone16);
  std::uint64_t latestAge = 0;
  for (std::uint32_t i = 0; i < m_; ++i) {
    std::int32_t firstClean = -1;
    for (std::uint32_t p = 0; p < kPagesPerBlock; ++p) {
      const std::uint16_t poff = static_cast<std::uint16_t>(i << 6 | p);
      const MetaPage& mp = Meta(poff);
      if (mp.Kind == MetaKind::Clean) {
        if (firstClean < 0 && p >= dhPages_) firstClean = static_cast<std::int32_t>(p);
        continue;
      }
      // A directory header holds nothing the scan takes; a damaged one may be passed over.
      if (p < dhPages_) continue;
      if (mp.Kind == MetaKind::Bad || firstClean >= 0) {
        f = {"meta", metaVbns_[i], static_cast<std::int32_t>(p),
             Where(poff) + (mp.Kind == MetaKind::Bad ? " fails its checks (" + mp.Why + ")" : " is written after clean page " + Num(firstClean)) +
                 "; without a directory header nothing tells whether it held the newest tables"};
        return false;
      }
      if (mp.Kind != MetaKind::BmtCtx && mp.Kind != MetaKind::CtxPmt) continue;
      if (mp.Kind == MetaKind::BmtCtx && (t.BmtDir[mp.Lan] == kNone16 || mp.Age <= bmtAge[mp.Lan])) {
        t.BmtDir[mp.Lan] = poff;
        bmtAge[mp.Lan] = mp.Age;
      }
      if (mp.Kind == MetaKind::CtxPmt && mp.Octet != kNone16 && (octetPage[mp.Octet] == kNone16 || mp.Age <= octetAge[mp.Octet])) {
        octetPage[mp.Octet] = poff;
        octetAge[mp.Octet] = mp.Age;
      }
      if (t.LatestCtx == kNone16 || mp.Age <= latestAge) {
        t.LatestCtx = poff;
        latestAge = mp.Age;
      }
    }
  }
  for (std::uint32_t o = 0; o < octetPage.size(); ++o) {
    if (octetPage[o] == kNone16) continue;
    PageBuf page;
    if (!ReadMeta(octetPage[o], page, f)) return false;
    for (std::uint32_t slot = 0; slot < 8; ++slot) {
      const std::uint16_t dgn = StlU16(page.data() + kPmtSlots + kPmtSlotBytes * slot + kGroupDgn);
      if (dgn != kNone16) t.PmtDir[dgn] = octetPage[o];
    }
  }
  return CheckTables(t, f);
}

bool Rebuild::Resolve(Attempt& a, Failure& f) {
  const Tables& t = a.T;
  StlVolume::Resolution& res = a.Res;
  res.DataVbn.assign(d_, kNone16);
  std::vector<std::uint32_t> owner(units_, kNone16);
  PageBuf page;
  for (std::uint32_t lan = 0; lan < l_; ++lan) {
    if (!ReadMeta(t.BmtDir[lan], page, f)) return false;
    for (std::uint32_t j = 0; j < kStlBlocksPerLa && lan * kStlBlocksPerLa + j < d_; ++j) {
      const std::uint32_t lbn = lan * kStlBlocksPerLa + j;
      const std::uint16_t vbn = StlU16(page.data() + kBmtVbns + 2 * j);
      const bool garbage = page[kBmtGarbage + j / 8] >> (j % 8) & 1;
      if (vbn == kNone16 || garbage) continue;
      if (vbn < kStlRootBlocks || vbn >= units_ || IsMetaVbn(vbn)) {
        f = {"bmt", vbn, -1, "the BMT maps LBN " + Num(lbn) + " to VBN " + Num(vbn) + ", which is no data block"};
        return false;
      }
      if (owner[vbn] != kNone16) {
        f = {"bmt", vbn, -1, "LBNs " + Num(owner[vbn]) + " and " + Num(lbn) + " both map to VBN " + Num(vbn)};
        return false;
      }
      owner[vbn] = lbn;
      res.DataVbn[lbn] = vbn;
    }
  }
  if (!ReadMeta(t.LatestCtx, page, f)) return false;
  const std::uint8_t* ctx = page.data() + (Meta(t.LatestCtx).Kind == MetaKind::BmtCtx ? kBmtCtxContext : 0);
  const std::uint32_t activeCount = StlU16(ctx + kCtxActiveCount), freeCount = StlU16(ctx + kCtxFreeCount),
                      freeHead = StlU16(ctx + kCtxFreeHead);
  if (activeCount > kStlMaxActiveLogs || freeCount > kCtxFreeSlots || freeHead >= kCtxFreeSlots) {
    f = {"context", MetaVbn(t.LatestCtx), t.LatestCtx & 63,
         "the latest context names " + Num(activeCount) + " active logs and " + Num(freeCount) + " free blocks from slot " + Num(freeHead)};
    return false;
  }
  std::vector<std::uint16_t> freeSet;
  for (std::uint32_t i = 0; i < freeCount; ++i) freeSet.push_back(StlU16(ctx + kCtxFreeList + 2 * ((freeHead + i) % kCtxFreeSlots)));
  std::array<std::uint16_t, 2 * kStlMaxActiveLogs> active{};
  for (std::uint32_t i = 0; i < 2 * activeCount; ++i) active[i] = StlU16(ctx + kCtxActiveList + 2 * i);
  const std::uint16_t mergedDgn = StlU16(ctx + kCtxMergedDgn), mergedVbn = StlU16(ctx + kCtxMergedVbn);

  // Log groups.
  std::uint16_t cached = kNone16;
  for (std::uint32_t d = 0; d < maxPmt_; ++d) {
    const std::uint16_t p = t.PmtDir[d];
    if (p == kNone16) continue;
    if (p != cached) {
      if (!ReadMeta(p, page, f)) return false;
      cached = p;
    }
    const std::uint8_t* s = page.data() + kPmtSlots + kPmtSlotBytes * (d % 8);
    const std::uint16_t dgn = StlU16(s + kGroupDgn);
    if (dgn == kNone16) continue;  // merged away; the octet's other entries moved with it
    if (dgn != d) {
      f = {"group", MetaVbn(p), p & 63, "the PMT slot for DGN " + Num(d) + " at " + Where(p) + " holds DGN " + Num(dgn)};
      return false;
    }
    if (s[kGroupLogCount] > kStlLogsPerGroup) {
      f = {"group", MetaVbn(p), p & 63, "the log group of DGN " + Num(d) + " names " + Num(s[kGroupLogCount]) + " logs"};
      return false;
    }
    StlVolume::Group g;
    g.Dgn = d;
    for (std::uint32_t i = 0; i < kStlLogsPerGroup; ++i) {
      const std::uint8_t* rec = s + kGroupLogs + kLogRecordBytes * i;
      const std::uint16_t vbn = StlU16(rec + kLogVbn);
      const bool member = (rec[kLogState] & 0x0F) != 0 && vbn != kNone16;
      g.LogVbn[i] = member ? vbn : kNone16;
      g.CleanPage[i] = member ? StlU16(rec + kLogCleanPage) : 0;
      if (member && (vbn < kStlRootBlocks || vbn >= units_ || IsMetaVbn(vbn))) {
        f = {"group", vbn, -1, "the log group of DGN " + Num(d) + " names VBN " + Num(vbn) + " as a log, which is no data-area block"};
        return false;
      }
    }
    for (std::uint32_t lpo = 0; lpo < kPagesPerBlock; ++lpo) {
      const std::uint16_t e = StlU16(s + kGroupPageMap + 2 * lpo);
      g.Map[lpo] = e;
      if (e == kNone16) continue;
      const std::uint32_t li = e >> 6, pg = e & 63;
      if (li >= kStlLogsPerGroup || g.LogVbn[li] == kNone16 || pg >= g.CleanPage[li]) {
        f = {"group", MetaVbn(p), p & 63,
             "the log group of DGN " + Num(d) + " maps page " + Num(lpo) + " to log " + Num(li) + " page " + Num(pg) + ", which that log does not hold"};
        return false;
      }
    }
    if (mergedDgn == d) {
      for (std::uint32_t i = 0; i < kStlLogsPerGroup; ++i)
        if (g.LogVbn[i] != kNone16 && g.LogVbn[i] == mergedVbn) {
          g.LogVbn[i] = kNone16;
          std::fill(std::begin(g.Map), std::end(g.Map), kNone16);
          a.Notes.push_back({"group", mergedVbn, -1, "log VBN " + Num(mergedVbn) + " of DGN " + Num(d) + " was merged; its pages are not taken"});
        }
    }
    res.Groups.emplace(d, g);
  }
  // A group whose log the latest context calls free, or that is another block's data
  // block, was merged away without a page saying so: its pages are stale.
  std::vector<std::uint32_t> logOwner(units_, kNone16);
  std::vector<std::uint16_t> dropped;
  for (auto it = res.Groups.begin(); it != res.Groups.end();) {
    std::string why;
    std::uint16_t vbnWhy = 0;
    for (std::uint16_t vbn : it->second.LogVbn) {
      if (vbn == kNone16) continue;
      if (std::find(freeSet.begin(), freeSet.end(), vbn) != freeSet.end()) why = "is in the latest context's free list";
      else if (owner[vbn] != kNone16 && owner[vbn] != it->first) why = "is the data block of LBN " + Num(owner[vbn]);
      if (!why.empty()) {
        vbnWhy = vbn;
        break;
      }
    }
    if (!why.empty()) {
      a.Notes.push_back({"group", vbnWhy, -1, "the log group of LBN " + Num(it->first) + " is dropped: its log VBN " + Num(vbnWhy) + " " + why});
      for (std::uint16_t vbn : it->second.LogVbn)
        if (vbn != kNone16) dropped.push_back(vbn);
      it = res.Groups.erase(it);
      continue;
    }
    for (std::uint16_t vbn : it->second.LogVbn) {
      if (vbn == kNone16) continue;
      if (logOwner[vbn] != kNone16) {
        f = {"group", vbn, -1, "VBN " + Num(vbn) + " is a log of both LBN " + Num(logOwner[vbn]) + " and LBN " + Num(it->first)};
        return false;
      }
      logOwner[vbn] = it->first;
    }
    ++it;
  }
  // Active logs: pages written after the stored mapping.
  std::vector<bool> isActive(units_, false);
  for (std::uint32_t i = 0; i < activeCount; ++i) {
    const std::uint16_t dgn = active[2 * i], vbn = active[2 * i + 1];
    auto it = res.Groups.find(dgn);
    std::uint32_t li = kStlLogsPerGroup;
    if (it != res.Groups.end())
      for (std::uint32_t k = 0; k < kStlLogsPerGroup; ++k)
        if (it->second.LogVbn[k] == vbn) li = k;
    if (li == kStlLogsPerGroup) {
      if (std::find(dropped.begin(), dropped.end(), vbn) != dropped.end() ||
          std::find(freeSet.begin(), freeSet.end(), vbn) != freeSet.end()) {
        a.Notes.push_back({"log", vbn, -1, "active log VBN " + Num(vbn) + " of DGN " + Num(dgn) + " belongs to a dropped or free block; not replayed"});
        continue;
      }
      f = {"log", vbn, -1,
           "active log VBN " + Num(vbn) + " of DGN " + Num(dgn) + " is in no stored log group (the phone refuses to open such a volume)"};
      return false;
    }
    StlLogInfo info;
    info.Lbn = dgn;
    info.Vbn = vbn;
    info.Active = true;
    info.RecordedPages = std::min<std::uint32_t>(it->second.CleanPage[li], kPagesPerBlock);
    if (!ReplayLog(a, it->second, li, info, f)) return false;
    isActive[vbn] = true;
    a.Logs.push_back(info);
  }
  for (const auto& [dgn, g] : res.Groups)
    for (std::uint32_t k = 0; k < kStlLogsPerGroup; ++k)
      if (g.LogVbn[k] != kNone16 && !isActive[g.LogVbn[k]])
        a.Logs.push_back({dgn, g.LogVbn[k], false, std::min<std::uint32_t>(g.CleanPage[k], kPagesPerBlock), 0});
  return VerifyLogPages(a, f);
}

// Commits the pages written to an active log after its stored clean page, up to the
// last END page. Anything that could be a lost or damaged page refuses the volume.
bool Rebuild::ReplayLog(Attempt& a, StlVolume::Group& g, std::uint32_t li, StlLogInfo& info, Failure& f) {
  const std::uint32_t vbn = g.LogVbn[li];
  const std::uint32_t c = g.CleanPage[li];
  struct Seen {
    std::uint32_t Page, Lpo;
    bool End;
  };
  std::vector<Seen> seen;
  std::int32_t clean = -1;
  for (std::uint32_t p = c; p < kPagesPerBlock; ++p) {
    SpareBuffer s;
    PageState st;
    if (!State(vbn, p, s, st, f)) return false;
    if (st == PageState::Clean) {
      if (clean >= 0 && static_cast<std::uint32_t>(clean) + 1 == p) break;  // two clean pages end the log
      clean = static_cast<std::int32_t>(p);
      continue;
    }
    const std::uint32_t s1 = s.SData1(), s3 = s.SData3(), ptf = s3 >> 16;
    std::string why;
    if (st == PageState::NoSpare) why = "it holds data without spare words";
    else if (!HalvesComplement(s1) || (s1 >> 16) >= kPagesPerBlock) why = "its page word " + Hex(s1) + " names no page of a block";
    else if (!HalvesComplement(s3) || !(ptf & kPtfLogBit) || (ptf & 0xFC00)) why = "its page type word " + Hex(s3) + " is not a log page's";
    if (!why.empty()) {
      f = {"log", vbn, static_cast<std::int32_t>(p),
           "active log VBN " + Num(vbn) + " of LBN " + Num(g.Dgn) + " page " + Num(p) + " fails its checks (" + why +
               "): damaged, or a write cut short, its page cannot be placed"};
      return false;
    }
    if (clean >= 0) {
      f = {"log", vbn, clean,
           "active log VBN " + Num(vbn) + " of LBN " + Num(g.Dgn) + " page " + Num(clean) + " is clean between written pages: a page may be lost"};
      return false;
    }
    const bool end = (ptf & 0x0200) != 0;
    if (end) {
      PageBuf main;
      if (!Read(vbn, p, main.data(), nullptr, f)) return false;
      static constexpr std::uint32_t kCrcWords[4] = {0, 1, 4, 5};
      for (std::uint32_t q = 0; q < 4; ++q)
        if (StlCrc32(main.data() + 1024 * q, 1024) != s.Ext(kCrcWords[q])) {
          a.Notes.push_back({"crc", vbn, static_cast<std::int32_t>(p), "the CRC of KiB " + Num(q) + " of this END page does not match its data"});
          break;
        }
    }
    seen.push_back({p, s1 >> 16, end});
  }
  std::size_t commit = 0;
  for (std::size_t i = 0; i < seen.size(); ++i)
    if (seen[i].End) commit = i + 1;
  for (std::size_t i = 0; i < commit; ++i) g.Map[seen[i].Lpo] = static_cast<std::uint16_t>(li << 6 | seen[i].Page);
  info.ReplayedPages = static_cast<std::uint32_t>(commit);
  if (commit < seen.size())
    a.Notes.push_back({"log", vbn, static_cast<std::int32_t>(seen[commit].Page),
                       "pages " + Num(seen[commit].Page) + " to " + Num(seen.back().Page) + " of active log VBN " + Num(vbn) +
                           " are a write that never ended; they are not taken"});
  return true;
}

// Every page a group maps must say in its own spare words that it holds that page.
bool Rebuild::VerifyLogPages(Attempt& a, Failure& f) {
  a.LogPages = 0;
  for (const auto& [dgn, g] : a.Res.Groups) {
    for (std::uint32_t lpo = 0; lpo < kPagesPerBlock; ++lpo) {
      const std::uint16_t e = g.Map[lpo];
      if (e == kNone16) continue;
      const std::uint32_t vbn = g.LogVbn[e >> 6], pg = e & 63;
      SpareBuffer s;
      PageState st;
      if (!State(vbn, pg, s, st, f)) return false;
      const std::uint32_t ptf = s.SData3() >> 16;
      if (st != PageState::Written || s.SData1() != LpoWord(lpo) || !HalvesComplement(s.SData3()) || !(ptf & kPtfLogBit) || (ptf & 0xFC00)) {
        f = {"log", vbn, static_cast<std::int32_t>(pg),
             "log VBN " + Num(vbn) + " page " + Num(pg) + " should hold page " + Num(lpo) + " of LBN " + Num(dgn) + " but " +
                 (st == PageState::Clean ? std::string("is clean") : "its spare words say otherwise (" + Hex(s.SData1()) + ", " + Hex(s.SData3()) + ")")};
        return false;
      }
      ++a.LogPages;
    }
  }
  return true;
}

std::uint32_t LocateIn(const StlVolume::Resolution& r, std::uint32_t lpn) {
  const std::uint32_t lbn = lpn / kPagesPerBlock, lpo = lpn % kPagesPerBlock;
  const auto it = r.Groups.find(lbn);
  if (it != r.Groups.end() && it->second.Map[lpo] != kNone16) {
    const std::uint16_t e = it->second.Map[lpo];
    return std::uint32_t{it->second.LogVbn[e >> 6]} << 6 | (e & 63);
  }
  if (lbn < r.DataVbn.size() && r.DataVbn[lbn] != kNone16) return std::uint32_t{r.DataVbn[lbn]} << 6 | lpo;
  return StlVolume::kUnwritten;
}

bool Rebuild::Run() {
  std::vector<std::uint8_t> rootInfo;
  if (!FindRoot(rootInfo) || !CheckZone(rootInfo) || !ScanMeta()) return false;
  Failure f;
  // Directory headers: every page 0 .. P-1 of a meta block must pass.
  for (std::uint32_t i = 0; i < m_; ++i) {
    const MetaPage& last = scan_[i * kPagesPerBlock + dhPages_ - 1];
    if (last.Kind == MetaKind::Clean) continue;
    std::string why;
    for (std::uint32_t p = 0; p < dhPages_ && why.empty(); ++p) {
      const MetaPage& mp = scan_[i * kPagesPerBlock + p];
      if (mp.Kind != MetaKind::DirHeader)
        why = "page " + Num(p) + (mp.Kind == MetaKind::Bad ? " fails its checks (" + mp.Why + ")" : mp.Kind == MetaKind::Clean ? " is clean" : " is no directory-header page");
    }
    if (!why.empty()) {
      rep_.Findings.push_back({"header", metaVbns_[i], -1, "the directory header of meta block " + Num(i) + " is not used: " + why});
      continue;
    }
    std::vector<std::uint8_t>& dh = dhBytes_[i];
    dh.resize(std::size_t{dhPages_} * kPageMainBytes);
    for (std::uint32_t p = 0; p < dhPages_; ++p)
      if (!Read(metaVbns_[i], p, dh.data() + std::size_t{p} * kPageMainBytes, nullptr, f)) return Refuse(f);
  }
  // Only the first layout's volume is kept; every other that passes is compared with it
  // and let go, so the candidates never hold more than two volumes' tables at once.
  std::optional<std::pair<Candidate, Attempt>> first;
  std::vector<Tables> seen;
  std::optional<Failure> headerFailure;
  for (const Candidate& c : Candidates()) {
    Attempt a;
    Failure cf;
    if (!HeaderTables(c, a.T, cf)) {
      if (io_) return Refuse(cf);
      if (cf.Kind != "header" && !headerFailure) headerFailure = cf;
      continue;
    }
    const bool same = std::find(seen.begin(), seen.end(), a.T) != seen.end();
    seen.push_back(a.T);
    if (same) continue;
    if (!Resolve(a, cf)) {
      if (io_) return Refuse(cf);
      if (!headerFailure) headerFailure = cf;
      continue;
    }
    if (!first) {
      first.emplace(c, std::move(a));
      continue;
    }
    for (std::uint32_t lpn = 0; lpn < d_ * kPagesPerBlock; ++lpn)
      if (LocateIn(first->second.Res, lpn) != LocateIn(a.Res, lpn))
        return Refuse({"header", -1, -1,
                       "directory-header layouts " + first->first.Layout.Name() + " and " + c.Layout.Name() +
                           " both pass every check and give different volumes (logical page " + Num(lpn) + " differs)"});
    rep_.Findings.push_back({"header", -1, -1, "layout " + c.Layout.Name() + " fits too and gives the same volume"});
  }
  Attempt chosen;
  if (first) {
    chosen = std::move(first->second);
    rep_.Layout = first->first.Layout;
    rep_.HeaderLayout = rep_.Layout.Name();
  } else {
    if (headerFailure) rep_.Findings.push_back({headerFailure->Kind, headerFailure->Block, headerFailure->Page, headerFailure->Text});
    if (!ScanTables(chosen.T, f) || !Resolve(chosen, f)) return Refuse(f);
    rep_.HeaderLayout = "none";
    rep_.Findings.push_back({"header", -1, -1,
                             "no directory header fits; the tables were taken from a scan of the meta blocks (newest copy of each by its context's age)"});
  }
  rep_.HeaderBlock = chosen.T.HeaderVbn;
  rep_.Logs = std::move(chosen.Logs);
  rep_.LogPagesUsed = chosen.LogPages;
  rep_.Findings.insert(rep_.Findings.end(), chosen.Notes.begin(), chosen.Notes.end());
  resolved_ = std::move(chosen.Res);
  rep_.Rebuilt = true;
  return true;
}

}  // namespace

bool StlVolume::Open() {
  report_ = StlReport{};
  resolved_ = Resolution{};
  Rebuild r(source_, report_, resolved_);
  open_ = r.Run();
  if (!open_) resolved_ = Resolution{};
  return open_;
}

std::uint32_t StlVolume::Locate(std::uint32_t lpn) const { return LocateIn(resolved_, lpn); }

bool StlVolume::Emit(const StlByteSink& sink, std::string& error) {
  if (!open_) {
    error = "the volume was not rebuilt";
    return false;
  }
  std::vector<std::uint8_t> block(kBlockMainBytes);
  const std::uint32_t lbns = static_cast<std::uint32_t>(resolved_.DataVbn.size());
  std::array<std::uint32_t, kPagesPerBlock> where{};
  for (std::uint32_t lbn = 0; lbn < lbns; ++lbn) {
    for (std::uint32_t lpo = 0; lpo < kPagesPerBlock; ++lpo) where[lpo] = Locate(lbn * kPagesPerBlock + lpo);
    for (std::uint32_t lpo = 0; lpo < kPagesPerBlock;) {
      std::uint8_t* out = block.data() + std::size_t{lpo} * kPageMainBytes;
      if (where[lpo] == kUnwritten) {
        std::memset(out, 0xFF, kPageMainBytes);
        ++lpo;
        continue;
      }
      // A run of logical pages from consecutive pages of one block.
      std::uint32_t run = 1;
      while (lpo + run < kPagesPerBlock && where[lpo + run] == where[lpo] + run && ((where[lpo] & 63) + run) < kPagesPerBlock) ++run;
      if (!source_.ReadMainPages(where[lpo] >> 6, where[lpo] & 63, run, out, error)) return false;
      lpo += run;
    }
    if (!sink(block.data(), block.size(), error)) return false;
  }
  return true;
}

}  // namespace orvella::phone
