// orvella.exe as a Windows user runs it: every spelling of a path Windows accepts, names
// outside ASCII, paths past 260 characters, an image another program holds open, a
// folder given as the image, and an output folder that takes no new files.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/RunTool.h"
#include "files/FileIO.h"
#include "files/WideText.h"
#include "support/FatVolumeFile.h"
#include "support/TestFiles.h"

namespace orvella::test {
namespace {

using platform::LongPath;
using platform::SystemMessage;

const std::vector<std::string> kMake = {"--chip-mib", "4", "--table", "BOOT:2,EFS:3,DATA:rest",
                                        "--fill", "pattern"};

// Makes every folder of `path` up to its last separator, at any length and in any script.
void MakeFoldersOf(const std::string& path) {
  const std::size_t drive = path.find(':');  // past "C:" and any "\\?\" before it
  for (std::size_t at = path.find_first_of("\\/", drive == std::string::npos ? 3 : drive + 2);
       at != std::string::npos;
       at = path.find_first_of("\\/", at + 1)) {
    const std::wstring folder = LongPath(path.substr(0, at));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr) ||
                ::GetLastError() == ERROR_ALREADY_EXISTS)
        << path.substr(0, at) << ": " << SystemMessage(::GetLastError());
  }
}

std::string ReadAll(const std::string& path) {
  File f;
  std::string error;
  std::uint64_t size = 0;
  if (!f.OpenRead(path, error) || !f.Size(size, error)) return "unreadable: " + error;
  std::string bytes(size, '\0');
  if (!f.ReadExact(bytes.data(), bytes.size(), error)) return "unreadable: " + error;
  return bytes;
}

// The lines after the first, which names the image as given.
std::string AfterFirstLine(const std::string& text) {
  const std::size_t end = text.find('\n');
  return end == std::string::npos ? std::string() : text.substr(end + 1);
}

class WindowsTool : public ::testing::Test {
 protected:
  void SetUp() override {
    base = dir.Path().string();
    reference = base + "\\reference.bin";
    std::vector<std::string> make{"mkimage", reference};
    make.insert(make.end(), kMake.begin(), kMake.end());
    ASSERT_EQ(RunTool(dir, make).exitCode, 0);
  }

  TempDir dir;
  std::string base, reference;
};

// --- Every spelling of a path ------------------------------------------------------

struct Spelling {
  const char* name;
  std::string (*path)(const std::string& base);  // the image's path in the folder `base`
};

std::string Long(const std::string& base) {
  std::string path = base;
  while (path.size() < 300) path += "\\" + std::string(60, 'L');
  return path + "\\image.bin";
}

const Spelling kSpellings[] = {
    {"DriveLetterBackslashes", [](const std::string& b) { return b + "\\image.bin"; }},
    {"ForwardSlashes",
     [](const std::string& b) {
       std::string p = b + "/sub/image.bin";
       for (char& c : p)
         if (c == '\\') c = '/';
       return p;
     }},
    {"DotDotAndDoubledSeparators", [](const std::string& b) { return b + "\\x\\..\\\\image.bin"; }},
    {"ExtendedLengthPrefix", [](const std::string& b) { return "\\\\?\\" + b + "\\image.bin"; }},
    {"DeviceNamespace", [](const std::string& b) { return "\\\\.\\" + b + "\\image.bin"; }},
    {"Cyrillic", [](const std::string& b) { return b + "\\Дампы\\телефон образ.bin"; }},
    {"Cjk", [](const std::string& b) { return b + "\\镜像\\闪存 转储.bin"; }},
    {"LongerThan260", Long},
};

class PathSpelling : public WindowsTool, public ::testing::WithParamInterface<Spelling> {};

