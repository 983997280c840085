#pragma once
// The files of a FAT volume copied out into a folder with their folders and modification
// times, for `orvella extract` and the window's "Extract Files...". Never writes outside
// the folder: every name is checked before a file or folder is made from it, nothing is
// written through a link, and an existing file is replaced only when asked. Each file is
// written under a temporary name and takes its own once complete.

#include <cstdint>
#include <string>
#include <vector>

#include "fat/Volume.h"

namespace orvella::phone {

struct ExtractRequest {
  std::string Folder;              // made when missing; its parent must exist
  std::vector<std::string> Paths;  // volume paths ("/a/b"); every file when empty
  bool Replace = false;            // existing files may be replaced
  std::string ReplaceHint;         // follows the reason a file is not replaced
  std::vector<std::string> Inputs; // files being read, never written
#ifdef _WIN32
  bool WindowsNames = true;        // names Windows cannot hold are refused
#else
  bool WindowsNames = false;
#endif
};

// What an extraction tells as it goes.
class ExtractReporter {
 public:
  virtual ~ExtractReporter() = default;
  // A file written complete at `path`.
  virtual void Extracted(const fat::Entry& entry, const std::string& path) = 0;
  // A line on what was not extracted, skipped or found.
  virtual void Note(const std::string& text) = 0;
  // Bytes of files written so far, after each chunk.
  virtual void Progress(std::uint64_t bytes) { (void)bytes; }
  // Polled between chunks; true stops the extraction.
  virtual bool Stop() { return false; }
};

struct ExtractTotals {
  std::uint64_t Files = 0, Folders = 0, Bytes = 0, Failed = 0, Skipped = 0;
  bool Stopped = false;
  bool NoFolder = false;  // the folder could not be made or is no folder: nothing was done
};

ExtractTotals ExtractFiles(fat::Volume& volume, const ExtractRequest& request, ExtractReporter& reporter);

// "extracted 3 files (N bytes) and 1 new folder into "DIR"[; ...]".
std::string ExtractTotalText(const ExtractTotals& totals, const std::string& folder);

}  // namespace orvella::phone
