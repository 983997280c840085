#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "host/PluginPath.h"
#include "tests/host/PhoneFixture.h"
#include "tests/support/Processes.h"

namespace {

using namespace orvella::testing;

using RunResult = orvella::test::CommandRun;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

RunResult RunHost(const std::string& args, const std::string& env = "",
                  const std::string& host = ORVELLA_HOST_PATH) {
  return orvella::test::RunCommand(env + " " + Quote(host) + " " + args + " 2>&1");
}

class HostEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    phone_ = dir_.Path() + "phone.nand";
    MakeImage(phone_, 2, orvella::ImageFill::Pattern);
  }
  std::string PhoneArg() const { return "--phone " + Quote(phone_); }
  TempFolder dir_;
  std::string phone_;
};

TEST_F(HostEndToEnd, OpensThePluginAndClosesByItself) {
  const RunResult r = RunHost("--plugin " + Quote(ORVELLA_PLUGIN_PATH) + " " + PhoneArg() +
                              " --image /nonexistent/sample.bin --close-after-ms 200");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output.find("orvella-host:"), std::string::npos) << r.output;
}

TEST_F(HostEndToEnd, WindowlessPluginThatFollowsTheProtocol) {
  const RunResult r = RunHost("--plugin " + Quote(ORVELLA_BAD_PLUGIN_PATH) + " " + PhoneArg());
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

struct ProtocolCase {
  const char* mode;
  const char* message;
};

class ProtocolFailure : public HostEndToEnd, public ::testing::WithParamInterface<ProtocolCase> {};

TEST_P(ProtocolFailure, IsReportedNotCrashed) {
  const RunResult r = RunHost("--plugin " + Quote(ORVELLA_BAD_PLUGIN_PATH) + " " + PhoneArg(),
                              std::string("ORVELLA_BAD_PLUGIN=") + GetParam().mode);
  EXPECT_EQ(r.exitCode, 5) << r.output;
  EXPECT_NE(r.output.find("orvella-host: the plug-in failed the protocol: "), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(GetParam().message), std::string::npos) << r.output;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ProtocolFailure,
    ::testing::Values(ProtocolCase{"count", "request 255 answered 0 services"},
                      ProtocolCase{"unknown-id", "asks for service id 99"},
                      ProtocolCase{"refuse", "position 4 was answered 0x8FFFFFFF"},
                      ProtocolCase{"endless", "hand-overs request 0 still answered 0x00000015"},
                      ProtocolCase{"descriptor", sizeof(void*) == 8
                                                     ? "request 2 answered 0 instead of 88"
                                                     : "request 2 answered 0 instead of 76"},
                      ProtocolCase{"version", "request 3 answered 3"},
                      ProtocolCase{"resource", "answered 50 after announcing 100 bytes"},
                      ProtocolCase{"huge", "more than the host accepts"},
                      ProtocolCase{"main", "DoPluginMain answered 0x00000000"}),
    [](const auto& param) {
      std::string n = param.param.mode;
      for (char& c : n) if (c == '-') c = '_';
      return n;
    });

TEST_F(HostEndToEnd, LoadFailuresAreReported) {
  RunResult r = RunHost("--plugin " + Quote(dir_.Path() + "none.so") + " " + PhoneArg());
  EXPECT_EQ(r.exitCode, 4) << r.output;
  EXPECT_NE(r.output.find("cannot load the plug-in"), std::string::npos) << r.output;
  r = RunHost("--plugin " + Quote(phone_) + " " + PhoneArg());  // not a library
  EXPECT_EQ(r.exitCode, 4) << r.output;
  r = RunHost("--plugin " + Quote(ORVELLA_NO_INIT_PLUGIN_PATH) + " " + PhoneArg());
  EXPECT_EQ(r.exitCode, 4) << r.output;
  EXPECT_NE(r.output.find("does not export Initialize"), std::string::npos) << r.output;
}

TEST_F(HostEndToEnd, PhoneAndOptionProblems) {
  const std::string odd = dir_.Path() + "odd.bin";
  { std::ofstream(odd) << "not a phone"; }
  RunResult r = RunHost("--plugin " + Quote(ORVELLA_PLUGIN_PATH) + " --phone " + Quote(odd));
  EXPECT_EQ(r.exitCode, 3) << r.output;
  EXPECT_NE(r.output.find("is not a virtual phone"), std::string::npos) << r.output;
  r = RunHost("--fail-read 0");
  EXPECT_EQ(r.exitCode, 2) << r.output;
  r = RunHost("--read-file-fault sideways");
  EXPECT_EQ(r.exitCode, 2) << r.output;
  for (const char* flips : {"--flip-bits 1001", "--flip-bits -1", "--flip-bits"}) {
    r = RunHost(flips);
    EXPECT_EQ(r.exitCode, 2) << flips << r.output;
    EXPECT_NE(r.output.find("--flip-bits needs a count from 0 to 1000"), std::string::npos) << r.output;
  }
  r = RunHost("--bogus");
  EXPECT_EQ(r.exitCode, 2) << r.output;
  EXPECT_NE(r.output.find("unknown option \"--bogus\""), std::string::npos);
  r = RunHost("--help");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.output.find("--close-after-ms"), std::string::npos);
}

// The host copied into an installed layout finds the plug-in in the library folder,
// prefers one beside itself, and names both places when neither has one.
TEST_F(HostEndToEnd, FindsThePluginInAnInstalledLayout) {
  namespace fs = std::filesystem;
  const std::string bin = dir_.Path() + "root/usr/bin/";
  const std::string host = bin + "orvella-host";
  const std::vector<std::string> places = orvella::DefaultPluginCandidates(bin);
  ASSERT_EQ(places.size(), 2u);
  fs::create_directories(bin);
  fs::create_directories(fs::path(places[1]).parent_path());
  fs::copy_file(ORVELLA_HOST_PATH, host);
  fs::copy_file(ORVELLA_PLUGIN_PATH, places[1]);
  const std::string args = PhoneArg() + " --close-after-ms 200";

  RunResult r = RunHost(args, "", host);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output.find("orvella-host:"), std::string::npos) << r.output;

  fs::copy_file(ORVELLA_NO_INIT_PLUGIN_PATH, places[0]);
  r = RunHost(args, "", host);
  EXPECT_EQ(r.exitCode, 4) << r.output;
  EXPECT_NE(r.output.find("\"" + places[0] + "\" is not a plug-in"), std::string::npos) << r.output;

  fs::remove(places[0]);
  fs::remove(places[1]);
  r = RunHost(args, "", host);
  EXPECT_EQ(r.exitCode, 4) << r.output;
  EXPECT_NE(r.output.find("no plug-in found at " + places[0] + " or " + places[1]),
            std::string::npos)
      << r.output;
}

}  // namespace
