// orvella-host --script as a user runs it: a process of its own, with its own work
// folder (a copy of the host in a temporary folder), on a small virtual phone.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <algorithm>

#include "PluginOnPhone.h"
#include "tests/support/Processes.h"

namespace orvella::e2e {
namespace {

using HostRun = orvella::test::CommandRun;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class HostScript : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = dir_.File("orvella-host");
    std::error_code ec;
    std::filesystem::copy_file(ORVELLA_HOST_PATH, host_, ec);
    ASSERT_FALSE(ec) << ec.message();
    phone_ = dir_.File("phone.nand");
    std::string error;
    ASSERT_TRUE(WriteFullImage(phone_, ImageSpec{kPhoneMiB, PhoneTable(), ImageFill::Pattern}, error))
        << error;
  }

  HostRun Host(const std::string& scriptFile, const std::string& extra = "") {
    const std::string cmd = "cd " + Quote(dir_.Path().string()) + " && " + Quote(host_) +
                            " --plugin " + Quote(ORVELLA_PLUGIN_PATH) + " --phone " +
                            Quote(phone_) + " --script " + Quote(scriptFile) + " " + extra +
                            " 2>&1";
    return orvella::test::RunCommand(cmd);
  }

  HostRun Script(const std::string& text, const std::string& extra = "") {
    const std::string path = dir_.File("test.script");
    std::ofstream(path) << text;
    return Host(path, extra);
  }

  test::TempDir dir_;
  std::string host_;
  std::string phone_;
};

// What ./run.sh runs where there is no display, on a small phone.
TEST_F(HostScript, DemoScriptReadsTwoPartitionsChecksBlanksAndSavesTheImage) {
  std::filesystem::create_directories(dir_.Path() / "build-run" / "demo");
  const HostRun r = Host(ORVELLA_DEMO_SCRIPT);
  ASSERT_EQ(r.exitCode, 0) << r.output;
  const std::string saved = dir_.File("build-run/demo/phone-image.bin");
  const std::vector<std::uint8_t> image = FileBytes(saved);
  const std::vector<std::uint8_t> phone = FileBytes(phone_);
  ASSERT_EQ(image.size(), phone.size());
  for (int row : {4, 6}) {
    const RowRange range = PhoneRow(row);
    const auto at = static_cast<std::ptrdiff_t>(range.Address);
    EXPECT_TRUE(std::equal(image.begin() + at, image.begin() + at + static_cast<std::ptrdiff_t>(range.Length),
                           phone.begin() + at))
        << "row " << row;
  }
  const RowRange efs = PhoneRow(3);
  EXPECT_EQ(image[efs.Address], 0xFF) << "a partition not read stays blank";

  std::ifstream log(dir_.File("build-run/demo/demo-log.txt"));
  std::vector<std::string> lines;
  for (std::string l; std::getline(log, l);) lines.push_back(l);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Saving to File...OK");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Checking which Partition is blank...COMPLETE!"),
            lines.end());
  EXPECT_FALSE(std::filesystem::exists(dir_.File("$tGL0Image.$$$")));
}

TEST_F(HostScript, ImageOptionFillsTheSourceImageFileNameAndLoads) {
  const std::string image = dir_.File("user image.bin");
  std::filesystem::copy_file(phone_, image);
  const HostRun r = Script("expect-text ImageName " + image +
                               "\nclick CreateList\nexpect-text ReadSelectedBtn Read Partition1\n",
                           "--image " + Quote(image));
  EXPECT_EQ(r.exitCode, 0) << r.output;
}

std::string HexText(const std::vector<std::uint8_t>& bytes) {
  std::string out;
  char buf[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    out += (out.empty() ? "" : " ") + std::string(buf);
  }
  return out;
}

std::string HexNumber(std::uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
  return buf;
}

// The hex window's keys, prompts, copy and save block, as a script drives them.
TEST_F(HostScript, HexViewKeysGoToFindCopyAndSaveBlock) {
  const std::string image = dir_.File("image.bin");
  std::filesystem::copy_file(phone_, image);
  const std::vector<std::uint8_t> bytes = FileBytes(image);
  const RowRange row = PhoneRow(1);
  const auto partition = bytes.begin() + static_cast<std::ptrdiff_t>(row.Address);
  const std::vector<std::uint8_t> four(partition + 0x1000, partition + 0x1004);
  // The first run of those bytes in the partition: where Find must stop first.
  const auto first = std::search(partition, partition + static_cast<std::ptrdiff_t>(row.Length),
                                 four.begin(), four.end()) - partition;
  const std::string saved = dir_.File("block.bin");
  const HostRun r = Script(
      "click CreateList\nclick ShowHideHexBtn\n"
      "key ScrollBox02 Right, Shift+Down\nexpect-block spare 1 10\nexpect-block main none\n"
      "key ScrollBox01 Right, Right, Down\nexpect-caret main 12\n"
      "key ScrollBox01 Shift+Right, Shift+Right\nexpect-block main 12 13\n"
      "answer-input 0x1000\nkey ScrollBox01 Ctrl+G\nexpect-caret main 1000\nexpect-block main none\n"
      "key ScrollBox01 Shift+Right, Shift+Right, Shift+Right, Shift+Right, Ctrl+C\n"
      "expect-clipboard " + HexText(four) + "\n"
      "answer-save " + saved + "\nclick HexSaveBlockItem01\n"
      "answer-input " + HexText(four) + "\nkey ScrollBox01 Ctrl+Home, Ctrl+F\n"
      "expect-block main " + HexNumber(first) + " " + HexNumber(first + 3) + "\n"
      "expect-status 0 " + HexText(four) + " found at 0x" +
          std::string(8 - HexNumber(first).size(), '0') + HexNumber(first) + "\n"
      "answer-input @" + HexNumber(row.Address + row.Length) + "\nkey ScrollBox01 Ctrl+G\n"
      "expect-block main " + HexNumber(first) + " " + HexNumber(first + 3) + "\n",
      "--image " + Quote(image));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(FileBytes(saved), four);
  EXPECT_EQ(FileBytes(image), bytes);
}

