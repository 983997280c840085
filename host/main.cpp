// orvella-host: loads a plug-in, negotiates its services, shows a small host window and
// opens the plug-in's window over a virtual phone.

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/ControlReport.h"
#include "host/HostServicesImpl.h"
#include "host/PluginLibrary.h"
#include "host/PluginPath.h"
#include "host/ScriptRunner.h"
#include "host/VirtualPhone.h"
#include "contract/AutomationProtocol.h"
#include "contract/WorkFolder.h"

namespace {

using namespace orvella;

enum ExitCode {
  kOk = 0,
  kUsage = 2,
  kPhoneError = 3,
  kLoadError = 4,
  kProtocolError = 5,
  kScriptError = 6,
};

constexpr const char* kUsageText =
    "usage: orvella-host [options]\n"
    "  --plugin PATH          plug-in library (default: liborvella.so beside orvella-host,\n"
    "                         else the installed one)\n"
    "  --phone FILE           virtual phone image (default: orvella-phone.nand in the work\n"
    "                         folder, made on first use: 256 MiB with a partition table and\n"
    "                         data with their ECC codes in some partitions)\n"
    "  --image PATH           full image file to work on (put into the plug-in's\n"
    "                         \"Source Image File Name\" edit)\n"
    "  --close-after-ms N     close the plug-in's window after N milliseconds\n"
    "  --script FILE          drive the plug-in's window by the commands in FILE, then close\n"
    "                         it; exit code 6 when a command fails (see host/ScriptRunner.h)\n"
    "  --script-timeout-ms N  give up a script after N milliseconds (default 600000)\n"
    "  --report-controls FILE keep FILE telling where each named control of the windows\n"
    "                         is on the screen and what it shows (host/ControlReport.h)\n"
    "faults of the virtual phone:\n"
    "  --fail-connect         the phone never connects\n"
    "  --unrecognised-chip    identify reports page size 0\n"
    "  --fail-read N          the N-th read fails (likewise --fail-write N, --fail-erase N)\n"
    "  --read-file-fault F    after a read to files: main-missing, main-short,\n"
    "                         spare-missing or spare-short\n"
    "  --speed BYTES          transfer speed limit in bytes per second\n"
    "  --flip-bits N          reads return N single-bit errors (0 to 1000) and one double-bit\n"
    "                         error in the main data, spread evenly over the chip: with S\n"
    "                         sectors, one bit in sector k*S/(N+2) for k = 1..N, two bits in\n"
    "                         sector (N+1)*S/(N+2); the phone's own data stay as they are\n"
    "flashing with ECC writes each 512-byte sector's Hamming code into spare bytes 8-10 in\n"
    "the onenand-h512-normal layout (orvella check finds it); the other spare bytes are\n"
    "written as the image holds them\n";

struct Options {
  std::string Plugin;
  std::string Phone;
  std::string Image;
  long CloseAfterMs = -1;
  std::string Script;
  long ScriptTimeoutMs = 600000;
  std::string ReportControls;
  PhoneFaults Faults;
};

int Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "orvella-host: %s\n", problem.c_str());
  std::fputs(kUsageText, stderr);
  return kUsage;
}

bool ParseCount(const std::string& text, long long& out) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoll(text);
  return true;
}

