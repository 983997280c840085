#include <map>
#include <string>

#include <gtest/gtest.h>

#include "contract/WorkFolder.h"

namespace {

using orvella::ChooseWorkFolder;
using orvella::WorkFolderInputs;

WorkFolderInputs Inputs(bool writable, std::map<std::string, std::string> env) {
  WorkFolderInputs in;
  in.ExecutablePath = "/opt/host/bin/flasher";
  in.IsWritable = [writable](const std::string& folder) {
    EXPECT_EQ(folder, "/opt/host/bin/");
    return writable;
  };
  auto shared = std::make_shared<std::map<std::string, std::string>>(std::move(env));
  in.Environment = [shared](const char* name) -> const char* {
    auto it = shared->find(name);
    return it == shared->end() ? nullptr : it->second.c_str();
  };
  return in;
}

TEST(WorkFolder, ExecutableFolderWhenWritable) {
  EXPECT_EQ(ChooseWorkFolder(Inputs(true, {{"HOME", "/home/u"}})), "/opt/host/bin/");
}

TEST(WorkFolder, PerUserFolderWhenNotWritable) {
  EXPECT_EQ(ChooseWorkFolder(Inputs(false, {{"HOME", "/home/u"}})),
            "/home/u/.local/share/orvella/");
  EXPECT_EQ(ChooseWorkFolder(Inputs(false, {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/data/"}})),
            "/data/orvella/");
  // A relative XDG_DATA_HOME is not valid and falls back to HOME.
  EXPECT_EQ(ChooseWorkFolder(Inputs(false, {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "rel"}})),
            "/home/u/.local/share/orvella/");
  const std::string noHome = ChooseWorkFolder(Inputs(false, {}));
  EXPECT_EQ(noHome.rfind("/tmp/orvella-", 0), 0u);
  EXPECT_EQ(noHome.back(), '/');
}

// Installed programs never write beside themselves, even when they could (as root).
struct FolderCase {
  const char* executable;
  const char* installFolder;
  bool usesExecutableFolder;
};

class InstalledExecutable : public ::testing::TestWithParam<FolderCase> {};

TEST_P(InstalledExecutable, ChoosesThePerUserFolderForSystemFolders) {
  const FolderCase& c = GetParam();
  WorkFolderInputs in;
  in.ExecutablePath = c.executable;
  in.InstallFolder = c.installFolder;
  in.IsWritable = [](const std::string&) { return true; };
  in.Environment = [](const char* name) -> const char* {
    return std::string(name) == "HOME" ? "/home/u" : nullptr;
  };
  const std::string exe = c.executable;
  const std::string exeFolder = exe.substr(0, exe.rfind('/') + 1);
  EXPECT_EQ(ChooseWorkFolder(in),
            c.usesExecutableFolder ? exeFolder : std::string("/home/u/.local/share/orvella/"));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InstalledExecutable,
    ::testing::Values(FolderCase{"/usr/bin/orvella-host", "", false},
                      FolderCase{"/usr/local/bin/orvella-host", "", false},
                      FolderCase{"/usr/lib/flasher/flasher", "", false},
                      FolderCase{"/bin/orvella-host", "", false},
                      FolderCase{"/sbin/orvella-host", "", false},
                      FolderCase{"/opt/orvella/bin/orvella-host", "/opt/orvella/bin", false},
                      FolderCase{"/opt/orvella/bin/orvella-host", "/opt/orvella/bin/", false},
                      FolderCase{"/opt/orvella/bin/orvella-host", "/opt/other/bin", true},
                      FolderCase{"/opt/orvella/bin/sub/orvella-host", "/opt/orvella/bin", true},
                      FolderCase{"/usrdata/bin/orvella-host", "", true},
                      FolderCase{"/home/u/orvella/build/bin/orvella-host", "/usr/local/bin", true}));

TEST(WorkFolder, ThisProcessUsesItsExecutableFolder) {
  const std::string folder = orvella::WorkFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder, std::string(ORVELLA_TEST_BINARY_DIR) + "/");
}

}  // namespace
