// The popup's phone's-view items on a dump with the bad-block layer, two remaps and an
// STL volume holding a FAT file system in EFS, all made in code: the table and the layer
// in the log as the tool shows them, a partition saved through the layer the phone reads,
// the files extracted; refusals, stops and existing files leave nothing behind.

#include <QFileInfo>
#include <QKeyEvent>
#include <filesystem>

#include "MainWindowFixture.h"
#include "fat/FatBuilder.h"
#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"
#include "phone/PhoneTexts.h"
#include "phone/StlWriter.h"
#include "support/PhoneDumpFile.h"
#include "phone/Volumes.h"

namespace orvella::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kEfs = 2;

class PhoneViewTest : public MainWindowTest {
 protected:
  static void SetUpTestSuite() {
    tmp_ = std::make_unique<QTemporaryDir>();
    dump_ = tmp_->filePath("phone.bin").toStdString();
    files_ = {{"/nv_data.bin", false, {}}, {"/nv_data.bin.md5", false, {}}, {"/sub", true, {}},
              {"/sub/nested.bin", false, {}}};
    files_[0].Bytes.resize(70000);
    for (std::size_t i = 0; i < files_[0].Bytes.size(); ++i) files_[0].Bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const std::string md5 = "0123456789abcdef0123456789abcdef\n";
    files_[1].Bytes.assign(md5.begin(), md5.end());
    files_[3].Bytes.assign(1500, 0x5A);
    fat::DosTimestamp when;
    when.Date = static_cast<std::uint16_t>((31 << 9) | (3 << 5) | 2);
    std::string error;
    ASSERT_TRUE(fat::BuildFat12(4096, "EFS", files_, when, volume_, error)) << error;

    // Both remaps lie in EFS, whose blocks are 2..41; on return the volume holds every
    // byte the phone's stl device reads.
    ASSERT_NO_FATAL_FAILURE(test::WriteStlSampleDump(dump_, {5, 20}, kEfs, volume_));
  }
  static void TearDownTestSuite() { tmp_.reset(); }

  void SetUp() override {
    MainWindowTest::SetUp();
    w->Hooks.FolderDialog = [this]() -> std::optional<QString> {
      if (folders.empty()) return std::nullopt;
      QString f = folders.front();
      folders.pop_front();
      if (escOnAnswer) PostEsc();
      return f;
    };
    w->Hooks.SaveDialog = [this](const SaveDialogRequest& r) -> std::optional<QString> {
      requests.push_back(r);
      if (answers.empty()) return std::nullopt;
      QString a = answers.front();
      answers.pop_front();
      if (escOnAnswer) PostEsc();
      return a;
    };
    Load(dump_);
    ASSERT_GE(RowNamed("EFS"), 0);
  }