struct Failure {
  const char* name;
  const char* script;
  const char* message;
  const char* extra;
};

class HostScriptFailure : public HostScript, public ::testing::WithParamInterface<Failure> {};

TEST_P(HostScriptFailure, EndsWithExitCodeSixNamingTheLine) {
  // "%IMAGE%" in the options stands for a copy of the phone's image, for cases that need
  // partitions loaded.
  std::string extra = GetParam().extra;
  if (const auto at = extra.find("%IMAGE%"); at != std::string::npos) {
    const std::string image = dir_.File("image.bin");
    std::filesystem::copy_file(phone_, image);
    extra.replace(at, 7, Quote(image));
  }
  const HostRun r = Script(GetParam().script, extra);
  EXPECT_EQ(r.exitCode, 6) << r.output;
  EXPECT_NE(r.output.find(GetParam().message), std::string::npos) << r.output;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("$tGL0Image.$$$")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostScriptFailure,
    ::testing::Values(
        Failure{"UnknownControl", "# first\n\nclick Nowhere\n",
                "test.script line 3 (click Nowhere): no control named \"Nowhere\"", ""},
        Failure{"DisabledButton", "click CheckBlanks\n",
                "line 1 (click CheckBlanks): \"CheckBlanks\" is disabled", ""},
        Failure{"FailedExpectation", "click ReadPartitionBtn\nwait\nexpect-log Nothing like it\n",
                "line 3 (expect-log Nothing like it): no log line equals \"Nothing like it\"", ""},
        Failure{"WrongCaption", "expect-text ReadPartitionBtn Read\n",
                "line 1 (expect-text ReadPartitionBtn Read): \"ReadPartitionBtn\" shows "
                "\"&Get Partitions from Device\", not \"Read\"", ""},
        Failure{"UnansweredDialog", "click SelectImageFile\nclose\n",
                "line 1 (click SelectImageFile): an open dialog (filter \"VESK Full Image Files "
                "|*.bin\") opened with no answer given", ""},
        Failure{"UnansweredCloseQuestion",
                "click ReadPartitionBtn\nwait\ncursor 3\nclick ReadSelectedBtn\nwait\nclose\n",
                "line 6 (close): the window asked before closing over unsaved device data with no "
                "answer given", ""},
        Failure{"NoSuchRow", "mark 3\n", "line 1 (mark 3): there is no row 3", ""},
        Failure{"UnknownCommand", "press ReadPartitionBtn\n",
                "test.script line 1 (press ReadPartitionBtn): unknown command \"press\"", ""},
        Failure{"BadArgument", "sleep soon\n", "line 1 (sleep soon): sleep needs milliseconds", ""},
        Failure{"NoSuchKey", "key ScrollBox01 Ctrl+Nothing\n",
                "line 1 (key ScrollBox01 Ctrl+Nothing): key needs a control name and keys", ""},
        Failure{"CaretElsewhere", "click CreateList\nclick ShowHideHexBtn\nkey ScrollBox01 Right\nexpect-caret main 5\n",
                "line 4 (expect-caret main 5): the main view's caret is on 1, not 5", "--image %IMAGE%"},
        Failure{"BlockElsewhere",
                "click CreateList\nclick ShowHideHexBtn\nkey ScrollBox02 Shift+Right\nexpect-block spare 0 5\n",
                "line 4 (expect-block spare 0 5): the spare view marks 0 0, not 0 5", "--image %IMAGE%"},
        Failure{"ClipboardElsewhere",
                "click CreateList\nclick ShowHideHexBtn\nkey ScrollBox01 Ctrl+C\nexpect-clipboard ZZ\n",
                "line 4 (expect-clipboard ZZ): the clipboard holds \"", "--image %IMAGE%"},
        Failure{"BadBlockAddresses", "expect-block main 12\n",
                "line 1 (expect-block main 12): expect-block needs two hexadecimal addresses or none", ""},
        Failure{"UnansweredPrompt", "click CreateList\nclick ShowHideHexBtn\nkey ScrollBox01 Ctrl+F\n",
                "line 3 (key ScrollBox01 Ctrl+F): the prompt \"Find\" opened with no answer given",
                "--image %IMAGE%"},
        // A slow read running when the time is up is stopped, and the window still closes.
        Failure{"Timeout", "click ReadPartitionBtn\nwait\ncursor 7\nclick ReadSelectedBtn\nwait\n",
                "the script timed out after 1500 ms", "--speed 1048576 --script-timeout-ms 1500"}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace orvella::e2e
