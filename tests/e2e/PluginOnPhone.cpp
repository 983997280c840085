#include "PluginOnPhone.h"

#include <QMetaObject>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "host/HostServicesImpl.h"
#include "contract/AutomationProtocol.h"
#include "contract/WorkFolder.h"

namespace orvella {

void PrintTo(PhoneService service, std::ostream* out) {
  static constexpr const char* kNames[] = {"Connect", "Identify", "ReadToFiles", "ReadToMemory",
                                           "Write", "Erase", "EndSession"};
  *out << kNames[static_cast<int>(service)];
}

}  // namespace orvella

namespace orvella::e2e {

std::vector<PartitionSpec> PhoneTable() {
  return {{"BOOT", 1}, {"PIT", 1},    {"EFS", 4},          {"SBL", 2},
          {"PARAM", 4}, {"KERNEL", 6}, {"DATA", 0xFFFFFFFFu}};
}

RowRange PhoneRow(int row) {
  const std::vector<PartitionSpec> table = PhoneTable();
  const std::uint64_t totalBlocks = kPhoneMain / 0x40000;
  std::uint64_t block = 0;
  for (int k = 0; k < row - 1; ++k) block += table[static_cast<std::size_t>(k)].SizeInBlocks;
  const std::uint32_t size = table[static_cast<std::size_t>(row - 1)].SizeInBlocks;
  const std::uint64_t blocks = size == 0xFFFFFFFFu ? totalBlocks - block : size;
  return {block * 0x40000, blocks * 0x40000};
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

std::string CompareFiles(const std::string& a, const std::string& b) {
  const std::vector<std::uint8_t> x = FileBytes(a), y = FileBytes(b);
  if (x.size() != y.size())
    return a + " has " + std::to_string(x.size()) + " bytes, " + b + " " + std::to_string(y.size());
  for (std::size_t i = 0; i < x.size(); ++i)
    if (x[i] != y[i]) {
      char where[64];
      std::snprintf(where, sizeof where, "first difference at 0x%zX: %02X / %02X", i, x[i], y[i]);
      return where;
    }
  return {};
}

StatusWatch::StatusWatch(std::function<void(const QString&)> onText) : onText_(std::move(onText)) {
  timer_.setInterval(0);
  QObject::connect(&timer_, &QTimer::timeout, [this] {
    if (!PluginOnPhone::Window()) return;
    const QString text = PluginOnPhone::StatusText(0);
    if (!texts_.isEmpty() && texts_.back() == text) return;
    texts_.push_back(text);
    if (onText_) onText_(text);
  });
  timer_.start();
}

QStringList StatusWatch::TextsStartingWith(const QString& prefix) const {
  QStringList out;
  for (const QString& t : texts_)
    if (t.startsWith(prefix)) out.push_back(t);
  return out;
}

void PluginOnPhone::SetUp() {
  workFolder_ = WorkFolder();
  ASSERT_FALSE(workFolder_.empty());
  // Files a crashed earlier run may have left behind.
  for (const char* name : {"$tGL0Image.$$$", "$tGL0Main$.$$$", "$tGL0Redu$.$$$", "$tGL0Read$.$$$"}) {
    std::error_code ec;
    std::filesystem::remove(workFolder_ + name, ec);
  }
  phonePath_ = dir_.File("phone.nand");
  MakePhone(ImageFill::Pattern);
  std::string error;
  ASSERT_TRUE(phone_.Open(phonePath_, error)) << error;
  phone_.SetWorkFolder(workFolder_);
  SetHostPhone(&phone_);
  *HostStopFlag() = 0;
  ASSERT_TRUE(plugin_.Load(ORVELLA_PLUGIN_PATH, error)) << error;
  PluginInfo info;
  ASSERT_TRUE(plugin_.Negotiate(&HostFunctionFor, info, error)) << error;
}

void PluginOnPhone::TearDown() {
  runner_.reset();
  plugin_.Unload();
  ResetHostServices();
}

void PluginOnPhone::MakePhone(ImageFill fill, const std::vector<PartitionSpec>& table) {
  std::string error;
  ASSERT_TRUE(WriteFullImage(phonePath_, ImageSpec{kPhoneMiB, table, fill}, error)) << error;
}

void PluginOnPhone::MakePhone(const ImageSpec& spec) {
  std::string error;
  ASSERT_TRUE(WriteFullImage(phonePath_, spec, error)) << error;
  ASSERT_TRUE(phone_.Open(phonePath_, error)) << error;
}

std::vector<PhoneService> PluginOnPhone::Services() const {
  std::vector<PhoneService> services;
  for (const PhoneRequest& r : phone_.Requests()) services.push_back(r.Service);
  return services;
}

void PluginOnPhone::MovePhoneTable(std::uint32_t block) {
  constexpr std::uint64_t kBlock = 0x40000, kPage = 0x1000;
  const std::uint64_t mainSize = phone_.MainSize();
  std::vector<std::uint8_t> main = FileBytes(phonePath_);
  ASSERT_EQ(main.size(), mainSize / 32 * 33);
  const auto at = [](std::uint64_t v) { return static_cast<std::ptrdiff_t>(v); };
  const std::vector<std::uint8_t> table(main.begin() + at(kBlock), main.begin() + at(kBlock + kPage));
  const std::vector<std::uint8_t> spare(main.begin() + at(mainSize + kBlock / 32),
                                        main.begin() + at(mainSize + (kBlock + kPage) / 32));
  std::fill_n(main.begin() + at(kBlock), kPage, 0xFF);
  std::fill_n(main.begin() + at(mainSize + kBlock / 32), kPage / 32, 0xFF);
  if (block != 0) {
    std::copy(table.begin(), table.end(), main.begin() + at(block * kBlock));
    std::copy(spare.begin(), spare.end(), main.begin() + at(mainSize + block * kBlock / 32));
  }
  std::ofstream(phonePath_, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(main.data()), static_cast<std::streamsize>(main.size()));
}

std::string PluginOnPhone::MakeImageFile(const std::string& name, ImageFill fill) {
  const std::string path = dir_.File(name);
  std::string error;
  EXPECT_TRUE(WriteFullImage(path, ImageSpec{kPhoneMiB, PhoneTable(), fill}, error)) << error;
  return path;
}

void PluginOnPhone::Lines(const std::string& text) {
  if (!runner_) {
    ScriptRunner::Options o;
    o.TimeoutMs = 120000;
    o.StopFlag = HostStopFlag();
    o.HardExit = [](const std::string& message) {
      std::fprintf(stderr, "the plug-in's window could not be closed: %s\n", message.c_str());
      std::fflush(stderr);
      std::_Exit(3);
    };
    runner_ = std::make_unique<ScriptRunner>(o);
  }
  std::string error;
  ASSERT_TRUE(runner_->Load(text, "test script", error)) << error;
}

void PluginOnPhone::Step(const std::string& description, std::function<void()> body) {
  Lines("");
  runner_->AddStep(description, [body = std::move(body), description](std::string& error) {
    body();
    if (::testing::Test::HasFatalFailure()) {
      error = "a fatal check failed";
      return false;
    }
    return true;
  });
}

void PluginOnPhone::RunWindow(std::vector<std::string>* errorBoxes) {
  Lines("");
  runner_->Start();
  const std::uint32_t answer = plugin_.RunMain(HostStopFlag());
  EXPECT_EQ(answer, kDoPluginMainResult);
  EXPECT_TRUE(runner_->Finished());
  EXPECT_FALSE(runner_->Failed()) << runner_->Error();
  if (errorBoxes)
    *errorBoxes = runner_->ErrorBoxes();
  else
    for (const std::string& box : runner_->ErrorBoxes()) ADD_FAILURE() << "error box: " << box;
  runner_.reset();
}

QWidget* PluginOnPhone::Window() { return ScriptRunner::FindMainWindow(); }

QStringList PluginOnPhone::LogLines() {
  auto* memo = Control<QPlainTextEdit>("MyMemo");
  if (!memo || memo->document()->isEmpty()) return {};
  return memo->toPlainText().split(QLatin1Char('\n'));
}

namespace {

QObject* Port() {
  QWidget* window = ScriptRunner::FindMainWindow();
  return window ? window->findChild<QObject*>(QLatin1String(automation::kAutomationPortName))
                : nullptr;
}

}  // namespace

int PluginOnPhone::RowCount() {
  int n = -1;
  if (QObject* port = Port())
    QMetaObject::invokeMethod(port, automation::kRowCount, Qt::DirectConnection,
                              Q_RETURN_ARG(int, n));
  return n;
}

QString PluginOnPhone::StatusText(int panel) {
  QString text;
  if (QObject* port = Port())
    QMetaObject::invokeMethod(port, automation::kStatusText, Qt::DirectConnection,
                              Q_RETURN_ARG(QString, text), Q_ARG(int, panel));
  return text;
}

int PluginOnPhone::ImageIndex(const char* button) {
  int glyph = -1;
  if (QObject* port = Port())
    QMetaObject::invokeMethod(port, automation::kButtonGlyph, Qt::DirectConnection,
                              Q_RETURN_ARG(int, glyph), Q_ARG(QString, QString::fromLatin1(button)));
  return glyph;
}

QString PluginOnPhone::Caption(const char* button) {
  auto* b = Control<QPushButton>(button);
  return b ? b->text() : QStringLiteral("<no button>");
}

}  // namespace orvella::e2e
