#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "contract/WorkFolder.h"

namespace {

using orvella::ChooseWorkFolder;
using orvella::WorkFolderInputs;

using Env = std::map<std::string, std::string>;

std::function<const char*(const char*)> EnvironmentOf(Env env) {
  auto shared = std::make_shared<Env>(std::move(env));
  return [shared](const char* name) -> const char* {
    auto it = shared->find(name);
    return it == shared->end() ? nullptr : it->second.c_str();
  };
}

#ifndef _WIN32

WorkFolderInputs Inputs(bool writable, Env env) {
  WorkFolderInputs in;
  in.ExecutablePath = "/opt/host/bin/flasher";
  in.IsWritable = [writable](const std::string& folder) {
    EXPECT_EQ(folder, "/opt/host/bin/");
    return writable;
  };
  in.Environment = EnvironmentOf(std::move(env));
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

#else

// Windows paths: either separator, the program folders from the environment, the
// per-user folder under %LOCALAPPDATA%.
struct WindowsCase {
  const char* executable;
  bool writable;
  Env env;
  std::string expected;
};

class WindowsFolders : public ::testing::TestWithParam<WindowsCase> {};

TEST_P(WindowsFolders, ChoosesAsOnPosix) {
  const WindowsCase& c = GetParam();
  WorkFolderInputs in;
  in.ExecutablePath = c.executable;
  in.IsWritable = [&c](const std::string&) { return c.writable; };
  in.Environment = EnvironmentOf(c.env);
  EXPECT_EQ(ChooseWorkFolder(in), c.expected);
}

const Env kLocal = {{"LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local"}, {"TEMP", "C:\\Temp"}};

INSTANTIATE_TEST_SUITE_P(
    Paths, WindowsFolders,
    ::testing::Values(
        WindowsCase{"C:\\tools\\flasher\\flasher.exe", true, kLocal, "C:\\tools\\flasher\\"},
        WindowsCase{"C:/tools/flasher.exe", true, kLocal, "C:/tools/"},
        WindowsCase{"C:\\tools\\flasher.exe", false, kLocal,
                    "C:\\Users\\u\\AppData\\Local\\orvella\\"},
        WindowsCase{"C:\\tools\\flasher.exe", false, {{"LOCALAPPDATA", "rel"}, {"TEMP", "D:\\t\\"}},
                    "D:\\t\\orvella\\"},
        WindowsCase{"\\\\server\\share\\flasher.exe", true, kLocal, "\\\\server\\share\\"}));

// Installed programs never write beside themselves, in whatever case the path is spelled.
TEST(WorkFolder, ProgramFoldersUseThePerUserFolder) {
  const char* programs = std::getenv("ProgramFiles");
  if (programs == nullptr) GTEST_SKIP() << "no %ProgramFiles% here";
  std::string exe = std::string(programs) + "\\Orvella\\orvella-host.exe";
  for (char& ch : exe)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  WorkFolderInputs in;
  in.ExecutablePath = exe;
  in.IsWritable = [](const std::string&) { return true; };
  in.Environment = EnvironmentOf(kLocal);
  EXPECT_EQ(ChooseWorkFolder(in), "C:\\Users\\u\\AppData\\Local\\orvella\\");
  EXPECT_TRUE(orvella::IsSystemFolder(programs, ""));
}

TEST(WorkFolder, ThisProcessGetsAWritableFolder) {
  const std::string folder = orvella::WorkFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  const std::string probe = folder + "workfolder-test.tmp";
  {
    std::ofstream out(probe);
    EXPECT_TRUE(out.good()) << probe;
  }
  std::remove(probe.c_str());
}

#endif

}  // namespace