// Returns -1 when the options are good, else the exit code.
int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    const auto number = [&](long long& out) {
      std::string text;
      return value(text) && ParseCount(text, out);
    };
    long long n = 0;
    std::string text;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsageText, stdout);
      return kOk;
    } else if (a == "--plugin") {
      if (!value(o.Plugin)) return Usage("--plugin needs a path");
    } else if (a == "--phone") {
      if (!value(o.Phone)) return Usage("--phone needs a file");
    } else if (a == "--image") {
      if (!value(o.Image)) return Usage("--image needs a path");
    } else if (a == "--close-after-ms") {
      if (!number(n)) return Usage("--close-after-ms needs a number");
      o.CloseAfterMs = static_cast<long>(n);
    } else if (a == "--script") {
      if (!value(o.Script)) return Usage("--script needs a file");
    } else if (a == "--script-timeout-ms") {
      if (!number(n) || n == 0 || n > 86400000) return Usage("--script-timeout-ms needs a number from 1");
      o.ScriptTimeoutMs = static_cast<long>(n);
    } else if (a == "--report-controls") {
      if (!value(o.ReportControls)) return Usage("--report-controls needs a file");
    } else if (a == "--fail-connect") {
      o.Faults.FailConnect = true;
    } else if (a == "--unrecognised-chip") {
      o.Faults.UnrecognisedChip = true;
    } else if (a == "--fail-read" || a == "--fail-write" || a == "--fail-erase") {
      if (!number(n) || n == 0) return Usage(a + " needs a count from 1");
      (a == "--fail-read" ? o.Faults.FailNthRead
                          : a == "--fail-write" ? o.Faults.FailNthWrite : o.Faults.FailNthErase) =
          static_cast<long>(n);
    } else if (a == "--read-file-fault") {
      if (!value(text)) return Usage("--read-file-fault needs a kind");
      if (text == "main-missing") o.Faults.ReadFiles = DataFileFault::MainMissing;
      else if (text == "main-short") o.Faults.ReadFiles = DataFileFault::MainShort;
      else if (text == "spare-missing") o.Faults.ReadFiles = DataFileFault::SpareMissing;
      else if (text == "spare-short") o.Faults.ReadFiles = DataFileFault::SpareShort;
      else return Usage("unknown read file fault \"" + text + "\"");
    } else if (a == "--flip-bits") {
      if (!number(n) || n > kMaxFlipBits) return Usage("--flip-bits needs a count from 0 to 1000");
      o.Faults.FlipBits = static_cast<std::uint32_t>(n);
    } else if (a == "--speed") {
      if (!number(n) || n == 0) return Usage("--speed needs bytes per second from 1");
      o.Faults.BytesPerSecond = static_cast<std::uint64_t>(n);
    } else {
      return Usage("unknown option \"" + a + "\"");
    }
  }
  if (!o.Script.empty() && o.CloseAfterMs >= 0)
    return Usage("--script and --close-after-ms exclude each other");
  return -1;
}

bool ReadScript(const std::string& path, std::string& text, std::string& error) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) {
    error = "cannot read the script \"" + path + "\": " + f.errorString().toStdString();
    return false;
  }
  // A script is a short list of commands; anything larger is not one.
  constexpr qint64 kMaxScript = 1 << 20;
  if (f.size() > kMaxScript) {
    error = "the script \"" + path + "\" is larger than 1 MiB";
    return false;
  }
  text = f.readAll().toStdString();
  return true;
}

std::string ExecutableFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("./") : exe.parent_path().string() + "/";
}

// The host's own window: what it loaded and what it works on.
std::unique_ptr<QWidget> MakeHostWindow(const Options& o, const PluginInfo& info,
                                        const VirtualPhone& phone) {
  auto w = std::make_unique<QWidget>();
  w->setObjectName("OrvellaHost");
  w->setWindowTitle("Orvella Host - virtual phone");
  auto* form = new QFormLayout(w.get());
  const auto row = [&](const char* label, const QString& text) {
    auto* value = new QLabel(text, w.get());
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, value);
  };
  row("Plug-in:", QString::fromStdString(o.Plugin));
  row("Title:", QString::fromStdString(info.Title));
  row("Platform:", QString::fromStdString(info.Platform));
  row("Version:", QString::fromStdString(info.Version));
  row("Services:", QString::number(info.ServiceCount));
  row("Information:", QStringLiteral("%1 bytes").arg(info.Information.size()));
  row("Phone:", QString::fromStdString(phone.Path()));
  row("NAND:", QStringLiteral("%1 MiB, erase block 0x%2, page 0x%3")
                   .arg(phone.ChipMiB())
                   .arg(kPhoneEraseBlock, 8, 16, QLatin1Char('0'))
                   .arg(kPhonePageSize, 8, 16, QLatin1Char('0')));
  row("Image:", o.Image.empty() ? QStringLiteral("(none)") : QString::fromStdString(o.Image));
  w->resize(620, 260);
  return w;
}

// Puts the image to work on into the plug-in's "Source Image File Name" edit. The window
// exists from the library's start-up on and has read its settings, so this overrides the
// name it remembered. A plug-in without such an edit is left alone.
void PresetImageName(const std::string& path) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() != QLatin1String(automation::kMainWindowName)) continue;
    if (auto* edit = w->findChild<QLineEdit*>(QStringLiteral("ImageName")))
      edit->setText(QString::fromStdString(path));
  }
}

// Closes the plug-in's modal window once it is open.
void CloseModalSoon(int delayMs) {
  QTimer::singleShot(delayMs, [] {
    if (QWidget* modal = QApplication::activeModalWidget())
      modal->close();
    else
      CloseModalSoon(50);
  });
}

// SIGTERM and SIGINT close the plug-in's window as its close box does (it saves its
// settings, and refuses while a device command runs). The handler only writes a byte;
// the event loop does the closing.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnCloseSignal(int) {
  const char byte = 1;
  const ssize_t ignored = ::write(g_signalPipe[1], &byte, 1);
  static_cast<void>(ignored);
}

