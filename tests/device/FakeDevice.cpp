#include "FakeDevice.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "files/FileIO.h"

namespace devtest {

std::vector<std::string> g_trace;
FakeHost* g_host = nullptr;

namespace {

std::string Hex(std::uint64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
  return buf;
}

std::uint32_t Next(std::deque<std::uint32_t>& results) {
  if (results.empty()) return 1;
  const std::uint32_t r = results.front();
  results.pop_front();
  return r;
}

// Runs the configured nested work, then answers; a raised stop flag fails the service.
std::uint32_t Answer(std::deque<std::uint32_t>& results) {
  if (g_host->DuringCall) g_host->DuringCall();
  const std::uint32_t r = Next(results);
  return g_host->StopFlag != 0 ? 0 : r;
}

void WriteBytes(const std::string& path, std::uint64_t n,
                const std::function<std::uint8_t(std::uint64_t)>& byteAt) {
  std::vector<std::uint8_t> bytes(n);
  for (std::uint64_t k = 0; k < n; ++k) bytes[k] = byteAt(k);
  WriteWholeFile(path, bytes);
}

std::uint32_t FakeConnect(const TPluginDescriptor* descriptor) {
  g_trace.push_back("Connect");
  ++g_host->Connects;
  g_host->ConnectDescriptor = descriptor;
  return g_host->ConnectResult;
}

std::uint32_t FakeIdentify(std::uint32_t one, TFlashInfo* info) {
  g_trace.push_back("Identify(" + std::to_string(one) + ")");
  ++g_host->Identifies;
  *info = g_host->Info;
  return 1;
}

std::uint32_t FakeRead(std::uint32_t one, std::uint32_t address, std::uint32_t length,
                       std::uint32_t zero1, std::uint32_t zero2, const char* tag,
                       std::uint8_t* buffer, std::int32_t marker, void* gauge,
                       std::uint32_t toFile, StatusTextCallback status, std::int32_t left,
                       std::int32_t width, std::int32_t height, std::int32_t top) {
  g_trace.push_back("Read(" + Hex(address) + "," + Hex(length) + ")");
  g_host->Reads.push_back(ReadCall{one, address, length, zero1, zero2, tag == nullptr,
                                   tag ? std::string(tag) : std::string(), buffer == nullptr,
                                   marker, gauge, toFile, status,
                                   WindowGeometry{left, width, height, top}});
  const std::uint32_t r = Answer(g_host->ReadResults);
  if (!HostSucceeded(r)) return r;
  FakeHost& h = *g_host;
  if (toFile) {
    const std::uint64_t spareAt = address / 32;
    if (h.LeaveMainFile)
      WriteBytes(h.WorkFolder + kHostMainFileName, length + h.MainFileDelta,
                 [&](std::uint64_t k) { return h.MainByte(address + k); });
    if (h.LeaveSpareFile)
      WriteBytes(h.WorkFolder + kHostSpareFileName, length / 32 + h.SpareFileDelta,
                 [&](std::uint64_t k) { return h.SpareByte(spareAt + k); });
    if (h.LeaveReadFile) WriteWholeFile(h.WorkFolder + kHostReadFileName, {'r', 'e', 'a', 'd'});
  } else if (buffer) {
    for (std::uint64_t k = 0; k < length; ++k) buffer[k] = h.MainByte(address + k);
    for (std::uint64_t k = 0; k < length / 32; ++k) buffer[length + k] = h.SpareByte(address / 32 + k);
  }
  return r;
}

std::u16string Text16(const char16_t* p) { return p ? std::u16string(p) : std::u16string(u"<null>"); }

std::uint32_t FakeWrite(TWriteRequestBlock block) {
  g_trace.push_back("Write(" + Hex(block.Addr) + "," + Hex(block.Leng) + "," +
                    std::to_string(block.AlreadyConnected) + ")");
  g_host->Writes.push_back(
      WriteCall{block, Text16(block.ImagePath), Text16(block.EmptyText), Text16(block.Tag)});
  return Answer(g_host->WriteResults);
}

std::uint32_t FakeErase(std::uint32_t one, std::uint32_t address, std::uint32_t length,
                        std::uint32_t zero1, std::uint32_t zero2, std::uint32_t one2,
                        StatusTextCallback status, std::int32_t left, std::int32_t width,
                        std::int32_t height, std::int32_t top) {
  g_trace.push_back("Erase(" + Hex(address) + "," + Hex(length) + ")");
  g_host->Erases.push_back(EraseCall{one, address, length, zero1, zero2, one2, status,
                                     WindowGeometry{left, width, height, top}});
  return Answer(g_host->EraseResults);
}

std::uint32_t FakeEndSession() {
  g_trace.push_back("EndSession");
  ++g_host->EndSessions;
  return 1;
}

}  // namespace

void FakeStatusText(std::uint32_t, std::int32_t, const char16_t*) {}

FakeHost::FakeHost() : MainByte(ChipMainByte), SpareByte(ChipSpareByte) {
  Descriptor.Fixed1234 = 0x1234;
  Descriptor.FixedFFFF = 0xFFFF;
  for (std::size_t i = 0; i < sizeof Descriptor.Reserved16; ++i)
    Descriptor.Reserved16[i] = static_cast<std::uint8_t>(0xA0 + i);
  Descriptor.ResourceSize = 0x55AA;
}

DeviceServiceTable FakeHost::Table() {
  DeviceServiceTable t;
  t.connect = FakeConnect;
  t.identify = FakeIdentify;
  t.readRange = FakeRead;
  t.writeRange = FakeWrite;
  t.eraseRange = FakeErase;
  t.endSession = FakeEndSession;
  t.descriptor = &Descriptor;
  t.statusText = FakeStatusText;
  t.stopFlag = &StopFlag;
  return t;
}

FakeWindow::FakeWindow(std::string workFolder) : Folder(std::move(workFolder)) {
  for (int b = 0; b < kDeviceButtonCount; ++b) {
    Idles[b] = DesignIdleLook(static_cast<DeviceButton>(b));
    Captions[b] = Idles[b].Caption;
    Images[b] = Idles[b].ImageIndex;
  }
  Enabled[ReadPartitionBtn] = true;
}

void FakeWindow::GaugeSetMax(std::int64_t v) {
  g_trace.push_back("GaugeMax=" + Hex(static_cast<std::uint64_t>(v)));
  Rec.GaugeSetMax(v);
}

void FakeWindow::GaugeSetPos(std::int64_t v) {
  g_trace.push_back("GaugePos=" + std::to_string(v));
  Rec.GaugeSetPos(v);
}

void FakeWindow::SetStatusText(int panel, const std::string& text) {
  if (panel == 0 && text.rfind("Please wait", 0) != 0) g_trace.push_back("Status0=" + text);
  Rec.SetStatusText(panel, text);
}

void FakeWindow::ErrorBox(const std::string& text) {
  g_trace.push_back("ErrorBox");
  Rec.ErrorBox(text);
}

void FakeWindow::SetButtonCaption(DeviceButton b, const std::string& caption) {
  g_trace.push_back("Caption[" + std::to_string(b) + "]=" + caption);
  Captions[b] = caption;
}

void FakeWindow::SetButtonImageIndex(DeviceButton b, int imageIndex) {
  g_trace.push_back("Image[" + std::to_string(b) + "]=" + std::to_string(imageIndex));
  Images[b] = imageIndex;
}

void FakeWindow::UpdateEnabledButtons() {
  g_trace.push_back("UpdateEnabledButtons");
  const DeviceButton three[] = {FlashSelectedBtn, EraseSelectedBtn, ReadSelectedBtn};
  if (Cursor < 0) {
    for (DeviceButton b : three) Enabled[b] = false;
    return;
  }
  for (DeviceButton b : three)
    if (Captions[b] != Idles[b].Caption) return;
  for (DeviceButton b : three) Enabled[b] = true;
  const bool any = ModelData.AnyMarked();
  const std::string row = std::to_string(Cursor + 1);
  Captions[ReadSelectedBtn] = any ? "Read Selected" : "Read Partition" + row;
  Captions[FlashSelectedBtn] = any ? "Flash Selected" : "Flash Partition" + row;
  Captions[EraseSelectedBtn] = any ? "Erase Selected" : "Erase Partition" + row;
  for (DeviceButton b : three) Idles[b].Caption = Captions[b];
}

void FakeWindow::OnSelectionChange(int itemIndex, int mouseButton, int x, int y) {
  g_trace.push_back("OnSelectionChange(" + std::to_string(itemIndex) + "," +
                    std::to_string(mouseButton) + "," + std::to_string(x) + "," +
                    std::to_string(y) + ")");
  UpdateEnabledButtons();
}

void FakeWindow::CreateListClick(DeviceButton sender) {
  g_trace.push_back("CreateListClick(" + std::to_string(sender) + ")");
  Enabled[ReadPartitionBtn] = false;
  // The load empties CurrentImageFile before it reads the name, so it gets a copy.
  const std::string name = ModelData.CurrentImageFile;
  ModelData.ClearRows();
  Cursor = -1;
  OnSelectionChange(-1, mbLeft, 0, 0);
  if (ModelData.LoadImageFileAndProcessIt(name, *this)) {
    Cursor = 0;
    Enabled[ReadPartitionBtn] = true;
    OnSelectionChange(0, mbLeft, 0, 0);
  }
  GaugeSetPos(0);
}

bool FakeWindow::LoadFile(const std::string& path) {
  Rec.LogClear();
  ModelData.CurrentImageFile = path;
  CreateListClick(ReadPartitionBtn);
  return Cursor == 0;
}

CloseAnswer FakeWindow::AskBeforeClose(const std::string& question) {
  Questions.push_back(question);
  if (CloseAnswers.empty()) return CloseAnswer::KeepOpen;
  const CloseAnswer a = CloseAnswers.front();
  CloseAnswers.pop_front();
  return a;
}

bool FakeWindow::SaveWholeImage() {
  ++Saves;
  return SaveSucceeds;
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "orvella-device-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::uint8_t ChipMainByte(std::uint64_t address) {
  return static_cast<std::uint8_t>(PatternByte(address * 7 + 3) ^ 0xC3);
}

std::uint8_t ChipSpareByte(std::uint64_t index) {
  return static_cast<std::uint8_t>(PatternByte(index * 5 + 11) ^ 0x3C);
}

ImageSpec StandardImage() {
  ImageSpec spec;
  spec.ChipMiB = 4;
  spec.Table = {{"BOOT", 2}, {"PIT", 1}, {"CSC", 6}, {"EFS", 3}, {"DATA", 4}, {"TAIL", 0xFFFFFFFFu}};
  spec.Fill = ImageFill::Pattern;
  return spec;
}

DeviceTest::DeviceTest()
    : userDir_(dir_.Path() + "user/"),
      workDir_(dir_.Path() + "work/"),
      win_(workDir_),
      cmd_(win_, table_) {
  std::filesystem::create_directories(userDir_);
  std::filesystem::create_directories(workDir_);
  host_.WorkFolder = workDir_;
  g_host = &host_;
  g_trace.clear();
  table_ = host_.Table();
}

DeviceTest::~DeviceTest() {
  g_host = nullptr;
  FileFaults::Disarm();
}

void DeviceTest::LoadImage(const ImageSpec& spec, const std::string& name) {
  userFile_ = userDir_ + name;
  std::string error;
  ASSERT_TRUE(WriteFullImage(userFile_, spec, error)) << error;
  ASSERT_TRUE(win_.LoadFile(userFile_)) << (win_.Rec.ErrorBoxes.empty() ? "" : win_.Rec.ErrorBoxes[0]);
  g_trace.clear();
}

}  // namespace devtest