  // Esc reaches the window once the command lets messages run, as a key press would.
  void PostEsc() { QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier)); }

  void Choose(const std::string& row, QAction* item) {
    ClickRow(RowNamed(row), Qt::RightButton);
    ASSERT_TRUE(item->isEnabled());
    item->trigger();
  }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const QString& l : w->LogLines()) lines.push_back(l.toStdString());
    return lines;
  }
  bool LogHas(const std::string& line) const {
    const auto lines = Log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static std::vector<std::uint8_t> Bytes(const std::string& path) {
    const QByteArray b = ReadAll(QString::fromStdString(path));
    return {b.begin(), b.end()};
  }
  // Files under `folder`, part files included.
  static std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
      if (e.is_regular_file()) out.push_back(fs::relative(e.path(), folder).generic_string());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string Out(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

  static std::unique_ptr<QTemporaryDir> tmp_;
  static std::string dump_;
  static std::vector<fat::BuiltEntry> files_;
  static std::vector<std::uint8_t> volume_;
  std::deque<QString> folders;
  bool escOnAnswer = false;
};
std::unique_ptr<QTemporaryDir> PhoneViewTest::tmp_;
std::string PhoneViewTest::dump_;
std::vector<fat::BuiltEntry> PhoneViewTest::files_;
std::vector<std::uint8_t> PhoneViewTest::volume_;

TEST_F(PhoneViewTest, TheTableAndTheLayerReachTheLogAsTheToolShowsThem) {
  Choose("EFS", w->PhoneTableItem);
  const std::vector<std::string> log = Log();

  phone::ImagePageSource chip;
  std::string error;
  ASSERT_TRUE(chip.Open(dump_, error)) << error;
  const phone::PhoneDump dump = phone::ReadPhoneDump(chip, true);
  std::vector<phone::VolumeState> volumes;
  for (std::size_t k = 0; k < dump.Table.Entries.size(); ++k) volumes.push_back(phone::CheckVolume(chip, dump, k));
  std::vector<std::string> expected = phone::PitTextLines(dump, volumes);
  for (const std::string& line : phone::BmlTextLines(dump.Bml)) expected.push_back(line);
  ASSERT_GE(log.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<std::ptrdiff_t>(expected.size()), log.end()), expected);
  // What a technician looks for: the rebuilt volume, both remaps, a chip the phone mounts.
  EXPECT_TRUE(LogHas("  3 EFS: rebuilds: " + std::to_string(volume_.size()) + " bytes (" +
                     std::to_string(volume_.size() / 512) + " sectors), holds fat12 \"EFS\""));
  EXPECT_TRUE(LogHas("Remaps: 2"));
  EXPECT_EQ(log.back(), "The phone mounts this chip.");
  EXPECT_TRUE(errorBoxes.isEmpty());

  // A dump without the layer: one line says so, nothing of a reservoir is made up.
  Load(image);
  Choose(w->Model().PartitionRows.at(0).PartitionName, w->PhoneTableItem);
  const std::vector<std::string> plain = Log();
  EXPECT_EQ(plain.back().rfind("Bad-block layer: none: ", 0), 0u) << plain.back();
  for (const std::string& line : plain) EXPECT_NE(line.rfind("Reservoir", 0), 0u) << line;
}

TEST_F(PhoneViewTest, SavesThroughTheLayerThePhoneReadsAndLeavesNothingWhenRefusedOrStopped) {
  // EFS: its STL volume, byte for byte; KERNEL (no volume): its bml view, erased here.
  answers = {QString::fromStdString(Out("efs.img")), QString::fromStdString(Out("kernel.img"))};
  Choose("EFS", w->PhoneVolumeItem);
  Choose("KERNEL", w->PhoneVolumeItem);
  EXPECT_TRUE(errorBoxes.isEmpty()) << errorBoxes.join('\n').toStdString();
  EXPECT_TRUE(ReadAll(QString::fromStdString(Out("efs.img"))) ==
              QByteArray(reinterpret_cast<const char*>(volume_.data()), static_cast<qsizetype>(volume_.size())));
  EXPECT_TRUE(LogHas("Saved stl3: " + std::to_string(volume_.size()) + " bytes into \"" + Out("efs.img") + "\""));
  EXPECT_TRUE(ReadAll(QString::fromStdString(Out("kernel.img"))) == QByteArray(30 * 0x40000, '\xFF'));
  EXPECT_TRUE(LogHas("Saved bml7: " + std::to_string(30 * 0x40000) + " bytes into \"" + Out("kernel.img") + "\""));
  EXPECT_EQ(w->StatusPanels[0]->text(), "Complete OK");
  EXPECT_EQ(w->MyGauge->value(), 0);

  const struct {
    const char* row;
    std::string output;
    bool esc;
    const char* says;  // in the error box, or in the log's last line when stopped
  } refused[] = {
      {"PARAM", Out("param.img"), false, "\"PARAM\": not an STL volume"},  // STL by its attributes, never written
      {"EFS", dump_, false, "it is the image file in use"},
      {"EFS", Out("stopped.img"), true, "stopped; nothing written."},
      {"KERNEL", Out("stopped-bml.img"), true, "stopped; nothing written."},
  };
  const qint64 dumpSize = QFileInfo(QString::fromStdString(dump_)).size();
  for (const auto& c : refused) {
    SCOPED_TRACE(c.row + std::string(" to ") + c.output);
    errorBoxes.clear();
    answers = {QString::fromStdString(c.output)};
    escOnAnswer = c.esc;
    Choose(c.row, w->PhoneVolumeItem);
    escOnAnswer = false;
    if (c.esc) {
      EXPECT_TRUE(errorBoxes.isEmpty());
      EXPECT_TRUE(Log().back().ends_with(c.says)) << Log().back();
      EXPECT_EQ(w->StatusPanels[0]->text(), "Stopped by User.");
    } else {
      ASSERT_EQ(errorBoxes.size(), 1);
      EXPECT_TRUE(errorBoxes[0].contains(QString::fromStdString(c.says))) << errorBoxes[0].toStdString();
      EXPECT_TRUE(Log().back().starts_with("ERROR: ")) << Log().back();
    }
    if (c.output != dump_) {
      EXPECT_FALSE(fs::exists(c.output));
    }
    EXPECT_FALSE(fs::exists(c.output + ".part"));
    // The window is ready for the next command.
    EXPECT_TRUE(w->CreateList->isEnabled());
    EXPECT_FALSE(w->CheckRunning());
  }
  EXPECT_EQ(QFileInfo(QString::fromStdString(dump_)).size(), dumpSize);
  for (const std::string& name : FilesIn(dir.path().toStdString())) EXPECT_FALSE(name.ends_with(".part")) << name;
}

