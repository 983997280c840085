#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/PluginPath.h"

namespace {

using orvella::DefaultPluginCandidates;
using orvella::FindDefaultPlugin;

TEST(PluginPath, InstalledHostFindsTheInstalledPlugin) {
  // An executable in the configured bin folder maps onto the configured library folder.
  const std::vector<std::string> c = DefaultPluginCandidates(ORVELLA_TEST_BINDIR "/");
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0], ORVELLA_TEST_BINDIR "/liborvella.so");
  EXPECT_EQ(c[1], ORVELLA_TEST_LIBDIR "/orvella/liborvella.so");
}

TEST(PluginPath, InstallIsRelocatable) {
  const std::string root = "/tmp/unpacked/root";
  const std::vector<std::string> c = DefaultPluginCandidates(root + ORVELLA_TEST_BINDIR "/");
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[1], root + ORVELLA_TEST_LIBDIR "/orvella/liborvella.so");
}

struct LookupCase {
  bool beside;
  bool installed;
  int expected;  // index into the candidates, -1 for none
};

class PluginLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(PluginLookup, BesideTheExecutableComesFirst) {
  const std::string exeFolder = "/opt/o/bin/";
  const std::vector<std::string> c = DefaultPluginCandidates(exeFolder);
  std::vector<std::string> asked;
  const std::string found = FindDefaultPlugin(exeFolder, [&](const std::string& path) {
    asked.push_back(path);
    return (path == c[0] && GetParam().beside) || (path == c[1] && GetParam().installed);
  });
  EXPECT_EQ(found, GetParam().expected < 0 ? std::string() : c[GetParam().expected]);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked[0], c[0]);
}

INSTANTIATE_TEST_SUITE_P(Presence, PluginLookup,
                         ::testing::Values(LookupCase{true, true, 0}, LookupCase{true, false, 0},
                                           LookupCase{false, true, 1},
                                           LookupCase{false, false, -1}));

}  // namespace
