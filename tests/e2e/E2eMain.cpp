// The plug-in and the host share one QApplication made here; settings go to a private
// folder so no test reads or writes the real user's.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
  std::string root = (std::filesystem::temp_directory_path() / "orvella-e2e-XXXXXX").string();
  if (::mkdtemp(root.data()) == nullptr) return 1;
  ::setenv("HOME", root.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  int result = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return result;
}