TEST_F(PhoneViewTest, ExtractsEveryFileOnceAndNeverOverAnExistingOne) {
  const std::string folder = Out("files");
  folders = {QString::fromStdString(folder)};
  Choose("EFS", w->ExtractFilesItem);
  EXPECT_TRUE(errorBoxes.isEmpty()) << errorBoxes.join('\n').toStdString();
  std::uint64_t bytes = 0;
  for (const fat::BuiltEntry& e : files_) {
    if (e.Folder) continue;
    bytes += e.Bytes.size();
    EXPECT_TRUE(Bytes(folder + e.Path) == e.Bytes) << e.Path;
    EXPECT_TRUE(LogHas(e.Path + ": " + std::to_string(e.Bytes.size()) + " bytes to \"" + folder + e.Path + "\""))
        << e.Path;
  }
  EXPECT_EQ(Log().back(), "extracted 3 files (" + std::to_string(bytes) + " bytes) and 1 new folder into \"" + folder +
                              "\"");
  EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"nv_data.bin", "nv_data.bin.md5", "sub/nested.bin"}));

  // Again into the same folder: every file is there, none is written over.
  {
    QFile changed(QString::fromStdString(folder + "/nv_data.bin"));
    ASSERT_TRUE(changed.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(changed.write("\x01\x02\x03", 3), 3);
  }
  folders = {QString::fromStdString(folder)};
  Choose("EFS", w->ExtractFilesItem);
  EXPECT_TRUE(LogHas("\"" + folder + "/nv_data.bin\" already exists; nothing is written over it"));
  EXPECT_EQ(Log().back(), "extracted 0 files (0 bytes) and 0 new folders into \"" + folder + "\"; 3 not extracted");
  EXPECT_TRUE(Bytes(folder + "/nv_data.bin") == (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"nv_data.bin", "nv_data.bin.md5", "sub/nested.bin"}));

  // Stopped at once: no file, and no part file, is left.
  const std::string stopped = Out("stopped");
  folders = {QString::fromStdString(stopped)};
  escOnAnswer = true;
  Choose("EFS", w->ExtractFilesItem);
  EXPECT_TRUE(Log().back().ends_with("; stopped")) << Log().back();
  EXPECT_EQ(w->StatusPanels[0]->text(), "Stopped by User.");
  EXPECT_EQ(FilesIn(stopped), std::vector<std::string>{});
  EXPECT_FALSE(w->CheckRunning());
}

}  // namespace
}  // namespace orvella::testing
