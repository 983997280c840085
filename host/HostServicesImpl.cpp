#include "host/HostServicesImpl.h"

#include <algorithm>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <climits>
#include <cstdio>

#include "host/VirtualPhone.h"
#include "image/WindowPort.h"
#include "qtcontract/MemoLines.h"

namespace orvella {

namespace {

VirtualPhone* g_phone = nullptr;
std::uint8_t g_stopFlag = 0;
// Guarded pointers: the plug-in owns these controls and may destroy them at unload.
QPointer<QPlainTextEdit> g_memo;
QPointer<QProgressBar> g_gauge;

// The window as the host sees it during one service call.
class HostPort final : public WindowPort {
 public:
  HostPort(StatusTextCallback status, void* gauge)
      : status_(status), gauge_(gauge ? static_cast<QProgressBar*>(gauge) : g_gauge.data()) {}

  void LogClear() override {
    if (g_memo) g_memo->clear();
  }
  void LogAdd(const std::string& line) override {
    if (g_memo)
      MemoAddLine(*g_memo, QString::fromStdString(line));
    else
      std::fprintf(stderr, "%s\n", line.c_str());
  }
  void LogReplaceLast(const std::string& line) override {
    if (g_memo) MemoReplaceLastLine(*g_memo, QString::fromStdString(line));
  }
  void GaugeSetMax(std::int64_t maxValue) override {
    if (gauge_) gauge_->setMaximum(static_cast<int>(std::clamp<std::int64_t>(maxValue, 0, INT_MAX)));
  }
  void GaugeSetPos(std::int64_t position) override {
    if (gauge_) gauge_->setValue(static_cast<int>(std::clamp<std::int64_t>(position, 0, INT_MAX)));
  }
  std::int64_t GaugeMax() const override { return gauge_ ? gauge_->maximum() : 0; }
  std::int64_t GaugePos() const override { return gauge_ ? std::max(0, gauge_->value()) : 0; }
  void SetStatusText(int panel, const std::string& text) override {
    if (!status_) return;
    const std::u16string utf16 = QString::fromStdString(text).toStdU16String();
    status_(0, panel, utf16.c_str());
  }
  void ProcessMessages() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }
  void ErrorBox(const std::string& text) override { LogAdd("ERROR: " + text); }
  std::optional<std::string> SaveDialog(const SaveDialogRequest&) override { return std::nullopt; }
  void Sleep(int milliseconds) override { QThread::msleep(static_cast<unsigned long>(milliseconds)); }

 private:
  StatusTextCallback status_;
  QPointer<QProgressBar> gauge_;
};

std::uint32_t ORVELLA_STDCALL GetWorkArea(std::int32_t* width, std::int32_t* height,
                                          std::int32_t* left, std::int32_t* top) {
  QRect area(0, 0, 1024, 768);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) area = screen->availableGeometry();
  if (width) *width = area.width();
  if (height) *height = area.height();
  if (left) *left = area.left();
  if (top) *top = area.top();
  return 1;
}

std::uint32_t ORVELLA_STDCALL AttachLog(void* memo) {
  g_memo = static_cast<QPlainTextEdit*>(memo);
  if (g_memo && g_phone)
    MemoAddLine(*g_memo, QStringLiteral("Host: virtual phone %1, %2 MiB NAND, erase block 0x%3, page 0x%4.")
                                .arg(QString::fromStdString(g_phone->Path()))
                                .arg(g_phone->ChipMiB())
                                .arg(kPhoneEraseBlock, 8, 16, QLatin1Char('0'))
                                .arg(kPhonePageSize, 8, 16, QLatin1Char('0')));
  return 1;
}

std::uint32_t ORVELLA_STDCALL AttachGauge(void* gauge) {
  g_gauge = static_cast<QProgressBar*>(gauge);
  return 1;
}

std::uint32_t ORVELLA_STDCALL Connect(const TPluginDescriptor*) {
  return g_phone && g_phone->Connect() ? 1 : 0;
}

