// STL volumes written by the project's writer and rebuilt by the reader: every size and
// header layout gives back exactly the bytes written last; damage to any structure
// either still gives them or is refused with the reason; crafted inconsistencies are
// refused or reported as the phone's rules say.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "phone/SpareBuffer.h"
#include "phone/StlFormat.h"
#include "phone/StlReader.h"
#include "phone/StlWriter.h"
#include "stl/MemoryUnits.h"

namespace orvella {
namespace {

using namespace phone;
using test::MemoryUnits;

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < n; i += 8) {
    const std::uint64_t r = rng();
    std::memcpy(v.data() + i, &r, std::min<std::size_t>(8, n - i));
  }
  return v;
}

bool HasFinding(const StlReport& r, const std::string& kind, const std::string& text) {
  return std::any_of(r.Findings.begin(), r.Findings.end(),
                     [&](const StlFinding& f) { return f.Kind == kind && f.Text.find(text) != std::string::npos; });
}

std::string Findings(const StlReport& r) {
  std::string s;
  for (const StlFinding& f : r.Findings) s += "  [" + f.Kind + "] " + f.Text + "\n";
  return s;
}

// The header layouts a volume may be written in, by what they take from its geometry.
enum class LayoutKind { Old, NewFull, NewZone, NewRound8RctAligned, NewLa };

StlHeaderLayout LayoutFor(LayoutKind kind, const StlGeometry& g) {
  if (kind == LayoutKind::Old) return {};
  StlHeaderLayout l{false, kStlMaxPmtDir, 0, 1, false};
  if (kind == LayoutKind::NewZone) l.PmtEntries = g.PmtDir;
  if (kind == LayoutKind::NewRound8RctAligned) {
    l.PmtEntries = (g.PmtDir + 7) / 8 * 8;
    l.RctEntries = 3;
    l.Aligned = true;
  }
  if (kind == LayoutKind::NewLa) {
    l.PmtEntries = g.PmtDir;
    l.RctEntries = g.LocalAreasEven();
  }
  l.Pages = (l.Offsets(g.MetaBlocks, g.LocalAreasEven()).End + kPageMainBytes - 1) / kPageMainBytes;
  return l;
}

// A volume written into memory, with what it must read back as.
struct Written {
  explicit Written(std::uint32_t units) : mem(units) {}
  MemoryUnits mem;
  std::vector<std::uint8_t> base;      // the format's contents, before any rewrite
  std::vector<std::uint8_t> expected;  // the newest committed copy of every page
  StlWriteResult result;

  // The volume as it would read with the given log pages never written.
  std::vector<std::uint8_t> Without(const std::function<bool(const StlWrittenPage&)>& lost) {
    std::vector<std::uint8_t> v = base;
    for (const StlWrittenPage& p : result.Pages) {
      if ((p.Kind != StlPageKind::LogRecorded && p.Kind != StlPageKind::LogReplayed) || lost(p)) continue;
      std::copy_n(mem.Main(p.Vbn, p.Page), kPageMainBytes, v.begin() + std::size_t{p.Lpn} * kPageMainBytes);
    }
    return v;
  }
};

void Write(Written& w, std::uint64_t contentBytes, const StlWriteOptions& options) {
  w.expected = RandomBytes(contentBytes, options.Seed * 7 + 1);
  w.base = w.expected;
  std::string error;
  ASSERT_TRUE(WriteStlVolume(w.mem, w.expected, options, w.result, error)) << error;
  w.base.resize(w.result.Geometry.VolumeBytes(), 0xFF);
  ASSERT_EQ(w.expected.size(), w.base.size());
}

TEST(StlGeometry, UnitCountsGiveTheVolumeSizesAFormatMakes) {
  // Volume sizes published for a sister phone: every one is a whole unit count.
  struct Case {
    std::uint32_t Units, Meta, UserBlocks;
  } cases[] = {{20, 3, 5}, {40, 4 - 1, 25}, {700, 14, 674}, {1074, 22, 1040}, {2056, 42, 2002}, {24, 3, 9}, {1180, 24, 1144}};
  for (const Case& c : cases) {
    StlGeometry g;
    std::string error;
    ASSERT_TRUE(StlGeometryForUnits(c.Units, g, error)) << c.Units;
    EXPECT_EQ(g.MetaBlocks, c.Meta) << c.Units;
    EXPECT_EQ(g.UserBlocks, c.UserBlocks) << c.Units;
    EXPECT_EQ(g.PmtDir, std::min<std::uint32_t>(c.UserBlocks, 2048)) << c.Units;
    EXPECT_EQ(g.LocalAreas, (c.UserBlocks - 1) / 512 + 1) << c.Units;
  }
  StlGeometry g;
  std::string error;
  for (std::uint32_t units : {0u, 2u, 15u, 20000u, 65536u}) {
    EXPECT_FALSE(StlGeometryForUnits(units, g, error)) << units;
    EXPECT_FALSE(error.empty());
  }
}

