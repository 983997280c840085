#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include "contract/HostServices.h"

namespace {

using namespace orvella;

// Loads the plug-in for one test and unloads it at the end, so every test starts from
// the state at load.
class LoadedPlugin {
 public:
  LoadedPlugin() {
    handle_ = ::dlopen(ORVELLA_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) return;
    init_ = reinterpret_cast<InitializeFn>(::dlsym(handle_, kInitializeSymbol));
    main_ = reinterpret_cast<DoPluginMainFn>(::dlsym(handle_, kDoPluginMainSymbol));
  }
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;
  ~LoadedPlugin() {
    if (handle_) ::dlclose(handle_);
  }
  bool Ok() const { return handle_ && init_ && main_; }

  std::uint32_t Ask(std::uint32_t request, void* data, std::uint32_t value) const {
    init_(request, data, &value);
    return value;
  }
  std::uint32_t Main(std::uint8_t* stopFlag) const { return main_(stopFlag); }

 private:
  void* handle_ = nullptr;
  InitializeFn init_ = nullptr;
  DoPluginMainFn main_ = nullptr;
};

// The fake host: plain functions, as the contract passes no context.
struct FakeHost {
  std::array<std::int32_t, 4> workArea{};  // width, height, left, top; <0 width: from window
  bool sizeFromWindow = false;
  int workAreaCalls = 0;
  std::vector<std::string> calls;
  void* memo = nullptr;
  void* gauge = nullptr;
  std::string memoLineOnAttach;
};
FakeHost g_host;

QDialog* OpenDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<QDialog*>(w)) return d;
  return nullptr;
}

std::uint32_t FakeGetWorkArea(std::int32_t* w, std::int32_t* h, std::int32_t* l,
                              std::int32_t* t) {
  ++g_host.workAreaCalls;
  g_host.calls.push_back("GetWorkArea");
  if (g_host.sizeFromWindow) {
    // A work area narrower than the window by an odd amount, taller by an odd amount.
    QDialog* d = OpenDialog();
    g_host.workArea[0] = d->width() - 5;
    g_host.workArea[1] = d->height() + 7;
  }
  *w = g_host.workArea[0];
  *h = g_host.workArea[1];
  *l = g_host.workArea[2];
  *t = g_host.workArea[3];
  return 1;
}
std::uint32_t OtherGetWorkArea(std::int32_t*, std::int32_t*, std::int32_t*, std::int32_t*) {
  g_host.calls.push_back("OtherGetWorkArea");
  return 1;
}
std::uint32_t FakeAttachLog(void* memo) {
  g_host.calls.push_back("AttachLog");
  g_host.memo = memo;
  if (!g_host.memoLineOnAttach.empty())
    static_cast<QPlainTextEdit*>(memo)->appendPlainText(
        QString::fromStdString(g_host.memoLineOnAttach));
  return 1;
}
std::uint32_t FakeAttachGauge(void* gauge) {
  g_host.calls.push_back("AttachGauge");
  g_host.gauge = gauge;
  return 1;
}
std::uint32_t FakeOther() { return 1; }

HostFunction FakeFor(std::uint32_t id) {
  switch (id) {
    case HostGetWorkAreaId: return reinterpret_cast<HostFunction>(&FakeGetWorkArea);
    case HostAttachLogId: return reinterpret_cast<HostFunction>(&FakeAttachLog);
    case HostAttachGaugeId: return reinterpret_cast<HostFunction>(&FakeAttachGauge);
    default: return reinterpret_cast<HostFunction>(&FakeOther);
  }
}