std::uint32_t ORVELLA_STDCALL IdentifyFlash(std::uint32_t, TFlashInfo* info) {
  if (!info) return 0;
  if (!g_phone) {
    *info = TFlashInfo{};
    return 0;
  }
  return g_phone->IdentifyFlash(*info) ? 1 : 0;
}

std::uint32_t ORVELLA_STDCALL ReadRange(std::uint32_t, std::uint32_t address, std::uint32_t length,
                                        std::uint32_t, std::uint32_t, const char* tag,
                                        std::uint8_t* buffer, std::int32_t, void* gauge,
                                        std::uint32_t toFile, StatusTextCallback status,
                                        std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
  if (!g_phone) return 0;
  HostPort port(status, gauge);
  if (toFile) return g_phone->ReadToFiles(address, length, tag ? tag : "", port, &g_stopFlag) ? 1 : 0;
  return g_phone->ReadToMemory(address, length, buffer, port, &g_stopFlag) ? 1 : 0;
}

std::uint32_t ORVELLA_STDCALL WriteRange(TWriteRequestBlock block) {
  if (!g_phone) return 0;
  HostPort port(block.StatusText, block.Gauge);
  if (!block.ImagePath) {
    port.LogAdd("ERROR: Write failed. No image file named.");
    return 0;
  }
  const std::string path = QString::fromUtf16(block.ImagePath).toStdString();
  return g_phone->WriteFromImage(block.Addr, block.Leng, path, block.EnableEcc != 0,
                                 block.AlreadyConnected != 0, port, &g_stopFlag)
             ? 1
             : 0;
}

std::uint32_t ORVELLA_STDCALL EraseRange(std::uint32_t, std::uint32_t address, std::uint32_t length,
                                         std::uint32_t, std::uint32_t, std::uint32_t,
                                         StatusTextCallback status, std::int32_t, std::int32_t,
                                         std::int32_t, std::int32_t) {
  if (!g_phone) return 0;
  HostPort port(status, nullptr);
  return g_phone->Erase(address, length, port, &g_stopFlag) ? 1 : 0;
}

std::uint32_t ORVELLA_STDCALL EndSession() {
  if (g_phone) g_phone->EndSession();
  return 1;
}

// Ids 1, 2, 3, 11 and 21: the plug-in never calls them.
std::uint32_t ORVELLA_STDCALL Unused() { return 0; }

template <typename Fn>
HostFunction Cell(Fn fn) {
  return reinterpret_cast<HostFunction>(fn);
}

}  // namespace

void SetHostPhone(VirtualPhone* phone) { g_phone = phone; }
std::uint8_t* HostStopFlag() { return &g_stopFlag; }
QPlainTextEdit* HostMemo() { return g_memo.data(); }
QProgressBar* HostGauge() { return g_gauge.data(); }

void ResetHostServices() {
  g_phone = nullptr;
  g_memo = nullptr;
  g_gauge = nullptr;
  g_stopFlag = 0;
}

HostFunction HostFunctionFor(std::uint32_t id) {
  switch (id) {
    case HostGetWorkAreaId: return Cell<HostGetWorkAreaFn>(&GetWorkArea);
    case HostAttachLogId: return Cell<HostAttachLogFn>(&AttachLog);
    case HostAttachGaugeId: return Cell<HostAttachGaugeFn>(&AttachGauge);
    case HostConnectId: return Cell<HostConnectFn>(&Connect);
    case HostIdentifyFlashId: return Cell<HostIdentifyFlashFn>(&IdentifyFlash);
    case HostReadRangeId: return Cell<HostReadRangeFn>(&ReadRange);
    case HostWriteRangeId: return Cell<HostWriteRangeFn>(&WriteRange);
    case HostEraseRangeId: return Cell<HostEraseRangeFn>(&EraseRange);
    case HostEndSessionId: return Cell<HostEndSessionFn>(&EndSession);
    case 1: case 2: case 3: case 11: case 21: return Cell<HostUnusedFn>(&Unused);
    default: return nullptr;
  }
}

}  // namespace orvella
