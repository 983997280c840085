#pragma once
// Fakes for the device command tests: a recording main window (the window port through a
// RecordingPort, the buttons, the model and the window's own handlers with their rules)
// and a fake host whose services record every call into one trace shared with the
// window, answer as configured, and deliver data from an in-memory chip.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "device/DeviceCommands.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"

namespace devtest {

using namespace orvella;

// Host calls and window steps in the order they happened.
extern std::vector<std::string> g_trace;

struct ReadCall {
  std::uint32_t One, Address, Length, Zero1, Zero2;
  bool TagNull;
  std::string Tag;
  bool BufferNull;
  std::int32_t Marker;
  void* Gauge;
  std::uint32_t ToFile;
  StatusTextCallback Status;
  WindowGeometry Geometry;
};

struct EraseCall {
  std::uint32_t One, Address, Length, Zero1, Zero2, One2;
  StatusTextCallback Status;
  WindowGeometry Geometry;
};

struct WriteCall {
  TWriteRequestBlock Block;
  // The block's texts, copied while the call ran.
  std::u16string ImagePath, EmptyText, Tag;
};

struct FakeHost {
  std::uint32_t ConnectResult = 1;
  TFlashInfo Info{0, 0, 4, 0x40000, 0x1000, 0};
  // Results of the transfer services, used in order; 1 once a queue is empty.
  std::deque<std::uint32_t> ReadResults, WriteResults, EraseResults;

  int Connects = 0, Identifies = 0, EndSessions = 0;
  const TPluginDescriptor* ConnectDescriptor = nullptr;
  std::vector<ReadCall> Reads;
  std::vector<WriteCall> Writes;
  std::vector<EraseCall> Erases;

  // To-file reads leave their files here (with its trailing separator).
  std::string WorkFolder;
  bool LeaveMainFile = true, LeaveSpareFile = true, LeaveReadFile = true;
  long MainFileDelta = 0, SpareFileDelta = 0;
  // The chip: main byte at a device address, spare byte at a spare-area index.
  std::function<std::uint8_t(std::uint64_t)> MainByte;
  std::function<std::uint8_t(std::uint64_t)> SpareByte;
  // Runs inside every transfer service before it answers (a nested press, host output).
  std::function<void()> DuringCall;

  // The stop byte the table points to; a transfer fails while it is set.
  std::uint8_t StopFlag = 0;
  TPluginDescriptor Descriptor{};

  FakeHost();
  DeviceServiceTable Table();
};

// The fake host the free service functions answer for.
extern FakeHost* g_host;

// The status-bar setter placed in the table (only its address matters to the commands).
void FakeStatusText(std::uint32_t ignored, std::int32_t panel, const char16_t* text);

class FakeWindow : public DeviceWindow {
 public:
  explicit FakeWindow(std::string workFolder);

  RecordingPort Rec;
  ImageModel ModelData;
  int Cursor = -1;
  std::array<std::string, kDeviceButtonCount> Captions;
  std::array<int, kDeviceButtonCount> Images{};
  std::array<IdleLook, kDeviceButtonCount> Idles;
  std::array<bool, kDeviceButtonCount> Enabled{};
  bool Ecc = false;
  WindowGeometry Geo{120, 1031, 590, 45};
  int GaugeObject = 0;  // its address stands for the gauge control
  std::string Folder;
  std::deque<CloseAnswer> CloseAnswers;
  std::vector<std::string> Questions;
  bool SaveSucceeds = true;
  int Saves = 0;

  // Loads a full image as "&Make Partitions from File" does; true on success.
  bool LoadFile(const std::string& path);

  void LogClear() override { Rec.LogClear(); }
  void LogAdd(const std::string& line) override { Rec.LogAdd(line); }
  void LogReplaceLast(const std::string& line) override { Rec.LogReplaceLast(line); }
  void GaugeSetMax(std::int64_t v) override;
  void GaugeSetPos(std::int64_t v) override;
  std::int64_t GaugeMax() const override { return Rec.GaugeMax(); }
  std::int64_t GaugePos() const override { return Rec.GaugePos(); }
  void SetStatusText(int panel, const std::string& text) override;
  void ProcessMessages() override { Rec.ProcessMessages(); }
  void ErrorBox(const std::string& text) override;
  std::optional<std::string> SaveDialog(const SaveDialogRequest& r) override { return Rec.SaveDialog(r); }
  void Sleep(int ms) override { Rec.Sleep(ms); }

  ImageModel& Model() override { return ModelData; }
  int ItemIndex() const override { return Cursor; }
  std::string ButtonCaption(DeviceButton b) const override { return Captions[b]; }
  void SetButtonCaption(DeviceButton b, const std::string& caption) override;
  void SetButtonImageIndex(DeviceButton b, int imageIndex) override;
  IdleLook& Idle(DeviceButton b) override { return Idles[b]; }
  void UpdateEnabledButtons() override;
  void OnSelectionChange(int itemIndex, int mouseButton, int x, int y) override;
  void CreateListClick(DeviceButton sender) override;
  bool EccEnabled() const override { return Ecc; }
  WindowGeometry Geometry() const override { return Geo; }
  void* GaugeControl() override { return &GaugeObject; }
  std::string WorkFolder() const override { return Folder; }
  std::string TempImagePath() const override { return Folder + kTempImageName; }
  CloseAnswer AskBeforeClose(const std::string& question) override;
  bool SaveWholeImage() override;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }  // with a trailing separator

 private:
  std::string path_;
};

std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The chip's default contents: different from any image's pattern at the same place.
std::uint8_t ChipMainByte(std::uint64_t address);
std::uint8_t ChipSpareByte(std::uint64_t index);

// The standard image: 4 MiB chip (16 blocks), rows BOOT 0-1, PIT 2, CSC 3-8 (6 blocks),
// EFS 9-11, DATA 12-15, TAIL (to the end: 0 blocks left).
ImageSpec StandardImage();

// Fakes wired together: a user image folder, a work folder, host, window and commands.
class DeviceTest : public ::testing::Test {
 protected:
  DeviceTest();
  ~DeviceTest() override;

  // Writes `spec` (pattern-filled unless given otherwise) as the user's file and loads it.
  void LoadImage(const ImageSpec& spec, const std::string& name = "user.bin");

  TempFolder dir_;
  std::string userDir_;
  std::string workDir_;
  std::string userFile_;
  FakeHost host_;
  DeviceServiceTable table_;
  FakeWindow win_;
  DeviceCommands cmd_;
};

}  // namespace devtest