// Negotiates positions [from, to) as a host does; returns false at the first wrong answer.
::testing::AssertionResult HandOver(const LoadedPlugin& p, std::uint32_t from,
                                    std::uint32_t to) {
  for (std::uint32_t pos = from; pos < to; ++pos) {
    const std::uint32_t id = p.Ask(kRequestServiceId, nullptr, 0);
    if (id != kServiceIds[pos])
      return ::testing::AssertionFailure() << "position " << pos << " asked for id " << id;
    const std::uint32_t answer = p.Ask(kRequestHandOver, FakeFor(id), pos);
    if (answer != kAnswerAccepted)
      return ::testing::AssertionFailure() << "hand-over " << pos << " answered " << answer;
  }
  return ::testing::AssertionSuccess();
}

// Runs DoPluginMain; `inspect` sees the open dialog, which is then closed.
std::uint32_t RunOpen(const LoadedPlugin& p, std::uint8_t* stop,
                      const std::function<void(QDialog&)>& inspect, bool* sawDialog) {
  *sawDialog = false;
  QElapsedTimer clock;
  clock.start();
  std::function<void()> poll;
  poll = [&] {
    QDialog* d = QApplication::activeModalWidget()
                     ? qobject_cast<QDialog*>(QApplication::activeModalWidget())
                     : nullptr;
    // Inspected once shown and framed: the centring then uses the true outer frame.
    if (d && d->isVisible() && d->windowHandle() && d->windowHandle()->isExposed()) {
      *sawDialog = true;
      inspect(*d);
      d->reject();
    } else if (clock.elapsed() < 5000) {
      QTimer::singleShot(10, poll);
    } else if (QDialog* any = OpenDialog()) {
      any->reject();
    }
  };
  QTimer::singleShot(10, poll);
  return p.Main(stop);
}

class PluginFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    g_host = FakeHost{};
    ASSERT_TRUE(plugin_.Ok()) << ::dlerror();
  }
  LoadedPlugin plugin_;
};

TEST_F(PluginFrame, NegotiatesAllFourteenServicesInOrder) {
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), 21u);
  EXPECT_EQ(plugin_.Ask(kRequestRestart, nullptr, 0), 14u);
  ASSERT_TRUE(HandOver(plugin_, 0, kServiceCount));
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), kAnswerRefused);
  // Past the end of the table every hand-over is refused, the last position included.
  EXPECT_EQ(plugin_.Ask(kRequestHandOver, FakeFor(0), 14), kAnswerRefused);
  EXPECT_EQ(plugin_.Ask(kRequestHandOver, FakeFor(0), 13), kAnswerRefused);
}

TEST_F(PluginFrame, RepeatedHandOverIsRefusedAndChangesNothing) {
  ASSERT_TRUE(HandOver(plugin_, 0, 12));  // up to and including HostGetWorkArea (11)
  EXPECT_EQ(plugin_.Ask(kRequestHandOver, reinterpret_cast<HostFunction>(&OtherGetWorkArea), 11),
            kAnswerRefused);
  EXPECT_EQ(plugin_.Ask(kRequestHandOver, FakeFor(0), 3), kAnswerRefused);
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), kServiceIds[12]);
  // A hand-over ahead of the position is refused too.
  EXPECT_EQ(plugin_.Ask(kRequestHandOver, FakeFor(3), 13), kAnswerRefused);
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), kServiceIds[12]);

  // The cell still holds the first function.
  g_host.workArea = {800, 600, 0, 0};
  std::uint8_t stop = 0;
  bool saw = false;
  RunOpen(plugin_, &stop, [](QDialog&) {}, &saw);
  EXPECT_TRUE(saw);
  EXPECT_EQ(g_host.workAreaCalls, 1);
  EXPECT_EQ(std::count(g_host.calls.begin(), g_host.calls.end(), "OtherGetWorkArea"), 0);
}

