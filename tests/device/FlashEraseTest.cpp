// Flashing and erasing partitions: the write request block field by field, the
// connected flag, the gauge maxima, the row order and the failure ends.

#include <cstring>

#include "FakeDevice.h"
#include "device/Utf16Text.h"

namespace devtest {
namespace {

class FlashErase : public DeviceTest {
 protected:
  void SetUp() override { LoadImage(StandardImage()); }
  static std::u16string U16(const std::string& s) { return Utf16FromUtf8(s); }
};

TEST_F(FlashErase, FlashOfRowsOneThreeFourWritesThemInOrderAndConnectsOnce) {
  for (std::size_t k : {0u, 2u, 3u}) win_.ModelData.SetMarked(k, true);
  win_.Rec.Log = {"left from before"};
  cmd_.FlashSelectedBtnClick();

  ASSERT_EQ(host_.Writes.size(), 3u);
  const std::uint32_t addr[] = {0, 3 * 0x40000u, 9 * 0x40000u};
  const std::uint32_t len[] = {0x80000, 0x180000, 0xC0000};
  const std::uint8_t connected[] = {0, 1, 1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(host_.Writes[i].Block.Addr, addr[i]);
    EXPECT_EQ(host_.Writes[i].Block.Leng, len[i]);
    EXPECT_EQ(host_.Writes[i].Block.AlreadyConnected, connected[i]);
  }
  EXPECT_EQ(host_.Connects, 0);
  EXPECT_EQ(host_.Identifies, 0);
  EXPECT_EQ(win_.Rec.Max, 0x80000 + 0x180000 + 0xC0000);
  EXPECT_TRUE(win_.Rec.Log.empty());
  EXPECT_EQ(host_.EndSessions, 2);
}

TEST_F(FlashErase, WriteBlockCarriesEveryFieldAsSpecified) {
  win_.Cursor = 2;
  cmd_.FlashSelectedBtnClick();
  ASSERT_EQ(host_.Writes.size(), 1u);
  const WriteCall& w = host_.Writes[0];
  const TWriteRequestBlock& b = w.Block;
  EXPECT_EQ(b.One0, 1u);
  EXPECT_EQ(b.Addr, 3 * 0x40000u);
  EXPECT_EQ(b.Leng, 0x180000u);
  EXPECT_EQ(std::memcmp(b.Descriptor, &host_.Descriptor, sizeof b.Descriptor), 0);
  EXPECT_EQ(b.One88, 1);
  EXPECT_EQ(w.ImagePath, U16(userFile_));
  EXPECT_EQ(b.MData, nullptr);
  EXPECT_EQ(b.Zero100, 0);
  EXPECT_EQ(w.EmptyText, u"");
  EXPECT_EQ(b.PData, nullptr);
  EXPECT_EQ(b.AlreadyConnected, 0);
  EXPECT_EQ(b.Zero113, 0);
  EXPECT_EQ(b.Zero114, 0);
  EXPECT_EQ(b.One115, 1);
  EXPECT_EQ(b.One116, 1);
  EXPECT_EQ(b.EnableEcc, 0);
  EXPECT_EQ(w.Tag, u"tGL0");
  EXPECT_EQ(b.Gauge, &win_.GaugeObject);
  EXPECT_EQ(b.One128, 1);
  EXPECT_EQ(b.StatusText, &FakeStatusText);
  EXPECT_EQ(b.Left, 120);
  EXPECT_EQ(b.Width, 1031);
  EXPECT_EQ(b.Height, 590);
  EXPECT_EQ(b.Top, 45);
  EXPECT_EQ(win_.Rec.Max, 0x18C000) << "cursor row: main data and their spare share";
}

TEST_F(FlashErase, EccStateGeometryAndImagePathAreReadAtEveryWrite) {
  win_.ModelData.SetMarked(0, true);
  win_.ModelData.SetMarked(1, true);
  win_.Ecc = true;
  host_.DuringCall = [&] {
    win_.Ecc = !win_.Ecc;
    win_.Geo = WindowGeometry{7, 800, 600, 9};
    win_.ModelData.CurrentImageFile = userDir_ + "Bild-\xC3\xBC\xE2\x82\xAC.bin";
  };
  cmd_.FlashSelectedBtnClick();
  ASSERT_EQ(host_.Writes.size(), 2u);
  EXPECT_EQ(host_.Writes[0].Block.EnableEcc, 1);
  EXPECT_EQ(host_.Writes[1].Block.EnableEcc, 0);
  EXPECT_EQ(host_.Writes[0].Block.Left, 120);
  EXPECT_EQ(host_.Writes[1].Block.Left, 7);
  EXPECT_EQ(host_.Writes[1].Block.Top, 9);
  EXPECT_EQ(host_.Writes[0].ImagePath, U16(userFile_));
  EXPECT_EQ(host_.Writes[1].ImagePath, U16(userDir_) + u"Bild-\u00FC\u20AC.bin");
}

TEST_F(FlashErase, FlashFailingOnTheSecondOfThreeLeavesTheHostStatusToTheFrame) {
  for (std::size_t k : {1u, 3u, 4u}) win_.ModelData.SetMarked(k, true);
  host_.WriteResults = {1, 0x300};  // low byte zero: failure
  host_.DuringCall = [&] { win_.SetStatusText(0, "host status"); };
  cmd_.FlashSelectedBtnClick();
  ASSERT_EQ(host_.Writes.size(), 2u);
  const auto failed = std::find(g_trace.begin(), g_trace.end(), "Write(0x240000,0xC0000,1)");
  ASSERT_NE(failed, g_trace.end());
  const std::vector<std::string> after(failed + 2, failed + 10);
  const std::vector<std::string> expected = {
      "OnSelectionChange(0,0,0,0)", "UpdateEnabledButtons", "EndSession", "GaugePos=0",
      "Status0=", "GaugePos=0", "Image[0]=12", "Caption[0]=Flash Partition1"};
  EXPECT_EQ(after, expected);
}

TEST_F(FlashErase, EveryFlashStartsUnconnected) {
  win_.ModelData.SetMarked(0, true);
  win_.ModelData.SetMarked(1, true);
  cmd_.FlashSelectedBtnClick();
  cmd_.FlashSelectedBtnClick();
  ASSERT_EQ(host_.Writes.size(), 4u);
  EXPECT_EQ(host_.Writes[2].Block.AlreadyConnected, 0);
  EXPECT_EQ(host_.Writes[3].Block.AlreadyConnected, 1);
}

TEST_F(FlashErase, EraseOfTheCursorRowBeginsWithAnEmptyLineAndCountsMainDataOnly) {
  win_.Cursor = 2;
  host_.DuringCall = [&] { win_.LogAdd("host: erasing"); };
  cmd_.EraseSelectedBtnClick();
  ASSERT_EQ(host_.Erases.size(), 1u);
  const EraseCall& e = host_.Erases[0];
  EXPECT_EQ(e.One, 1u);
  EXPECT_EQ(e.Address, 3 * 0x40000u);
  EXPECT_EQ(e.Length, 0x180000u);
  EXPECT_EQ(e.Zero1, 0u);
  EXPECT_EQ(e.Zero2, 0u);
  EXPECT_EQ(e.One2, 1u);
  EXPECT_EQ(e.Status, &FakeStatusText);
  EXPECT_EQ(e.Geometry.Left, 120);
  EXPECT_EQ(e.Geometry.Width, 1031);
  EXPECT_EQ(e.Geometry.Height, 590);
  EXPECT_EQ(e.Geometry.Top, 45);
  EXPECT_EQ(win_.Rec.Max, 0x180000);
  const std::vector<std::string> log = {"", "host: erasing"};
  EXPECT_EQ(win_.Rec.Log, log);
  EXPECT_EQ(win_.Rec.Status[0], "");
  const std::vector<std::string> calls = {"Connect", "Identify(1)", "Erase(0xC0000,0x180000)"};
  std::vector<std::string> hostCalls;
  for (const auto& t : g_trace)
    if (t == "Connect" || t.rfind("Identify", 0) == 0 || t.rfind("Erase", 0) == 0)
      hostCalls.push_back(t);
  EXPECT_EQ(hostCalls, calls);
}

TEST_F(FlashErase, EraseOfMarkedRowsStopsAtTheFirstFailure) {
  for (std::size_t k : {0u, 2u, 4u}) win_.ModelData.SetMarked(k, true);
  host_.EraseResults = {1, 0};
  cmd_.EraseSelectedBtnClick();
  ASSERT_EQ(host_.Erases.size(), 2u);
  EXPECT_EQ(host_.Erases[0].Address, 0u);
  EXPECT_EQ(host_.Erases[1].Address, 3 * 0x40000u);
  EXPECT_EQ(win_.Rec.Max, 0x80000 + 0x180000 + 0x100000);
  EXPECT_EQ(win_.Rec.Pos, 0);
  EXPECT_EQ(host_.EndSessions, 2);
}

TEST_F(FlashErase, NeitherCommandTouchesTheImageOrTheMarks) {
  const std::vector<std::uint8_t> before = ReadWholeFile(userFile_);
  win_.ModelData.SetMarked(3, true);
  cmd_.FlashSelectedBtnClick();
  cmd_.EraseSelectedBtnClick();
  EXPECT_TRUE(ReadWholeFile(userFile_) == before);
  EXPECT_EQ(win_.ModelData.CurrentImageFile, userFile_);
  EXPECT_TRUE(win_.ModelData.IsMarked(3));
  EXPECT_FALSE(win_.ModelData.IsMarked(2));
  EXPECT_FALSE(cmd_.HoldsUnsavedDeviceData());
}

TEST(Utf16Text, ConvertsEveryPlaneAndReplacesMalformedBytes) {
  EXPECT_EQ(Utf16FromUtf8("/tmp/a.bin"), u"/tmp/a.bin");
  EXPECT_EQ(Utf16FromUtf8("\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"), u"\u00FC\u20AC\U0001F600");
  EXPECT_EQ(Utf16FromUtf8("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf16FromUtf8("a\xE2\x82"), u"a\uFFFD");       // cut short at the end
  EXPECT_EQ(Utf16FromUtf8("\xC0\xAF"), u"\uFFFD");         // overlong
  EXPECT_EQ(Utf16FromUtf8("\xED\xA0\x80x"), u"\uFFFDx");   // encoded surrogate
  EXPECT_EQ(Utf16FromUtf8("\xE2(x"), u"\uFFFD(x");         // continuation missing
}

}  // namespace
}  // namespace devtest