void CloseOnSignals(QObject* owner) {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
  QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
    char bytes[16];
    while (::read(g_signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    CloseModalSoon(0);
  });
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int code = ParseOptions(argc, argv, o); code >= 0) return code;
  if (o.Plugin.empty()) {
    const std::string exeFolder = ExecutableFolder();
    o.Plugin = FindDefaultPlugin(exeFolder, [](const std::string& path) {
      std::error_code ec;
      return std::filesystem::is_regular_file(path, ec);
    });
    if (o.Plugin.empty()) {
      const std::vector<std::string> tried = DefaultPluginCandidates(exeFolder);
      std::fprintf(stderr, "orvella-host: no plug-in found at %s or %s\n", tried[0].c_str(),
                   tried[1].c_str());
      return kLoadError;
    }
  }

  const std::string workFolder = WorkFolder();
  if (workFolder.empty()) {
    std::fprintf(stderr, "orvella-host: no work folder could be made\n");
    return kPhoneError;
  }
  std::string error;
  if (o.Phone.empty()) {
    o.Phone = workFolder + kDefaultPhoneName;
    if (!std::filesystem::exists(o.Phone)) {
      std::fprintf(stderr, "orvella-host: making the default virtual phone %s\n", o.Phone.c_str());
      if (!VirtualPhone::CreateDefault(o.Phone, error)) {
        std::fprintf(stderr, "orvella-host: %s\n", error.c_str());
        return kPhoneError;
      }
    }
  }
  VirtualPhone phone;
  if (!phone.Open(o.Phone, error)) {
    std::fprintf(stderr, "orvella-host: %s\n", error.c_str());
    return kPhoneError;
  }
  phone.Faults = o.Faults;
  phone.SetWorkFolder(workFolder);
  SetHostPhone(&phone);

  QApplication app(argc, argv);
  CloseOnSignals(&app);
  std::unique_ptr<ScriptRunner> runner;
  if (!o.Script.empty()) {
    std::string text;
    ScriptRunner::Options so;
    so.TimeoutMs = static_cast<int>(o.ScriptTimeoutMs);
    so.StopFlag = HostStopFlag();
    runner = std::make_unique<ScriptRunner>(so);
    if (!ReadScript(o.Script, text, error) || !runner->Load(text, o.Script, error)) {
      std::fprintf(stderr, "orvella-host: %s\n", error.c_str());
      return kScriptError;
    }
  }
  PluginLibrary plugin;
  if (!plugin.Load(o.Plugin, error)) {
    std::fprintf(stderr, "orvella-host: %s\n", error.c_str());
    return kLoadError;
  }
  PluginInfo info;
  if (!plugin.Negotiate(&HostFunctionFor, info, error)) {
    std::fprintf(stderr, "orvella-host: the plug-in failed the protocol: %s\n", error.c_str());
    return kProtocolError;
  }
  std::unique_ptr<QWidget> hostWindow = MakeHostWindow(o, info, phone);
  hostWindow->move(0, 0);
  hostWindow->show();
  std::unique_ptr<ControlReport> report;
  if (!o.ReportControls.empty())
    report = std::make_unique<ControlReport>(QString::fromStdString(o.ReportControls), 50);
  if (!o.Image.empty()) PresetImageName(o.Image);

  if (o.CloseAfterMs >= 0) CloseModalSoon(static_cast<int>(std::min(o.CloseAfterMs, 86400000L)));
  if (runner) runner->Start();
  const std::uint32_t answer = plugin.RunMain(HostStopFlag());
  int scriptResult = kOk;
  if (runner) {
    for (const std::string& box : runner->ErrorBoxes())
      std::fprintf(stderr, "orvella-host: error box: %s\n", box.c_str());
    if (runner->Failed()) {
      std::fprintf(stderr, "orvella-host: %s\n", runner->Error().c_str());
      scriptResult = kScriptError;
    } else if (!runner->Finished()) {
      std::fprintf(stderr, "orvella-host: %s: the plug-in's window closed before the script ended\n",
                   o.Script.c_str());
      scriptResult = kScriptError;
    }
    runner.reset();
  }
  phone.EndSession();
  report.reset();
  hostWindow.reset();
  plugin.Unload();
  ResetHostServices();
  if (answer != kDoPluginMainResult) {
    std::fprintf(stderr, "orvella-host: the plug-in failed the protocol: DoPluginMain answered 0x%08X\n",
                 answer);
    return kProtocolError;
  }
  return scriptResult;
}