TEST_F(PluginFrame, RestartMidNegotiationKeepsStoredServices) {
  ASSERT_TRUE(HandOver(plugin_, 0, kServiceCount));
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), kAnswerRefused);
  ASSERT_TRUE(HandOver(plugin_, 0, 0));
  EXPECT_EQ(plugin_.Ask(kRequestRestart, nullptr, 0x1234), 14u);
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), 21u);
  ASSERT_TRUE(HandOver(plugin_, 0, 5));
  EXPECT_EQ(plugin_.Ask(kRequestRestart, nullptr, 0), 14u);
  ASSERT_TRUE(HandOver(plugin_, 0, 3));
  // Work area (11), log (5) and gauge (6) were stored in the first round and stay.
  g_host.workArea = {800, 600, 0, 0};
  std::uint8_t stop = 0;
  bool saw = false;
  RunOpen(plugin_, &stop, [](QDialog&) {}, &saw);
  EXPECT_EQ(g_host.calls, (std::vector<std::string>{"GetWorkArea", "AttachLog", "AttachGauge"}));
}

TEST_F(PluginFrame, VersionTextNeedsTwelveBytes) {
  std::array<std::uint8_t, 16> buf;
  buf.fill(0xEE);
  EXPECT_EQ(plugin_.Ask(kRequestVersion, buf.data(), 11), 11u);
  EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](std::uint8_t b) { return b == 0xEE; }));
  EXPECT_EQ(plugin_.Ask(kRequestVersion, nullptr, 12), 11u);  // no buffer: too small
  EXPECT_EQ(plugin_.Ask(kRequestVersion, buf.data(), 12), 0u);
  EXPECT_EQ(buf[0], 11);
  EXPECT_EQ(std::string(buf.begin() + 1, buf.begin() + 12), "&SF126_1.01");
  EXPECT_EQ(buf[12], 0xEE);  // exactly 12 bytes written
}

std::vector<std::uint8_t> ReadFileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(PluginFrame, ResourcesFollowTheSizeProtocol) {
  std::vector<std::uint8_t> buf(103566 + 8, 0xEE);
  // SCHEMATICS_00 is absent.
  EXPECT_EQ(plugin_.Ask(kRequestSchematics, buf.data(), static_cast<std::uint32_t>(buf.size())), 0u);
  EXPECT_EQ(buf[0], 0xEE);
  // INFORMATION_00: one byte short gets the size and nothing copied.
  EXPECT_EQ(plugin_.Ask(kRequestInformation, buf.data(), 103565), 103566u);
  EXPECT_EQ(buf[0], 0xEE);
  EXPECT_EQ(plugin_.Ask(kRequestInformation, nullptr, 0), 103566u);
  // Exactly the size: copied, and only that many bytes.
  EXPECT_EQ(plugin_.Ask(kRequestInformation, buf.data(), 103566), 103566u);
  const std::vector<std::uint8_t> expected = ReadFileBytes(ORVELLA_INFORMATION_PATH);
  ASSERT_EQ(expected.size(), 103566u);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buf.begin()));
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + 15), "<!DOCTYPE html>");
  EXPECT_EQ(buf[103566], 0xEE);
}