// Made, listed, saved, exported and hashed through that spelling, the image gives the
// same results as the plain one.
TEST_P(PathSpelling, EveryCommandTakesIt) {
  const std::string image = GetParam().path(base);
  ASSERT_NO_FATAL_FAILURE(MakeFoldersOf(image));
  std::vector<std::string> make{"mkimage", image};
  make.insert(make.end(), kMake.begin(), kMake.end());
  const ToolResult made = RunTool(dir, make);
  ASSERT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(ReadAll(image), ReadAll(reference));

  const ToolResult list = RunTool(dir, {"list", image}), plain = RunTool(dir, {"list", reference});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(list.out, plain.out);

  const std::string copy = image + ".copy";
  const ToolResult saved = RunTool(dir, {"save-image", image, copy});
  EXPECT_EQ(saved.exitCode, 0) << saved.err;
  EXPECT_EQ(ReadAll(copy), ReadAll(reference));

  const std::string prefix = image.substr(0, image.find_last_of("\\/") + 1) + "часть";
  const ToolResult exported =
      RunTool(dir, {"export", image, "--mode", "main", "--row", "2", "--prefix", prefix});
  EXPECT_EQ(exported.exitCode, 0) << exported.err << exported.out;
  bool found = false;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((LongPath(prefix) + L"*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    found = true;
    ::FindClose(search);
  }
  EXPECT_TRUE(found) << "no file starts with " << prefix;

  const ToolResult hash = RunTool(dir, {"hash", image, "--algo", "md5,sha256"});
  const ToolResult plainHash = RunTool(dir, {"hash", reference, "--algo", "md5,sha256"});
  EXPECT_EQ(hash.exitCode, 0) << hash.err;
  EXPECT_EQ(AfterFirstLine(hash.out), AfterFirstLine(plainHash.out));
  EXPECT_NE(hash.out.find("image " + image + "\n"), std::string::npos) << hash.out;
}

INSTANTIATE_TEST_SUITE_P(Paths, PathSpelling, ::testing::ValuesIn(kSpellings),
                         [](const auto& p) { return std::string(p.param.name); });

// UNC names cannot be reached without a server; their long form is checked on its own.
TEST(LongPathForm, TurnsEveryAbsoluteSpellingIntoTheExtendedForm) {
  EXPECT_EQ(LongPath("\\\\server\\share\\dumps\\a.bin"), L"\\\\?\\UNC\\server\\share\\dumps\\a.bin");
  EXPECT_EQ(LongPath("//server/share/dumps/../a.bin"), L"\\\\?\\UNC\\server\\share\\a.bin");
  EXPECT_EQ(LongPath("C:/dumps/./x/../a.bin"), L"\\\\?\\C:\\dumps\\a.bin");
  EXPECT_EQ(LongPath("\\\\?\\C:\\keep/as/given"), L"\\\\?\\C:\\keep/as/given");
  EXPECT_EQ(LongPath("NUL"), L"\\\\.\\NUL");
  EXPECT_EQ(LongPath("D:\\Дамп.bin"), L"\\\\?\\D:\\\u0414\u0430\u043c\u043f.bin");
  EXPECT_EQ(LongPath("\xE9t\xE9.bin"), L"");  // not UTF-8
}

// --- An image another program holds open ------------------------------------------

struct Holder {
  const char* name;
  DWORD access;
  DWORD share;
  bool readable;  // whether the tool can still read the image
};

const Holder kHolders[] = {
    {"ViewerSharingEverything", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
    {"ReaderSharingReadsOnly", GENERIC_READ, FILE_SHARE_READ, true},
    {"WriterSharingReads", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, true},
    {"Exclusive", GENERIC_READ, 0, false},
};

class HeldOpen : public WindowsTool, public ::testing::WithParamInterface<Holder> {};

TEST_P(HeldOpen, TheToolReadsItWhereverTheHolderSharesReading) {
  const Holder& h = GetParam();
  const HANDLE held = ::CreateFileW(LongPath(reference).c_str(), h.access, h.share, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE) << SystemMessage(::GetLastError());
  const std::string copy = base + "\\copy.bin";
  const ToolResult list = RunTool(dir, {"list", reference});
  const ToolResult hash = RunTool(dir, {"hash", reference});
  const ToolResult saved = RunTool(dir, {"save-image", reference, copy});
  ::CloseHandle(held);

  if (h.readable) {
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_EQ(hash.exitCode, 0) << hash.err;
    EXPECT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(ReadAll(copy), ReadAll(reference));
  } else {
    const std::string why = SystemMessage(ERROR_SHARING_VIOLATION);
    for (const ToolResult* r : {&list, &hash, &saved}) {
      EXPECT_EQ(r->exitCode, 1) << r->out << r->err;
      EXPECT_NE(r->err.find("cannot open for reading \"" + reference + "\": " + why),
                std::string::npos)
          << r->err;
    }
    EXPECT_FALSE(FileExists(copy));
  }
}

INSTANTIATE_TEST_SUITE_P(Holders, HeldOpen, ::testing::ValuesIn(kHolders),
                         [](const auto& p) { return std::string(p.param.name); });

// --- A folder given as the image ----------------------------------------------------

struct FolderCase {
  const char* name;
  std::vector<std::string> args;  // "F" stands for the folder
  int exitCode;
  const char* says;  // on standard error
};

class FolderAsImage : public WindowsTool, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(FolderAsImage, IsRefusedWithTheReason) {
  const std::string folder = base + "\\dumps";
  ASSERT_TRUE(::CreateDirectoryW(LongPath(folder).c_str(), nullptr));
  std::vector<std::string> args;
  for (const std::string& a : GetParam().args) args.push_back(a == "F" ? folder : a == "R" ? reference : a);
  const ToolResult r = RunTool(dir, args);
  EXPECT_EQ(r.exitCode, GetParam().exitCode) << r.out << r.err;
  EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
}

const FolderCase kFolderCases[] = {
    {"Blank", {"blank", "F"}, 1, "ERROR: Specified file does not exist!!!"},
    {"SaveImage", {"save-image", "F", "out.bin"}, 1, "ERROR: Specified file does not exist!!!"},
    {"Hash", {"hash", "F"}, 1, "it is a folder"},
    {"Diff", {"diff", "R", "F"}, 2, "it is a folder"},
    {"Report", {"report", "F", "-o", "r.html"}, 1, "it is a folder"},
    {"SaveImageOntoAFolder", {"save-image", "R", "F"}, 1, "it is a folder"},
};

INSTANTIATE_TEST_SUITE_P(Commands, FolderAsImage, ::testing::ValuesIn(kFolderCases),
                         [](const auto& p) { return std::string(p.param.name); });

// --- An output folder that takes no new files ---------------------------------------

// A folder where creating a file fails: under Wine the Linux host's sysfs (read-only even
// to root); empty when this system has none.
std::string ReadOnlyFolder() {
  for (const char* candidate : {"Z:\\sys\\kernel", "Z:\\proc\\self"}) {
    const std::string probe = std::string(candidate) + "\\orvella-probe.bin";
    const HANDLE h = ::CreateFileW(LongPath(probe).c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (::GetFileAttributesW(LongPath(candidate).c_str()) != INVALID_FILE_ATTRIBUTES)
        return candidate;
      continue;
    }
    ::CloseHandle(h);
    ::DeleteFileW(LongPath(probe).c_str());
  }
  return {};
}

TEST_F(WindowsTool, AReadOnlyOutputFolderFailsEveryWritingCommandAndNamesTheFile) {
  const std::string folder = ReadOnlyFolder();
  if (folder.empty()) GTEST_SKIP() << "no folder here refuses new files";
  const std::vector<std::vector<std::string>> commands = {
      {"save-image", reference, folder + "\\copy.bin"},
      {"export", reference, "--mode", "full", "--all", "--prefix", folder + "\\part"},
      {"report", reference, "-o", folder + "\\report.html"},
      {"mkimage", folder + "\\new.bin", "--chip-mib", "1", "--table", "A:1"},
  };
  for (const auto& args : commands) {
    const ToolResult r = RunTool(dir, args);
    EXPECT_EQ(r.exitCode, 1) << args[0] << ": " << r.out << r.err;
    EXPECT_NE(r.err.find("I/O error: cannot create \"" + folder + "\\"), std::string::npos)
        << args[0] << ": " << r.err;
  }
  EXPECT_EQ(ReadAll(reference).size(), 4u * 1024 * 1024 + 128 * 1024) << "the image was touched";
}

}  // namespace
}  // namespace orvella::test

