#pragma once
// Shared fixture of the export and blank-check suites: a temporary folder, images
// built in code, and file helpers.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/FileIO.h"
#include "image/FullImage.h"
#include "image/ImageBuilder.h"
#include "image/RecordingPort.h"

namespace orvella::test {

constexpr std::uint32_t kBS = kBlockSize;
constexpr std::uint32_t kRest = 0xFFFFFFFFu;

inline std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAt(const std::string& path, std::uint64_t offset,
                    const std::vector<std::uint8_t>& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A port that notes, when an error box opens, whether any of our files is still open.
class FdWatchingPort : public RecordingPort {
 public:
  std::vector<std::string> watched;
  std::vector<std::string> openAtErrorBox;
  void ErrorBox(const std::string& text) override {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const auto target = std::filesystem::read_symlink(entry.path(), ec);
      for (const auto& w : watched)
        if (!ec && target == std::filesystem::weakly_canonical(w)) openAtErrorBox.push_back(w);
    }
    RecordingPort::ErrorBox(text);
  }
};

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/orvella-export-XXXXXX";
    ASSERT_NE(::mkdtemp(templ), nullptr);
    dir = templ;
    FileFaults::Disarm();
  }
  void TearDown() override {
    FileFaults::Disarm();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::string Path(const std::string& name) const { return dir + "/" + name; }

  // True when data[at, at + length) holds the image's bytes from file offset `from` on:
  // the Pattern fill, with the partition table over the start of block 1.
  ::testing::AssertionResult HoldsPattern(const std::vector<std::uint8_t>& data, std::size_t at,
                                          std::size_t length, std::uint64_t from) const {
    if (at + length > data.size())
      return ::testing::AssertionFailure() << "file too short: " << data.size();
    for (std::size_t i = 0; i < length; ++i) {
      const std::uint64_t o = from + i;
      const bool inTable = o >= kBlockSize && o - kBlockSize < pit.size();
      const std::uint8_t want = inTable ? pit[o - kBlockSize] : PatternByte(o);
      if (data[at + i] != want)
        return ::testing::AssertionFailure() << "byte " << at + i << " differs";
    }
    return ::testing::AssertionSuccess();
  }

  // Writes an image of `chipMiB` MiB of main data and loads it into `model`.
  void Make(const std::vector<PartitionSpec>& table, ImageFill fill, std::uint32_t chipMiB = 4,
            const std::string& name = "image.bin") {
    image = Path(name);
    pit = BuildPitTable(table);
    std::string error;
    ASSERT_TRUE(WriteFullImage(image, ImageSpec{chipMiB, table, fill}, error)) << error;
    Load();
  }
  void Load() {
    RecordingPort loadPort;
    ASSERT_TRUE(model.LoadImageFileAndProcessIt(image, loadPort));
    loadLog = loadPort.Log;
  }

  std::string dir;
  std::string image;
  ImageModel model;
  RecordingPort port;
  std::vector<std::string> loadLog;
  std::vector<std::uint8_t> pit;
};

}  // namespace orvella::test