TEST_F(PluginFrame, DescriptorIsCopiedWithItsFixedValues) {
  // A buffer of exactly the answer's size, then guard bytes that must stay untouched.
  constexpr std::size_t kGuard = 32;
  std::vector<std::uint8_t> buf(kDescriptorAnswer + kGuard, 0xEE);
  EXPECT_EQ(plugin_.Ask(kRequestDescriptor, buf.data(), 0), kDescriptorAnswer);
  EXPECT_EQ(kDescriptorAnswer, sizeof(TPluginDescriptor)) << "the answer is what is copied";
  EXPECT_EQ(std::count(buf.begin() + kDescriptorAnswer, buf.end(), 0xEE), std::ptrdiff_t{kGuard})
      << "bytes written past the answer";
  TPluginDescriptor d;
  std::memcpy(&d, buf.data(), sizeof d);
  ASSERT_NE(d.Title, nullptr);
  ASSERT_NE(d.Platform, nullptr);
  EXPECT_STREQ(d.Title, "Samsung i9000-like FullFlash Image Files Processing Tool");
  EXPECT_STREQ(d.Platform, "QUALCOMM");
  EXPECT_EQ(d.Reserved8, 0u);
  EXPECT_EQ(d.Fixed1234, 0x1234);
  EXPECT_EQ(d.FixedFFFF, 0xFFFF);
  EXPECT_EQ(d.ResourceData, nullptr);  // REVIVOR_00 is absent
  EXPECT_EQ(d.ResourceSize, 0u);
  EXPECT_TRUE(std::all_of(std::begin(d.Reserved16), std::end(d.Reserved16), [](auto b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(std::begin(d.Reserved56), std::end(d.Reserved56), [](auto b) { return b == 0; }));
  // The texts stay where they are.
  TPluginDescriptor d2;
  plugin_.Ask(kRequestDescriptor, &d2, 0);
  EXPECT_EQ(d2.Title, d.Title);
  EXPECT_EQ(d2.Platform, d.Platform);
}

// Without a buffer nothing is copied, and no answer says otherwise: request 2 answers the
// bytes it copied, request 3 never its "copied" 0, requests 4 and 5 never an answer that
// the offer would hold, except 0, which hands over nothing.
TEST_F(PluginFrame, NullDataIsNeverReportedAsFilled) {
  constexpr std::uint32_t kInfo = 103566;
  for (std::uint32_t offer : {0u, 11u, 12u, kInfo - 1, kInfo, 0xFFFFFFFFu}) {
    SCOPED_TRACE(offer);
    EXPECT_EQ(plugin_.Ask(kRequestDescriptor, nullptr, offer), 0u);
    EXPECT_EQ(plugin_.Ask(kRequestVersion, nullptr, offer), 11u);
    EXPECT_EQ(plugin_.Ask(kRequestSchematics, nullptr, offer), 0u);
    // Too small for the block: its size, so a host can size a real buffer.
    EXPECT_EQ(plugin_.Ask(kRequestInformation, nullptr, offer), offer < kInfo ? kInfo : 0u);
  }
}

class UnlistedRequest : public PluginFrame, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(UnlistedRequest, LeavesTheValueAlone) {
  std::uint8_t buf[16] = {};
  EXPECT_EQ(plugin_.Ask(GetParam(), buf, 0xCAFEF00Du), 0xCAFEF00Du);
  // Nor does it move the negotiation.
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), 21u);
}
INSTANTIATE_TEST_SUITE_P(Requests, UnlistedRequest,
                         ::testing::Values(6u, 7u, 100u, 254u, 256u, 0xFFFFFFFFu));