TEST(StlHeaderLayoutText, ParsesOldAndNewAndRefusesTheRest) {
  StlHeaderLayout l;
  std::string error;
  ASSERT_TRUE(ParseStlHeaderLayout("new:600,3,4,a", l, error)) << error;
  EXPECT_EQ(l, (StlHeaderLayout{false, 600, 3, 4, true}));
  EXPECT_EQ(l.Name(), "new:600,3,4,a");
  ASSERT_TRUE(ParseStlHeaderLayout("old", l, error));
  EXPECT_TRUE(l.Old);
  for (const char* bad : {"", "new", "new:1,2", "new:1,2,3,b", "new:0,0,1", "new:2049,0,3", "new:8,256,1", "new:8,0,17",
                          "new:8,x,1", "new:-1,0,1", "older"}) {
    error.clear();
    EXPECT_FALSE(ParseStlHeaderLayout(bad, l, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

struct RoundTrip {
  const char* Name;
  std::uint32_t Units;
  double Filled;  // share of the volume the format's contents cover
  LayoutKind Layout;
  std::uint32_t Rewrites;
  bool Switch;
};

class StlRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(StlRoundTrip, RebuildsTheLastWrittenBytesOfEveryPage) {
  const RoundTrip& c = GetParam();
  StlGeometry g;
  std::string error;
  ASSERT_TRUE(StlGeometryForUnits(c.Units, g, error));
  Written w(c.Units);
  StlWriteOptions o;
  o.Layout = LayoutFor(c.Layout, g);
  o.RewritePages = c.Rewrites;
  o.Seed = c.Units * 31 + c.Rewrites;
  o.HeaderSwitch = c.Switch;
  // Not a whole number of pages, so the last page holds 0xFF after the contents.
  ASSERT_NO_FATAL_FAILURE(Write(w, static_cast<std::uint64_t>(g.VolumeBytes() * c.Filled) / 512 * 512 - 1536, o));

  StlReport r;
  std::vector<std::uint8_t> bytes;
  ASSERT_TRUE(test::RebuildVolume(w.mem, r, bytes, error)) << r.Refusal << error << "\n" << Findings(r);
  EXPECT_TRUE(r.Rebuilt);
  EXPECT_EQ(r.VolumeSectors, g.UserBlocks * 512);
  ASSERT_EQ(bytes.size(), w.expected.size());
  EXPECT_TRUE(bytes == w.expected) << "first difference at byte "
                                   << (std::mismatch(bytes.begin(), bytes.end(), w.expected.begin()).first - bytes.begin());

  // The layout found reads the header exactly as it was written.
  const StlHeaderOffsets want = o.Layout.Offsets(g.MetaBlocks, g.LocalAreasEven());
  const StlHeaderOffsets got = r.Layout.Offsets(g.MetaBlocks, g.LocalAreasEven());
  EXPECT_EQ(got.BmtDir, want.BmtDir) << r.HeaderLayout;
  EXPECT_EQ(got.PmtDir, want.PmtDir) << r.HeaderLayout;
  EXPECT_EQ(got.Fixed, want.Fixed) << r.HeaderLayout;
  EXPECT_EQ(r.HeaderBlock, c.Switch && c.Rewrites ? 3 : 2);

  std::set<std::uint32_t> rewritten;
  bool tail = false;
  for (const StlWrittenPage& p : w.result.Pages) {
    if (p.Kind == StlPageKind::LogRecorded || p.Kind == StlPageKind::LogReplayed) rewritten.insert(p.Lpn);
    tail = tail || p.Kind == StlPageKind::LogTail;
  }
  EXPECT_EQ(r.LogPagesUsed, rewritten.size());
  EXPECT_EQ(r.Logs.size(), w.result.RewrittenBlocks);
  EXPECT_EQ(tail, HasFinding(r, "log", "never ended")) << Findings(r);
  // A sound volume leaves nothing else to report.
  for (const StlFinding& f : r.Findings) EXPECT_NE(f.Text.find("never ended"), std::string::npos) << f.Text;
  EXPECT_EQ(c.Rewrites > 0, std::any_of(r.Logs.begin(), r.Logs.end(), [](const StlLogInfo& l) { return l.ReplayedPages > 0; }));
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, StlRoundTrip,
    ::testing::Values(RoundTrip{"Fresh24Old", 24, 1.0, LayoutKind::Old, 0, false},
                      RoundTrip{"Fresh40HalfFull", 40, 0.5, LayoutKind::NewZone, 0, false},
                      RoundTrip{"Rewritten24Old", 24, 0.7, LayoutKind::Old, 70, false},
                      RoundTrip{"Rewritten24Switch", 24, 0.7, LayoutKind::NewZone, 70, true},
                      RoundTrip{"Rewritten60Full", 60, 1.0, LayoutKind::NewFull, 200, true},
                      RoundTrip{"Rewritten60Round8Rct", 60, 0.9, LayoutKind::NewRound8RctAligned, 9, true},
                      RoundTrip{"Rewritten60La", 60, 0.9, LayoutKind::NewLa, 33, false},
                      RoundTrip{"TwoLas600Old", 600, 0.8, LayoutKind::Old, 384, true},
                      RoundTrip{"TwoLas560Round8", 560, 0.6, LayoutKind::NewRound8RctAligned, 300, true},
                      RoundTrip{"ThreeLas1100La", 1100, 1.0, LayoutKind::NewLa, 100, false}),
    [](const auto& p) { return std::string(p.param.Name); });

// ---------------------------------------------------------------------------------------
// Damage to every structure of a small volume, one page and one kind of damage at a time.

enum class Damage { FlipMainFirst, FlipMainMiddle, FlipMainLast, FlipSData1, FlipSData2, FlipSData3, FlipExt0,
                    FillMain00, FillMainFF, FillSpare00, FillSpareFF, FillPage00, Erase };
constexpr Damage kDamages[] = {Damage::FlipMainFirst, Damage::FlipMainMiddle, Damage::FlipMainLast, Damage::FlipSData1,
                               Damage::FlipSData2,    Damage::FlipSData3,     Damage::FlipExt0,     Damage::FillMain00,
                               Damage::FillMainFF,    Damage::FillSpare00,    Damage::FillSpareFF,  Damage::FillPage00,
                               Damage::Erase};

bool TouchesMain(Damage d) {
  return d == Damage::FlipMainFirst || d == Damage::FlipMainMiddle || d == Damage::FlipMainLast ||
         d == Damage::FillMain00 || d == Damage::FillMainFF;
}

void Apply(Damage d, std::uint8_t* main, std::uint8_t* spare) {
  auto flipBuf = [&](std::uint32_t k) { spare[SpareOffsetOfBufferByte(k)] ^= 0x10; };
  switch (d) {
    case Damage::FlipMainFirst: main[0] ^= 0x01; break;
    case Damage::FlipMainMiddle: main[2000] ^= 0x80; break;
    case Damage::FlipMainLast: main[kPageMainBytes - 1] ^= 0x04; break;
    case Damage::FlipSData1: flipBuf(kBufSData1 + 2); break;
    case Damage::FlipSData2: flipBuf(kBufSData2); break;
    case Damage::FlipSData3: flipBuf(kBufSData3 + 3); break;
    case Damage::FlipExt0: flipBuf(kBufExt0 + 1); break;
    case Damage::FillMain00: std::fill_n(main, kPageMainBytes, 0x00); break;
    case Damage::FillMainFF: std::fill_n(main, kPageMainBytes, 0xFF); break;
    case Damage::FillSpare00: std::fill_n(spare, kPageSpareBytes, 0x00); break;
    case Damage::FillSpareFF: std::fill_n(spare, kPageSpareBytes, 0xFF); break;
    case Damage::FillPage00:
      std::fill_n(main, kPageMainBytes, 0x00);
      std::fill_n(spare, kPageSpareBytes, 0x00);
      break;
    case Damage::Erase:
      std::fill_n(main, kPageMainBytes, 0xFF);
      std::fill_n(spare, kPageSpareBytes, 0xFF);
      break;
  }
}

struct SweepVolume {
  const char* Name;
  LayoutKind Layout;
  bool Switch;
};

class StlDamageSweep : public ::testing::TestWithParam<SweepVolume> {};

TEST_P(StlDamageSweep, EveryStructureRebuildsTheRightBytesOrIsRefused) {
  const SweepVolume& c = GetParam();
  constexpr std::uint32_t kUnits = 24;
  StlGeometry g;
  std::string error;
  ASSERT_TRUE(StlGeometryForUnits(kUnits, g, error));
  Written w(kUnits);
  StlWriteOptions o;
  o.Layout = LayoutFor(c.Layout, g);
  o.RewritePages = 70;
  o.Seed = 5;
  o.HeaderSwitch = c.Switch;
  ASSERT_NO_FATAL_FAILURE(Write(w, 6 * kBlockMainBytes + 5000, o));

  // Losing the newest page of an append-only area is what a power cut before its write
  // leaves: then the volume as it was before that write is the right answer.
  const StlWrittenPage* lastMeta = nullptr;
  std::set<std::uint32_t> tailLogs;
  for (const StlWrittenPage& p : w.result.Pages) {
    if (p.Kind == StlPageKind::CtxPmt) lastMeta = &p;
    if (p.Kind == StlPageKind::LogTail) tailLogs.insert(p.Vbn);
  }
  ASSERT_NE(lastMeta, nullptr);
  auto lastReplayed = [&](const StlWrittenPage& p) {
    if (p.Kind != StlPageKind::LogReplayed || tailLogs.count(p.Vbn)) return false;
    return std::none_of(w.result.Pages.begin(), w.result.Pages.end(),
                        [&](const StlWrittenPage& q) { return q.Vbn == p.Vbn && q.Page > p.Page; });
  };

  std::map<StlPageKind, std::pair<int, int>> outcomes;  // rebuilt, refused
  int earlier = 0, crcFindings = 0;
  for (const StlWrittenPage& page : w.result.Pages) {
    const bool isLog = page.Kind == StlPageKind::LogRecorded || page.Kind == StlPageKind::LogReplayed ||
                       page.Kind == StlPageKind::LogTail;
    for (Damage d : kDamages) {
      if (isLog && TouchesMain(d)) continue;  // a log page's data is not a structure
      std::vector<std::uint8_t> main(w.mem.Main(page.Vbn, page.Page), w.mem.Main(page.Vbn, page.Page) + kPageMainBytes);
      std::vector<std::uint8_t> spare(w.mem.Spare(page.Vbn, page.Page), w.mem.Spare(page.Vbn, page.Page) + kPageSpareBytes);
      Apply(d, w.mem.Main(page.Vbn, page.Page), w.mem.Spare(page.Vbn, page.Page));
      StlReport r;
      std::vector<std::uint8_t> bytes;
      const bool rebuilt = test::RebuildVolume(w.mem, r, bytes, error);
      std::copy(main.begin(), main.end(), w.mem.Main(page.Vbn, page.Page));
      std::copy(spare.begin(), spare.end(), w.mem.Spare(page.Vbn, page.Page));

      const std::string what = "VBN " + std::to_string(page.Vbn) + " page " + std::to_string(page.Page) + " kind " +
                               std::to_string(static_cast<int>(page.Kind)) + " damage " + std::to_string(static_cast<int>(d));
      if (!rebuilt) {
        ++outcomes[page.Kind].second;
        EXPECT_FALSE(r.Refusal.empty()) << what;
        EXPECT_FALSE(r.Rebuilt) << what;
        EXPECT_TRUE(bytes.empty()) << what;
        continue;
      }
      ++outcomes[page.Kind].first;
      const bool end = (SpareBuffer::FromPageSpare(spare.data()).SData3() >> 16) == kPtfLogEnd;
      if (d == Damage::FlipExt0 && page.Kind == StlPageKind::LogReplayed && end) {
        EXPECT_TRUE(HasFinding(r, "crc", "does not match its data")) << what << "\n" << Findings(r);
        ++crcFindings;
      }
      if (bytes == w.expected) continue;
      std::vector<std::uint8_t> before;
      if (d == Damage::Erase && &page == lastMeta)
        before = w.Without([&](const StlWrittenPage& p) { return p.Lbn == lastMeta->Lbn; });
      else if (d == Damage::Erase && lastReplayed(page))
        before = w.Without([&](const StlWrittenPage& p) { return p.Kind == StlPageKind::LogReplayed && p.Vbn == page.Vbn; });
      EXPECT_TRUE(!before.empty() && bytes == before) << what << " gave wrong bytes\n" << Findings(r);
      earlier += !before.empty() && bytes == before;
    }
  }
  // Root pages have no older copy here; directory headers always have the scan.
  EXPECT_EQ(outcomes[StlPageKind::DirHeader].second, 0);
  EXPECT_GT(outcomes[StlPageKind::DirHeader].first, 0);
  EXPECT_GT(outcomes[StlPageKind::Root].second, 0);
  EXPECT_GT(outcomes[StlPageKind::BmtCtx].second, 0);
  EXPECT_GT(outcomes[StlPageKind::CtxPmt].second, 0);
  EXPECT_GT(outcomes[StlPageKind::LogRecorded].second, 0);
  EXPECT_GT(outcomes[StlPageKind::LogReplayed].second, 0);
  EXPECT_GE(earlier, 1);
  EXPECT_GE(crcFindings, 1);
}

INSTANTIATE_TEST_SUITE_P(Volumes, StlDamageSweep,
                         ::testing::Values(SweepVolume{"OldLayout", LayoutKind::Old, false},
                                           SweepVolume{"NewLayoutSwitchedHeader", LayoutKind::NewZone, true}),
                         [](const auto& p) { return std::string(p.param.Name); });

// ---------------------------------------------------------------------------------------
// Crafted states: each changes one thing with its checksums made good again.

// Rewrites the root page of VBN 0 after `change` with a matching checksum.
void PatchRoot(MemoryUnits& mem, const std::function<void(std::uint8_t*)>& change, std::uint32_t rootBlocks = 2) {
  std::uint8_t* main = mem.Main(0, 0);
  change(main);
  SpareBuffer s = SpareBuffer::FromPageSpare(mem.Spare(0, 0));
  const std::uint32_t zbc = ZeroBitCount(main, RootInfoChecked(rootBlocks));
  s.SetU32(kBufSData1, zbc);
  s.SetU32(kBufSData2, ~zbc);
  s.ToPageSpare(mem.Spare(0, 0));
}

// The newest CTX+PMT page and its context, re-confirmed after `change`.
void PatchLatestContext(Written& w, const std::function<void(std::uint8_t*)>& change) {
  const StlWrittenPage* last = nullptr;
  for (const StlWrittenPage& p : w.result.Pages)
    if (p.Kind == StlPageKind::CtxPmt) last = &p;
  ASSERT_NE(last, nullptr);
  std::uint8_t* ctx = w.mem.Main(last->Vbn, last->Page);
  change(ctx);
  PutConfirmation(ctx, ContextChecked(w.result.Geometry.LocalAreas));
}

const StlWrittenPage& LastOf(const Written& w, StlPageKind kind) {
  const StlWrittenPage* last = nullptr;
  for (const StlWrittenPage& p : w.result.Pages)
    if (p.Kind == kind) last = &p;
  return *last;
}

struct Crafted {
  const char* Name;
  std::function<void(Written&)> Change;
  bool Rebuilt;
  const char* Kind;
  const char* Text;
  // For rebuilt volumes: the log pages that no longer count.
  std::function<bool(const Written&, const StlWrittenPage&)> Lost;
};

class StlCrafted : public ::testing::TestWithParam<Crafted> {};

TEST_P(StlCrafted, IsRefusedOrReportedWithItsReason) {
  const Crafted& c = GetParam();
  Written w(40);
  StlWriteOptions o;
  o.RewritePages = 40;
  o.Seed = 11;
  o.InterruptedTail = false;
  ASSERT_NO_FATAL_FAILURE(Write(w, 20 * kBlockMainBytes, o));
  c.Change(w);
  StlReport r;
  std::vector<std::uint8_t> bytes;
  std::string error;
  const bool rebuilt = test::RebuildVolume(w.mem, r, bytes, error);
  EXPECT_EQ(rebuilt, c.Rebuilt) << r.Refusal << "\n" << Findings(r);
  EXPECT_TRUE(HasFinding(r, c.Kind, c.Text)) << Findings(r);
  if (!c.Rebuilt) {
    EXPECT_NE(r.Refusal.find(c.Text), std::string::npos) << r.Refusal;
    EXPECT_TRUE(bytes.empty());
  } else if (c.Lost) {
    EXPECT_TRUE(bytes == w.Without([&](const StlWrittenPage& p) { return c.Lost(w, p); }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    States, StlCrafted,
    ::testing::Values(
        Crafted{"ErasedPartition", [](Written& w) { std::fill_n(w.mem.Main(0, 0), 8, 0xFF); }, false, "root",
                "not an STL volume", nullptr},
        Crafted{"RootPageAfterACleanPage",
                [](Written& w) {
                  std::string e;
                  ASSERT_TRUE(w.mem.WritePage(0, 2, w.mem.Main(0, 0), w.mem.Spare(0, 0), e)) << e;
                },
                false, "root", "is written after clean page 1", nullptr},
        Crafted{"NewerRootPageDamaged",
                [](Written& w) {
                  // A second root page, newer, then one bit of its root info flipped.
                  std::vector<std::uint8_t> page(w.mem.Main(0, 0), w.mem.Main(0, 0) + kPageMainBytes);
                  std::vector<std::uint8_t> spare(w.mem.Spare(0, 0), w.mem.Spare(0, 0) + kPageSpareBytes);
                  StlPutAge(page.data() + kRootAge, StlAge(page.data() + kRootAge) - 1);
                  StlPut16(page.data() + kRootPageOffset, 2);
                  SpareBuffer s = SpareBuffer::FromPageSpare(spare.data());
                  const std::uint32_t zbc = ZeroBitCount(page.data(), RootInfoChecked(2));
                  s.SetU32(kBufSData1, zbc);
                  s.SetU32(kBufSData2, ~zbc);
                  s.ToPageSpare(spare.data());
                  page[100] ^= 0x08;
                  std::string e;
                  ASSERT_TRUE(w.mem.WritePage(0, 1, page.data(), spare.data(), e)) << e;
                },
                true, "root", "an older root page is taken", [](const Written&, const StlWrittenPage&) { return false; }},
        Crafted{"FourRootBlocks",
                [](Written& w) { PatchRoot(w.mem, [](std::uint8_t* m) { StlPut16(m + kRootBlockCount, 4); }, 4); },
                false, "root", "four root blocks", nullptr},
        Crafted{"TwoZones", [](Written& w) { PatchRoot(w.mem, [](std::uint8_t* m) { StlPut16(m + kRootZones, 2); }); },
                false, "zone", "2 zones", nullptr},
        Crafted{"UserBlocksOffByOne",
                [](Written& w) {
                  PatchRoot(w.mem, [](std::uint8_t* m) {
                    std::uint8_t* z = m + ZoneInfoOffset(2);
                    StlPut16(z + kZoneUserBlocks, StlU16(z + kZoneUserBlocks) + 1);
                  });
                },
                false, "zone", "do not make its", nullptr},
        Crafted{"MetaBlockOutsideTheZone",
                [](Written& w) { PatchRoot(w.mem, [](std::uint8_t* m) { StlPut16(m + ZoneInfoOffset(2) + kZoneMetaList + 2, 1); }); },
                false, "zone", "outside the zone", nullptr},
        Crafted{"LogInTheFreeList",
                [](Written& w) {
                  PatchLatestContext(w, [](std::uint8_t* ctx) {
                    StlPut16(ctx + kCtxFreeHead, StlU16(ctx + kCtxFreeHead) - 1);
                    StlPut16(ctx + kCtxFreeCount, StlU16(ctx + kCtxFreeCount) + 1);
                  });
                },
                true, "group", "is in the latest context's free list",
                [](const Written& w, const StlWrittenPage& p) { return p.Lbn == LastOf(w, StlPageKind::CtxPmt).Lbn; }},
        Crafted{"LogIsAnotherBlocksDataBlock",
                [](Written& w) {
                  const StlWrittenPage& bmt = LastOf(w, StlPageKind::BmtCtx);
                  const StlWrittenPage& log = LastOf(w, StlPageKind::LogRecorded);
                  const std::uint32_t other = (log.Lbn + 1) % w.result.Geometry.UserBlocks;
                  std::uint8_t* b = w.mem.Main(bmt.Vbn, bmt.Page);
                  StlPut16(b + kBmtVbns + 2 * other, log.Vbn);
                  b[kBmtGarbage + other / 8] &= static_cast<std::uint8_t>(~(1u << (other % 8)));
                  PutConfirmation(b, kBmtChecked);
                },
                true, "group", "is the data block of LBN", nullptr},
        Crafted{"MergedLog",
                [](Written& w) {
                  const StlWrittenPage& log = LastOf(w, StlPageKind::LogRecorded);
                  PatchLatestContext(w, [&](std::uint8_t* ctx) {
                    StlPut16(ctx + kCtxMergedDgn, log.Lbn);
                    StlPut16(ctx + kCtxMergedVbn, log.Vbn);
                    StlPut16(ctx + kCtxActiveCount, StlU16(ctx + kCtxActiveCount) - 1);
                  });
                },
                true, "group", "was merged", [](const Written& w, const StlWrittenPage& p) {
                  return p.Vbn == LastOf(w, StlPageKind::LogRecorded).Vbn;
                }},
        Crafted{"ActiveLogWithoutGroup",
                [](Written& w) {
                  PatchLatestContext(w, [](std::uint8_t* ctx) { StlPut16(ctx + kCtxActiveList, 0x0123); });
                },
                false, "log", "is in no stored log group", nullptr},
        Crafted{"LogPageHoldsAnotherPage",
                [](Written& w) {
                  // A recorded page that its group maps, now claiming another page.
                  const StlWrittenPage& p = LastOf(w, StlPageKind::LogRecorded);
                  SpareBuffer s = SpareBuffer::FromPageSpare(w.mem.Spare(p.Vbn, p.Page));
                  s.SetU32(kBufSData1, LpoWord((p.Lpn + 1) % 64));
                  s.ToPageSpare(w.mem.Spare(p.Vbn, p.Page));
                },
                false, "log", "should hold page", nullptr},
        Crafted{"TwoBlocksShareADataBlock",
                [](Written& w) {
                  const StlWrittenPage& bmt = LastOf(w, StlPageKind::BmtCtx);
                  std::uint8_t* b = w.mem.Main(bmt.Vbn, bmt.Page);
                  StlPut16(b + kBmtVbns + 2 * 1, StlU16(b + kBmtVbns));
                  PutConfirmation(b, kBmtChecked);
                },
                false, "bmt", "both map to VBN", nullptr}),
    [](const auto& p) { return std::string(p.param.Name); });

TEST(StlCrafted, AZoneLargerThanThePartitionIsRefusedAndASmallerOneNoted) {
  Written w(40);
  ASSERT_NO_FATAL_FAILURE(Write(w, 3 * kBlockMainBytes, StlWriteOptions{}));
  StlReport r;
  std::vector<std::uint8_t> bytes;
  std::string error;
  test::FirstUnits shorter(w.mem, 39);
  EXPECT_FALSE(test::RebuildVolume(shorter, r, bytes, error));
  EXPECT_NE(r.Refusal.find("the partition holds 39 units"), std::string::npos) << r.Refusal;

  // Written for 39 units into a partition of 40: the last unit is not the volume's.
  MemoryUnits mem(40);
  StlGeometry g;
  ASSERT_TRUE(StlGeometryForUnits(39, g, error));
  std::vector<std::uint8_t> content = RandomBytes(g.VolumeBytes(), 3);
  struct Sink : PageSink {
    MemoryUnits& m;
    explicit Sink(MemoryUnits& mm) : m(mm) {}
    std::uint32_t Blocks() const override { return 39; }
    bool WritePage(std::uint32_t b, std::uint32_t p, const std::uint8_t* mn, const std::uint8_t* sp, std::string& e) override {
      return m.WritePage(b, p, mn, sp, e);
    }
  } sink(mem);
  StlWriteResult result;
  ASSERT_TRUE(WriteStlVolume(sink, content, StlWriteOptions{}, result, error)) << error;
  ASSERT_TRUE(test::RebuildVolume(mem, r, bytes, error)) << r.Refusal;
  EXPECT_TRUE(bytes == content);
  EXPECT_TRUE(HasFinding(r, "zone", "1 units are not part of the volume")) << Findings(r);
}

// Units of which only a few pages were ever written; the rest read erased.
class SparseUnits : public PageSource {
 public:
  explicit SparseUnits(std::uint32_t units) : units_(units) {}
  std::uint32_t Blocks() const override { return units_; }
  bool ReadPage(std::uint32_t b, std::uint32_t p, std::uint8_t* m, std::uint8_t* s, std::string&) override {
    const auto it = pages_.find({b, p});
    if (m) std::fill_n(m, kPageMainBytes, 0xFF);
    if (s) std::fill_n(s, kPageSpareBytes, 0xFF);
    if (it == pages_.end()) return true;
    if (m) std::copy(it->second.first.begin(), it->second.first.end(), m);
    if (s) std::copy(it->second.second.begin(), it->second.second.end(), s);
    return true;
  }
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> pages_;

 private:
  std::uint32_t units_;
};

TEST(StlCrafted, AZoneWithMoreLocalAreasThanAContextListsIsRefused) {
  // A consistent zone of 20000 units: 39 local areas, whose context arrays would run
  // past the context's 512 bytes.
  Written w(24);
  ASSERT_NO_FATAL_FAILURE(Write(w, kBlockMainBytes, StlWriteOptions{}));
  PatchRoot(w.mem, [](std::uint8_t* m) {
    std::uint8_t* z = m + ZoneInfoOffset(2);
    const std::uint32_t t = 19998, meta = 96, user = t - meta - 10;
    StlPut16(z + kZoneBlocks, t);
    StlPut16(z + kZoneMetaBlocks, meta);
    StlPut16(z + kZoneUserBlocks, user);
    StlPut32(z + kZoneUserSectors, user * 512);
    StlPut32(z + kZoneUserPages, user * 64);
    StlPut16(z + kZoneLaCount, (user - 1) / 512 + 1);
    StlPut16(z + kZoneMaxPmtDir, 2048);
    for (std::uint32_t i = 0; i < meta; ++i) StlPut16(z + kZoneMetaList + 2 * i, 2 + i);
  });
  SparseUnits units(20000);
  units.pages_[{0, 0}] = {std::vector<std::uint8_t>(w.mem.Main(0, 0), w.mem.Main(0, 0) + kPageMainBytes),
                          std::vector<std::uint8_t>(w.mem.Spare(0, 0), w.mem.Spare(0, 0) + kPageSpareBytes)};
  StlVolume v(units);
  EXPECT_FALSE(v.Open());
  EXPECT_NE(v.Report().Refusal.find("39 local areas are more than a context can list"), std::string::npos)
      << v.Report().Refusal;
}

// Fails the nth page read and every one after it.
class FailingReads : public PageSource {
 public:
  FailingReads(PageSource& inner, std::uint64_t failAt) : inner_(inner), failAt_(failAt) {}
  std::uint32_t Blocks() const override { return inner_.Blocks(); }
  bool ReadPage(std::uint32_t b, std::uint32_t p, std::uint8_t* m, std::uint8_t* s, std::string& error) override {
    if (reads_++ >= failAt_) {
      error = "Input/output error";
      return false;
    }
    return inner_.ReadPage(b, p, m, s, error);
  }

 private:
  PageSource& inner_;
  std::uint64_t failAt_;
  std::uint64_t reads_ = 0;
};

TEST(StlReadFaults, EveryFailingReadEndsOpenOrEmitWithTheError) {
  Written w(24);
  StlWriteOptions o;
  o.RewritePages = 20;
  o.HeaderSwitch = true;
  ASSERT_NO_FATAL_FAILURE(Write(w, 2 * kBlockMainBytes, o));
  std::uint64_t total = 0;
  {
    FailingReads all(w.mem, ~std::uint64_t{0});
    StlReport r;
    std::vector<std::uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(test::RebuildVolume(all, r, bytes, error));
    total = w.mem.reads;
  }
  ASSERT_GT(total, 100u);
  for (std::uint64_t n = 0; n < total; n += 7) {
    w.mem.reads = 0;
    FailingReads failing(w.mem, n);
    StlVolume v(failing);
    std::string error;
    if (!v.Open()) {
      EXPECT_NE(v.Report().Refusal.find("cannot be read: Input/output error"), std::string::npos) << n << ": " << v.Report().Refusal;
      continue;
    }
    std::uint64_t got = 0;
    EXPECT_FALSE(v.Emit([&](const std::uint8_t*, std::size_t k, std::string&) { got += k; return true; }, error)) << n;
    EXPECT_EQ(error, "Input/output error") << n;
    EXPECT_LT(got, v.Bytes()) << n;
  }
}

TEST(StlWriterLimits, RefusesWhatItCannotWrite) {
  struct Case {
    const char* Name;
    std::uint32_t Units;
    std::uint64_t Bytes;
    StlWriteOptions Options;
    const char* Text;
  };
  StlWriteOptions tooMany;
  tooMany.RewritePages = 9 * 48 + 1;
  StlWriteOptions smallLayout;
  smallLayout.Layout = {false, 8, 0, 1, false};
  StlWriteOptions loosePages;
  loosePages.Layout = {false, 2048, 0, 4, false};
  const Case cases[] = {
      {"ContentsTooLarge", 24, 9 * kBlockMainBytes + 1, {}, "do not fit in the volume"},
      {"NoDataBlock", 15, 0, {}, "hold no data block"},
      {"TooManyRewrites", 40, 0, tooMany, "do not fit"},
      {"PmtDirectoryTooShort", 24, 0, smallLayout, "fewer PMT directory entries"},
      {"HeaderPagesNotExact", 24, 0, loosePages, "do not fit exactly"},
  };
  for (const Case& c : cases) {
    MemoryUnits mem(c.Units);
    std::vector<std::uint8_t> content(c.Bytes, 0x5A);
    StlWriteResult result;
    std::string error;
    EXPECT_FALSE(WriteStlVolume(mem, content, c.Options, result, error)) << c.Name;
    EXPECT_NE(error.find(c.Text), std::string::npos) << c.Name << ": " << error;
  }
}

}  // namespace
}  // namespace orvella
