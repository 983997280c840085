// Volumes written byte by byte. What the phone's file system adds to FAT: extended
// entries with owner and mode, extended-attribute clusters in the creation fields,
// symbolic links, FIFOs and sockets, the journal file; with deleted entries and broken
// long names beside them (the whole listing and every finding are compared). And the
// limits that keep a walk bounded: folders nested past the longest path, a folder of
// more entries than FAT allows.

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "fat/Sources.h"
#include "fat/Volume.h"
#include "tests/fat/TinyVolume.h"

namespace orvella::fattest {
namespace {

using fat::EntryKind;
using fat::FindingKind;

std::vector<std::uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

// A symbolic link's record; the length counts UTF-16 units, or bytes.
std::vector<std::uint8_t> LinkRecord(const std::u16string& target, bool lengthInBytes,
                                     std::uint32_t magic = 0xDFA78699) {
  std::vector<std::uint8_t> r(8);
  PutLe(r, 0, magic, 4);
  r[4] = fat::kKindSymlink;
  PutLe(r, 6, lengthInBytes ? target.size() * 2 : target.size(), 2);
  for (char16_t u : target) {
    r.push_back(static_cast<std::uint8_t>(u));
    r.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  while (r.size() % 4) r.push_back(0);
  r.resize(r.size() + 8);
  PutLe(r, r.size() - 8, 0x12345678, 4);  // checksum, not checked
  PutLe(r, r.size() - 4, 0x83B18ACD, 4);
  return r;
}

struct Expected {
  std::string Path;
  EntryKind Kind;
  std::uint32_t Size;
  std::optional<fat::FileOwner> Owner = std::nullopt;
  std::string Link = {};
  std::optional<std::uint32_t> Xattr = std::nullopt;
};

TEST(PhoneAdditions, ListedAsThePhoneWroteThem) {
  TinyVolume v;
  std::uint64_t at = v.RootSlot(0);
  at = v.PutEntries(at, {Short("ORVPHONE   ", fat::kAttrLabel, 0, 0)});

  // Owner and mode in an extended entry, which must neither be listed nor spoil the long
  // name that follows it.
  const Raw owned = Short("OWNEDB~1BIN", fat::kAttrArchive, 2, 100, fat::kFlagExtendedEntry);
  at = v.PutEntries(at, Long(u"owned by radio.bin", owned));
  at = v.PutEntries(at, {owned, Extended(owned, 0660, 1001, 1002)});
  v.PutData(2, std::vector<std::uint8_t>(100, 'A'));
  const Raw next = Short("NEXTLO~1TXT", fat::kAttrArchive, 3, 10);
  at = v.PutEntries(at, Long(u"next long name.txt", next));
  at = v.PutEntries(at, {next});
  v.PutData(3, Text("0123456789"));
  // An extended entry announced but written for another name: no owner, and the stray
  // entry must not be read as the start of a long name for what follows.
  at = v.PutEntries(at, {Short("WRONGX  BIN", fat::kAttrArchive, 0, 0, fat::kFlagExtendedEntry),
                         Extended(Short("OTHER   BIN", 0, 0, 0), 0600, 1, 1)});

  // Extended attributes in clusters 20 and 21, named by the creation date (high half) and
  // time (low half); a file whose chain starts in them crosses them.
  Raw xattr = Short("XATTR   TXT", fat::kAttrArchive, 4, 5, fat::kFlagXattr);
  xattr[fat::kEntCreateDate] = xattr[fat::kEntCreateDate + 1] = 0;
  xattr[fat::kEntCreateTime] = 20;
  xattr[fat::kEntCreateTime + 1] = 0;
  v.PutData(4, Text("xattr"));
  v.Chain({20, 21});
  Raw xattrOut = Short("XBAD    TXT", fat::kAttrArchive, 0, 0, fat::kFlagXattr);
  xattrOut[fat::kEntCreateDate] = xattrOut[fat::kEntCreateDate + 1] = 0;
  xattrOut[fat::kEntCreateTime] = xattrOut[fat::kEntCreateTime + 1] = 0xFF;
  at = v.PutEntries(at, {xattr, Short("CROSS   BIN", fat::kAttrArchive, 21, 512), xattrOut});

  // Special files by their creation hundredths byte.
  const auto sh = LinkRecord(u"/system/bin/sh", false);
  const auto up = LinkRecord(u"../x", true);
  const auto broken = LinkRecord(u"nowhere", false, 0x11111111);
  v.PutData(5, sh);
  v.PutData(6, up);
  v.PutData(7, broken);
  at = v.PutEntries(at, {Short("SH         ", fat::kAttrArchive, 5, static_cast<std::uint32_t>(sh.size()), 0, fat::kKindSymlink),
                         Short("LINKB      ", fat::kAttrArchive, 6, static_cast<std::uint32_t>(up.size()), 0, fat::kKindSymlink),
                         Short("BADLINK    ", fat::kAttrArchive, 7, static_cast<std::uint32_t>(broken.size()), 0, fat::kKindSymlink),
                         Short("PIPE       ", fat::kAttrArchive, 0, 0, 0, fat::kKindFifo),
                         Short("SOCK       ", fat::kAttrArchive, 0, 0, 0, fat::kKindSocket)});

  // The journal in the root folder; deleted entries, one with a deleted long-name part.
  v.PutData(8, std::vector<std::uint8_t>(1024, 0x4A));
  Raw gone = Short("GONE    TXT", fat::kAttrArchive, 0, 0);
  gone[0] = fat::kEntryDeleted;
  Raw goneLong = Long(u"gone for good.txt", gone)[0];
  goneLong[0] = fat::kEntryDeleted;
  at = v.PutEntries(at, {Short("$RFS_LOGLO$", fat::kAttrHidden | fat::kAttrSystem, 8, 1024), gone, goneLong, gone,
                         Short("AFTERDELTXT", fat::kAttrArchive, 0, 0),
                         Short("ODD/       ", fat::kAttrArchive, 0, 0)});  // a name no FAT allows

  // A long name whose checksum belongs to another short name.
  const Raw brokenName = Short("BROKEN~1TXT", fat::kAttrArchive, 0, 0);
  at = v.PutEntries(at, Long(u"broken long name.txt", Short("BROKEN~2TXT", 0, 0, 0)));
  at = v.PutEntries(at, {brokenName});

  // A subfolder: dot entries, the journal's name away from the root, lower-case flags.
  at = v.PutEntries(at, {Short("SUB        ", fat::kAttrFolder, 30, 0)});
  v.Chain({30});
  v.PutEntries(v.Cluster(30), {Short(".          ", fat::kAttrFolder, 30, 0),
                                         Short("..         ", fat::kAttrFolder, 0, 0),
                                         Short("$RFS_LOGLO$", fat::kAttrArchive, 0, 0),
                                         Short("LOWER   TXT", fat::kAttrArchive, 0, 0, fat::kFlagLowerBase | fat::kFlagLowerExt)});

  fat::MemorySource source(v.Bytes);
  std::string error;
  const auto volume = fat::Volume::Open(source, error);
  ASSERT_NE(volume, nullptr) << error;
  EXPECT_EQ(volume->Label(), "ORVPHONE");

  std::vector<fat::Entry> entries;
  std::vector<std::pair<FindingKind, std::string>> findings;
  const fat::WalkTotals totals = volume->Walk(
      [&](const fat::Entry& e) {
        entries.push_back(e);
        return fat::WalkStep::Continue;
      },
      [&](const fat::Finding& f) { findings.emplace_back(f.Kind, f.Path); });

  const std::vector<Expected> expected = {
      {"/owned by radio.bin", EntryKind::File, 100, fat::FileOwner{1001, 1002, 0660}},
      {"/next long name.txt", EntryKind::File, 10},
      {"/WRONGX.BIN", EntryKind::File, 0},
      {"/XATTR.TXT", EntryKind::File, 5, std::nullopt, "", 20u},
      {"/CROSS.BIN", EntryKind::File, 512},
      {"/XBAD.TXT", EntryKind::File, 0, std::nullopt, "", 0xFFFFu},
      {"/SH", EntryKind::Symlink, static_cast<std::uint32_t>(sh.size()), std::nullopt, "/system/bin/sh"},
      {"/LINKB", EntryKind::Symlink, static_cast<std::uint32_t>(up.size()), std::nullopt, "../x"},
      {"/BADLINK", EntryKind::Symlink, static_cast<std::uint32_t>(broken.size())},
      {"/PIPE", EntryKind::Fifo, 0},
      {"/SOCK", EntryKind::Socket, 0},
      {"/$RFS_LOG.LO$", EntryKind::Journal, 1024},
      {"/AFTERDEL.TXT", EntryKind::File, 0},
      {"/ODD/", EntryKind::File, 0},
      {"/BROKEN~1.TXT", EntryKind::File, 0},
      {"/SUB", EntryKind::Folder, 0},
      {"/SUB/$RFS_LOG.LO$", EntryKind::File, 0},
      {"/SUB/lower.txt", EntryKind::File, 0},
  };
  ASSERT_EQ(entries.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Expected& x = expected[i];
    const fat::Entry& e = entries[i];
    SCOPED_TRACE(x.Path);
    EXPECT_EQ(e.Path, x.Path);
    EXPECT_EQ(e.Kind, x.Kind);
    EXPECT_EQ(e.Size, x.Size);
    EXPECT_EQ(e.LinkTarget, x.Link);
    EXPECT_EQ(e.XattrCluster, x.Xattr);
    // Creation fields that name a cluster are no date; the others are.
    EXPECT_EQ(e.Created.Text(), x.Xattr ? "" : "2024-03-15 13:45:08");
    EXPECT_EQ(e.Modified.Text(), "2024-03-15 13:45:08");
    ASSERT_EQ(e.Owner.has_value(), x.Owner.has_value());
    if (x.Owner) {
      EXPECT_EQ(e.Owner->Uid, x.Owner->Uid);
      EXPECT_EQ(e.Owner->Gid, x.Owner->Gid);
      EXPECT_EQ(e.Owner->Mode, x.Owner->Mode);
    }
  }
  const std::vector<std::pair<FindingKind, std::string>> expectedFindings = {
      {FindingKind::ExtendedEntry, "/WRONGX.BIN"},
      {FindingKind::CrossLink, "/CROSS.BIN"},
      {FindingKind::ChainOutOfRange, "/XBAD.TXT"},
      {FindingKind::LinkRecord, "/BADLINK"},
      {FindingKind::LongName, "/BROKEN~1.TXT"},
  };
  EXPECT_EQ(findings, expectedFindings);
  EXPECT_EQ(totals.Deleted, 2u);
  EXPECT_EQ(totals.Folders, 1u);
  EXPECT_EQ(totals.Files, expected.size() - 1);

  // The owned file's bytes, and a look-up by path in either case.
  const auto found = volume->Find("/OWNED BY RADIO.BIN");
  ASSERT_TRUE(found.has_value());
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(volume->ReadAll(*found, bytes, 1 << 20).Status, fat::ReadStatus::Complete);
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(100, 'A'));
  EXPECT_FALSE(volume->Find("/SUB/missing").has_value());
  EXPECT_TRUE(volume->Find("/sub/LOWER.TXT").has_value());
  // A path is taken as listed, even one whose name ends in a separator.
  const auto odd = volume->Find("/ODD/");
  ASSERT_TRUE(odd.has_value());
  EXPECT_EQ(odd->Name, "ODD/");
}

// Each level's folder has a 255-character name, so the 17th level's path passes 4096
// bytes: it is listed with its finding, and what it holds is not.
TEST(Limits, AFolderPastTheLongestPathIsListedButNotEntered) {
  TinyVolume v;
  std::uint64_t at = v.RootSlot(0);
  std::string path;
  for (std::uint32_t level = 1; level <= 17; ++level) {
    const std::u16string name(255, static_cast<char16_t>(u'a' + level));
    const std::uint32_t first = 2 * level;
    char shortName[12];
    std::snprintf(shortName, sizeof shortName, "LEVEL%03u   ", level);
    const Raw folder = Short(shortName, fat::kAttrFolder, first, 0);
    v.PutEntries(v.PutEntries(at, Long(name, folder)), {folder});
    v.Chain({first, first + 1});
    at = v.PutEntries(v.Cluster(first), {Short(".          ", fat::kAttrFolder, first, 0),
                                         Short("..         ", fat::kAttrFolder, 0, 0)});
    path += "/" + std::string(255, static_cast<char>('a' + level));
  }
  v.PutEntries(at, {Short("DEEP    TXT", fat::kAttrArchive, 0, 0)});

  fat::MemorySource source(v.Bytes);
  std::string error;
  const auto volume = fat::Volume::Open(source, error);
  ASSERT_NE(volume, nullptr) << error;
  std::vector<std::string> listed;
  std::vector<std::pair<FindingKind, std::string>> findings;
  volume->Walk([&](const fat::Entry& e) { listed.push_back(e.Path); return fat::WalkStep::Continue; },
               [&](const fat::Finding& f) { findings.emplace_back(f.Kind, f.Path); });
  ASSERT_EQ(listed.size(), 17u);
  EXPECT_EQ(listed.back(), path);
  EXPECT_EQ(findings, (std::vector<std::pair<FindingKind, std::string>>{{FindingKind::PathTooLong, path}}));
}

// A folder of 65552 entries: the first 65536 are listed, then one finding.
TEST(Limits, AFolderOfMoreEntriesThanFatAllowsStopsAtTheLimit) {
  TinyVolume v(4400);
  ASSERT_TRUE(v.Fat16);
  constexpr std::uint32_t kClusters = 4097;
  std::vector<std::uint32_t> chain;
  for (std::uint32_t c = 2; c < 2 + kClusters; ++c) chain.push_back(c);
  v.Chain(chain);
  v.PutEntries(v.RootSlot(0), {Short("BIG        ", fat::kAttrFolder, 2, 0)});
  std::vector<Raw> files;
  for (std::uint32_t i = 0; i < kClusters * 16; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "F%07uTXT", i);
    files.push_back(Short(name, fat::kAttrArchive, 0, 0));
  }
  v.PutEntries(v.Cluster(2), files);

  fat::MemorySource source(v.Bytes);
  std::string error;
  const auto volume = fat::Volume::Open(source, error);
  ASSERT_NE(volume, nullptr) << error;
  std::vector<std::pair<FindingKind, std::string>> findings;
  std::string last;
  const fat::WalkTotals totals = volume->Walk(
      [&](const fat::Entry& e) { last = e.Path; return fat::WalkStep::Continue; },
      [&](const fat::Finding& f) { findings.emplace_back(f.Kind, f.Path); });
  EXPECT_EQ(totals.Files, fat::kMaxFolderEntries);
  EXPECT_EQ(last, "/BIG/F0065535.TXT");
  EXPECT_EQ(findings, (std::vector<std::pair<FindingKind, std::string>>{{FindingKind::FolderTooLarge, "/BIG"}}));
}

}  // namespace
}  // namespace orvella::fattest
