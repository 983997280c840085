// The plug-in's two windows behind the frame's seam: the main window TReraradForm and the
// hex window THexForm, created at library start-up in that order and destroyed in reverse.

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QString>

#include "device/HostServiceTable.h"
#include "plugin/AutomationPort.h"
#include "plugin/PluginFrame.h"
#include "plugin/PluginWindows.h"
#include "ui/HexWindowUnit.h"
#include "ui/MainUnit.h"

namespace orvella {

namespace {

// The one main window; the host's status texts go to it.
TReraradForm* g_statusWindow = nullptr;

// Longest status text taken from the host: a text that lacks its terminator ends here
// instead of being read on into whatever follows it.
constexpr qsizetype kMaxStatusText = 4096;

void ORVELLA_STDCALL PluginStatusText(std::uint32_t, std::int32_t panel, const char16_t* text) {
  if (g_statusWindow == nullptr) return;
  qsizetype length = 0;
  if (text != nullptr)
    while (length < kMaxStatusText && text[length] != u'\0') ++length;
  g_statusWindow->SetStatusText(panel, QString::fromUtf16(text, length).toStdString());
}

class MainWindows final : public PluginWindows {
 public:
  explicit MainWindows(const PluginContext& context) : context_(context) {
    device_.statusText = PluginStatusText;
    device_.descriptor = context_.Descriptor;
    main_ = std::make_unique<TReraradForm>(&device_);
    // The main window runs modally (QDialog::exec, application modal), which blocks input
    // to every other window of the process: the host's, as it must, but also a hex window
    // of its own. A window that belongs to the modal window is exempt: so the hex window
    // is a window-flagged child of the main window (on X11 also its transient), and takes
    // clicks, drags, the wheel, its scroll bars and its close box while the main window is
    // open. It is destroyed before its parent, by hex_.
    hex_ = std::make_unique<THexForm>(main_.get());
    main_->SetHexForm(hex_.get());
    // The views' prompts, dialogs, gauge and status text are the main window's.
    hex_->SetPort(main_.get());
    // Lets a host drive the window without a person (contract/AutomationProtocol.h).
    new AutomationPort(*main_);
    g_statusWindow = main_.get();
  }

  ~MainWindows() override {
    g_statusWindow = nullptr;
    main_->SetHexForm(nullptr);
    hex_.reset();
    main_.reset();
  }

  MainWindows(const MainWindows&) = delete;
  MainWindows& operator=(const MainWindows&) = delete;

  void ReadSettings() override { main_->ReadSettings(); }
  void CentreMain(std::int32_t width, std::int32_t height, std::int32_t left,
                  std::int32_t top) override {
    const auto centre = [this, width, height, left, top] {
      TOuterFrame& outer = main_->OuterFrame();
      const QSize size = outer.OuterGeometry().size();
      outer.SetOuterGeometry(CentredEdge(width, left, size.width()),
                             CentredEdge(height, top, size.height()), std::nullopt, std::nullopt);
    };
    centre();
    // Before the first showing the frame is a guess (none, or a stored outer size); the
    // window is centred again on its true outer size as soon as the frame is known.
    if (!main_->OuterFrame().FrameKnown()) main_->OuterFrame().OnFrameKnown = centre;
  }
  QPlainTextEdit* Memo() override { return main_->MyMemo; }
  QProgressBar* Gauge() override { return main_->MyGauge; }

  void SetStopFlagAddress(std::uint8_t* stopFlag) override {
    device_.stopFlag = stopFlag;
    // The host hands its services over after start-up, before the window opens.
    if (const HostServiceTable* s = context_.Services) {
      device_.connect = s->ConnectFn;
      device_.identify = s->IdentifyFlashFn;
      device_.readRange = s->ReadRangeFn;
      device_.writeRange = s->WriteRangeFn;
      device_.eraseRange = s->EraseRangeFn;
      device_.endSession = s->EndSessionFn;
    }
  }

  void ExecMain() override { main_->exec(); }

 private:
  PluginContext context_;
  DeviceServiceTable device_;  // read by the device commands at every call
  std::unique_ptr<TReraradForm> main_;
  std::unique_ptr<THexForm> hex_;
};

}  // namespace

std::unique_ptr<PluginWindows> CreatePluginWindows(const PluginContext& context) {
  return std::make_unique<MainWindows>(context);
}

}  // namespace orvella
