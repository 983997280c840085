#include <map>
#include <string>

#include <gtest/gtest.h>

#include "plugin/WorkFolder.h"

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

TEST(WorkFolder, ThisProcessUsesItsExecutableFolder) {
  const std::string folder = orvella::WorkFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder, std::string(ORVELLA_TEST_BINARY_DIR) + "/");
}

}  // namespace
