#include "ConfigHome.h"

#include <QStandardPaths>
#include <QString>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace orvella::test {

namespace {

std::filesystem::path g_root;
int g_homes = 0;

void SetConfigHome(const std::filesystem::path& dir) {
  ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  const std::string actual =
      QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
  // Anything else would let a test write into the real user's settings.
  if (std::filesystem::path(actual) != dir) {
    std::fprintf(stderr, "config folder is %s, not the test folder %s\n", actual.c_str(),
                 dir.c_str());
    std::abort();
  }
}

}  // namespace

const std::filesystem::path& TestRoot() { return g_root; }

std::filesystem::path FreshConfigHome() {
  const std::filesystem::path dir = g_root / ("config" + std::to_string(++g_homes));
  std::filesystem::create_directories(dir);
  SetConfigHome(dir);
  return dir;
}

std::string FileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

}  // namespace orvella::test

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "orvella-settings-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  orvella::test::g_root = fs::path(pattern);
  const fs::path home = orvella::test::g_root / "home";
  fs::create_directories(home);
  ::setenv("HOME", home.c_str(), 1);
  orvella::test::FreshConfigHome();

  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  std::error_code ignored;
  fs::remove_all(orvella::test::g_root, ignored);
  return result;
}