TEST_F(PluginFrame, NullValueIsIgnored) {
  using Init = void (*)(std::uint32_t, void*, std::uint32_t*);
  void* h = ::dlopen(ORVELLA_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(h, nullptr);
  auto init = reinterpret_cast<Init>(::dlsym(h, kInitializeSymbol));
  for (std::uint32_t r : {0u, 1u, 2u, 3u, 4u, 5u, 255u}) init(r, nullptr, nullptr);
  ::dlclose(h);
  EXPECT_EQ(plugin_.Ask(kRequestServiceId, nullptr, 0), 21u);
}

TEST(PluginExports, OnlyInitializeAndDoPluginMain) {
  const std::string cmd = std::string("nm -D --defined-only '") + ORVELLA_PLUGIN_PATH + "'";
  FILE* pipe = ::popen(cmd.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const std::size_t space = s.rfind(' ');
    names.insert(space == std::string::npos ? s : s.substr(space + 1));
  }
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(names, (std::set<std::string>{"DoPluginMain", "Initialize"}));
}

TEST(PluginLifetime, UnloadsCompletelyAndStartsAfresh) {
  {
    LoadedPlugin p;
    ASSERT_TRUE(p.Ok());
    ASSERT_TRUE(HandOver(p, 0, 7));
    ASSERT_NE(QApplication::instance(), nullptr);  // the plug-in made one for itself
  }
  EXPECT_EQ(::dlopen(ORVELLA_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);
  EXPECT_EQ(QApplication::instance(), nullptr);
  LoadedPlugin again;
  ASSERT_TRUE(again.Ok());
  EXPECT_EQ(again.Ask(kRequestServiceId, nullptr, 0), 21u);
}

TEST_F(PluginFrame, OpensCentredOnTheWorkAreaAndHandsOverMemoAndGauge) {
  ASSERT_TRUE(HandOver(plugin_, 0, kServiceCount));
  g_host.sizeFromWindow = true;
  g_host.workArea[2] = 100;
  g_host.workArea[3] = 50;
  std::uint8_t stop = 0;
  bool saw = false;
  QPoint pos;
  QSize outer;
  QPlainTextEdit* memo = nullptr;
  QProgressBar* gauge = nullptr;
  const std::uint32_t result = RunOpen(plugin_, &stop, [&](QDialog& d) {
    pos = d.pos();
    outer = d.frameGeometry().size();
    memo = d.findChild<QPlainTextEdit*>("MyMemo");
    gauge = d.findChild<QProgressBar*>("MyGauge");
    EXPECT_TRUE(d.isModal());
  }, &saw);
  EXPECT_EQ(result, kDoPluginMainResult);
  ASSERT_TRUE(saw);
  // The outer frame is centred, the differences halved toward zero.
  const int dx = g_host.workArea[0] - outer.width();
  const int dy = g_host.workArea[1] - outer.height();
  ASSERT_LT(dx, 0);
  EXPECT_EQ(pos, QPoint(100 + dx / 2, 50 + dy / 2));
  EXPECT_EQ(g_host.calls, (std::vector<std::string>{"GetWorkArea", "AttachLog", "AttachGauge"}));
  ASSERT_NE(memo, nullptr);
  ASSERT_NE(gauge, nullptr);
  EXPECT_EQ(g_host.memo, static_cast<void*>(memo));
  EXPECT_EQ(g_host.gauge, static_cast<void*>(gauge));
}

TEST_F(PluginFrame, ReopensWithTheLogKeptAndCentresAgain) {
  ASSERT_TRUE(HandOver(plugin_, 0, kServiceCount));
  std::uint8_t stop = 0;
  bool saw = false;
  g_host.workArea = {2000, 1600, 0, 0};
  g_host.memoLineOnAttach = "first opening";
  QPoint first;
  RunOpen(plugin_, &stop, [&](QDialog& d) { first = d.pos(); }, &saw);
  ASSERT_TRUE(saw);
  void* firstMemo = g_host.memo;

  g_host.workArea = {2000, 1600, 300, 200};
  g_host.memoLineOnAttach = "second opening";
  QPoint second;
  QString text;
  EXPECT_EQ(RunOpen(plugin_, &stop, [&](QDialog& d) {
              second = d.pos();
              text = d.findChild<QPlainTextEdit*>("MyMemo")->toPlainText();
            }, &saw), kDoPluginMainResult);
  ASSERT_TRUE(saw);
  EXPECT_EQ(g_host.memo, firstMemo);
  EXPECT_EQ(text, "first opening\nsecond opening");
  EXPECT_EQ(second, first + QPoint(300, 200));
  EXPECT_EQ(g_host.workAreaCalls, 2);
}

TEST_F(PluginFrame, WithoutServicesTheWindowStaysWhereItIs) {
  QDialog* d = OpenDialog();
  ASSERT_NE(d, nullptr);
  d->move(33, 44);
  std::uint8_t stop = 0;
  bool saw = false;
  QPoint pos;
  EXPECT_EQ(RunOpen(plugin_, &stop, [&](QDialog& dlg) { pos = dlg.pos(); }, &saw),
            kDoPluginMainResult);
  ASSERT_TRUE(saw);
  EXPECT_EQ(pos, QPoint(33, 44));
  EXPECT_TRUE(g_host.calls.empty());
}

}  // namespace
