#pragma once
// The whole chain in one process, as orvella-host runs it: a virtual phone, the real
// liborvella.so loaded and negotiated with the host's own services, and a script runner
// that works the plug-in's window while DoPluginMain has it open.

#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "host/PluginLibrary.h"
#include "host/ScriptRunner.h"
#include "host/VirtualPhone.h"
#include "image/ImageBuilder.h"
#include "support/TestFiles.h"

namespace orvella {
void PrintTo(PhoneService service, std::ostream* out);
}  // namespace orvella

namespace orvella::e2e {

// Bytes [from, to) are all 0xFF.
inline bool AllFF(const std::vector<std::uint8_t>& bytes, std::uint64_t from, std::uint64_t to) {
  return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                     bytes.begin() + static_cast<std::ptrdiff_t>(to),
                     [](std::uint8_t b) { return b == 0xFF; });
}

// a and b agree on the `length` bytes from `from`.
inline bool SameBytes(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b,
                      std::uint64_t from, std::uint64_t length) {
  return std::equal(a.begin() + static_cast<std::ptrdiff_t>(from),
                    a.begin() + static_cast<std::ptrdiff_t>(from + length),
                    b.begin() + static_cast<std::ptrdiff_t>(from));
}

// 8 MiB = 32 blocks: BOOT 0, PIT 1, EFS 2-5, SBL 6-7, PARAM 8-11, KERNEL 12-17,
// DATA 18-31.
inline constexpr std::uint32_t kPhoneMiB = 8;
inline constexpr std::uint64_t kPhoneMain = std::uint64_t{kPhoneMiB} << 20;
std::vector<PartitionSpec> PhoneTable();

// Main-data range of a row of PhoneTable, rows from 1.
struct RowRange {
  std::uint64_t Address;
  std::uint64_t Length;
};
RowRange PhoneRow(int row);

std::vector<std::uint8_t> FileBytes(const std::string& path);
// Empty when equal, else where and how the files differ.
std::string CompareFiles(const std::string& a, const std::string& b);

// Looks at status panel 0 at every pass of the event loop, which the plug-in and the
// phone let run after each status update, and keeps each new text it sees there.
class StatusWatch {
 public:
  // onText runs with every new text, inside the event loop of the running command.
  explicit StatusWatch(std::function<void(const QString&)> onText = {});
  void Stop() { timer_.stop(); }
  const QStringList& Texts() const { return texts_; }
  QStringList TextsStartingWith(const QString& prefix) const;

 private:
  QTimer timer_;
  QStringList texts_;
  std::function<void(const QString&)> onText_;
};

class PluginOnPhone : public ::testing::Test {
  friend class StatusWatch;

 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes the phone anew (it is open already; faults stay as set).
  void MakePhone(ImageFill fill, const std::vector<PartitionSpec>& table = PhoneTable());
  // Writes the phone anew with a chip of its own size, and opens it again.
  void MakePhone(const ImageSpec& spec);
  // A full image file of the phone's size and table, for loading with CreateList.
  std::string MakeImageFile(const std::string& name, ImageFill fill);

  // The script: lines, and steps in C++ between them.
  void Lines(const std::string& text);
  void Step(const std::string& description, std::function<void()> body);
  // Opens the plug-in's window and runs the script until it closes the window. A new
  // script starts after each run. Error boxes fail the test unless `errorBoxes` takes
  // them.
  void RunWindow(std::vector<std::string>* errorBoxes = nullptr);
  // Moves the phone's table (its first page, main and spare) from block 1 to `block`;
  // block 0 leaves the phone with no table at all.
  void MovePhoneTable(std::uint32_t block);
  // The services the phone was asked for since the last ClearRequests, in order.
  std::vector<PhoneService> Services() const;

  // The plug-in's window and its controls while it is open.
  static QWidget* Window();
  template <typename T>
  static T* Control(const char* name) {
    QWidget* w = Window();
    return w ? w->findChild<T*>(QString::fromLatin1(name)) : nullptr;
  }
  static QStringList LogLines();
  static int RowCount();
  static QString StatusText(int panel);
  static QString Caption(const char* button);
  // The button's index in the window's glyph list; -1 without the button.
  static int ImageIndex(const char* button);

  std::string WorkFile(const std::string& name) const { return workFolder_ + name; }
  std::string TempImage() const { return WorkFile("$tGL0Image.$$$"); }

  test::TempDir dir_;
  std::string workFolder_;
  std::string phonePath_;
  VirtualPhone phone_;
  PluginLibrary plugin_;
  std::unique_ptr<ScriptRunner> runner_;
  int stepCount_ = 0;
};

}  // namespace orvella::e2e