namespace orvella::test {
namespace {

// --- Partition names a Windows file name cannot hold ---------------------------------

class NameCharacter : public WindowsTool, public ::testing::WithParamInterface<const char*> {};

// ":" would write a stream of another file; the others fail or land in another folder.
// The export stops at that partition, the ones before it are written, nothing else is.
TEST_P(NameCharacter, IsRefusedBeforeAnythingIsCreated) {
  const std::string image = base + "\\names.bin";
  const std::string name = std::string("A") + GetParam() + "B";
  std::string error;
  ASSERT_TRUE(WriteFullImage(image, ImageSpec{4, {{"FIRST", 2}, {name, 2}, {"LAST", 0}}, ImageFill::Pattern}, error))
      << error;
  const std::string out = base + "\\out";
  ASSERT_TRUE(::CreateDirectoryW(LongPath(out).c_str(), nullptr));
  const ToolResult r = RunTool(dir, {"export", image, "--mode", "main", "--all", "--prefix", out + "\\p"});
  EXPECT_EQ(r.exitCode, 1) << r.out;
  const std::string shown = GetParam()[0] < 0x20 ? "U+0009" : std::string("\"") + GetParam() + "\"";
  EXPECT_NE(r.err.find("contains " + shown + ", which a file name cannot hold"), std::string::npos)
      << r.err;
  std::vector<std::string> written;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((LongPath(out) + L"\\*").c_str(), &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    const std::string file = platform::Narrow(entry.cFileName);
    if (file != "." && file != "..") written.push_back(file);
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  ASSERT_EQ(written.size(), 1u) << "more than the partition before it was written";
  EXPECT_NE(written[0].find("FIRST"), std::string::npos) << written[0];
}

INSTANTIATE_TEST_SUITE_P(Characters, NameCharacter,
                         ::testing::Values(":", "*", "?", "\"", "<", ">", "|", "\\", "\t"),
                         [](const auto& p) { return std::to_string(p.index); });

}  // namespace
}  // namespace orvella::test

namespace orvella::test {
namespace {

// --- Names in a volume that a Windows file name cannot hold ---------------------------

// Each is refused with Windows' reason and nothing is made for it; names outside ASCII
// are extracted, and every file gets the time its entry holds.
TEST(ExtractNames, WindowsCannotHoldAreRefusedWithTheReason) {
  TempDir dir;
  const std::string volume = dir.File("volume.img");
  const std::vector<FatVolumeEntry> entries = {
      {u"ab:c.txt", 10}, {u"q?.txt", 10}, {u"trail.", 10}, {u"space ", 10}, {u"ok.txt", 3000}, {u"\u0444\u0430\u0439\u043b.bin", 70}};
  ASSERT_TRUE(WriteFatVolume(volume, entries));
  const std::string out = dir.File("out");
  const ToolResult r = RunTool(dir, {"extract", volume, "-o", out});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  for (const char* why : {"\"/ab:c.txt\" not extracted: its name is refused: it holds \":\", which Windows does not allow",
                          "\"/q?.txt\" not extracted: its name is refused: it holds \"?\"",
                          "\"/trail.\" not extracted: its name is refused: it ends with \".\", which Windows drops",
                          "\"/space \" not extracted: its name is refused: it ends with a space"})
    EXPECT_NE(r.err.find(why), std::string::npos) << why << "\n" << r.err;
  std::vector<std::string> written;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW((LongPath(out) + L"\\*").c_str(), &entry);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    const std::string file = platform::Narrow(entry.cFileName);
    if (file != "." && file != "..") written.push_back(file);
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"ok.txt", "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.bin"}));
  const std::string ok = ReadAll(out + "\\ok.txt");
  ASSERT_EQ(ok.size(), 3000u);
  for (std::size_t i = 0; i < ok.size(); ++i) ASSERT_EQ(static_cast<std::uint8_t>(ok[i]), FatVolumeByte(4, i)) << i;
  // 2024-03-15 13:45:08, taken as UTC, in 100 ns from 1601.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(::GetFileAttributesExW(LongPath(out + "\\ok.txt").c_str(), GetFileExInfoStandard, &data));
  const std::uint64_t ticks = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(ticks, (1710510308ull + 11644473600ull) * 10000000ull);
}

}  // namespace
}  // namespace orvella::test
