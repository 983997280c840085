// The window's short report of a NAND check, on reports made by hand: the lines a user
// reads for a named layout, for no layout, for a cut-off image and for long lists.

#include <gtest/gtest.h>

#include "image/NandHealth.h"

namespace orvella {
namespace {

TEST(NandHealthText, NamedLayoutListsFindingsOutsideAndLongListsCut) {
  NandHealthReport r;
  r.Layout = "smallpage-smc";
  r.LayoutNamedByUser = true;
  r.TableFound = true;
  r.Total = {1024, 24, 990, 0, 1, 9, 0};
  r.Outside = {24, 0, 23, 0, 1, 0, 0};
  r.Partitions = {{1, "BOOT", 0, 1, {}, {512, 0, 512, 0, 0, 0, 0}},
                  {2, "DATA", 1, 40, {1, 2}, {488, 24, 455, 0, 0, 9, 0}}};
  for (std::uint32_t b = 1; b <= 40; ++b) r.BadBlocks.push_back(b);
  r.Uncorrectable = {600, 601};
  EXPECT_EQ(NandHealthLogLines(r),
            (std::vector<std::string>{
                "ECC layout: smallpage-smc (as named)",
                "Sectors: 1024 sectors (1000 written, 24 erased); 990 clean, 0 corrected, 1 code error, "
                "9 uncorrectable",
                "Partition 2 \"DATA\" (blocks 0x0001..0x0028): 9 uncorrectable, 2 bad blocks",
                "Outside every partition: 1 code error",
                "Bad blocks (40): 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007, 0x0008, "
                "0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F, 0x0010, 0x0011, 0x0012, "
                "0x0013, 0x0014, 0x0015, 0x0016, 0x0017, 0x0018, 0x0019, 0x001A, 0x001B, 0x001C, "
                "0x001D, 0x001E, 0x001F, 0x0020 and 8 more",
                "Uncorrectable sectors (2): 600 at 0x0004B000, 601 at 0x0004B200"}));
}

TEST(NandHealthText, NoLayoutNoTableAndACutOffImageSayWhatWasNotChecked) {
  NandHealthReport r;
  r.Total = {2048, 2000, 0, 0, 0, 0, 48};
  r.Complete = false;
  r.NotRead = "blocks 4-7 (the file ends at byte 1081344)";
  EXPECT_EQ(NandHealthLogLines(r),
            (std::vector<std::string>{
                "ECC layout: no known ECC layout matches; only written and erased sectors and bad "
                "blocks are checked",
                "Sectors: 2048 sectors (48 written, 2000 erased)", "No findings.", "Bad blocks: none",
                "No partition table at block 1: the image was checked without partitions.",
                "Not checked: blocks 4-7 (the file ends at byte 1081344)"}));
}

}  // namespace
}  // namespace orvella
