#pragma once
// Writes an STL volume into a partition's units as the phone's format and its later
// writes leave it: a freshly formatted volume holding given bytes, then rewrites of
// logical pages through log blocks (no merges), so that several copies of a page exist
// and only the newest counts. Used to make dumps and to test the reader.

#include <cstdint>
#include <string>
#include <vector>

#include "phone/PageSource.h"
#include "phone/StlFormat.h"

namespace orvella::phone {

struct StlWriteOptions {
  StlHeaderLayout Layout;          // of the directory header(s) written
  std::uint32_t RewritePages = 0;  // logical pages rewritten through log blocks
  std::uint64_t Seed = 1;          // picks the blocks, pages and new contents
  // The last write request of each rewritten block goes to its log after the stored
  // mapping, so the reader finds it only by replaying the log.
  bool Replay = true;
  // The last log then gets a few pages of a request that never ended (no END page).
  bool InterruptedTail = true;
  // Half-way through the stores the header moves to the next meta block, whose
  // directory header then points back at the tables in the first one.
  bool HeaderSwitch = false;
};

enum class StlPageKind : std::uint8_t {
  Root,
  DirHeader,
  BmtCtx,
  CtxPmt,
  LogRecorded,  // a log page the stored mapping covers
  LogReplayed,  // a log page after it, in a request that ended
  LogTail,      // a page of the request that never ended
};

// A page the writer programmed (data pages of the format are not listed).
struct StlWrittenPage {
  StlPageKind Kind = StlPageKind::Root;
  std::uint32_t Vbn = 0;
  std::uint32_t Page = 0;
  // Log pages: the logical page they hold. CTX+PMT pages: the logical block whose
  // log group they store first.
  std::uint32_t Lpn = 0;
  std::uint32_t Lbn = 0;
};

struct StlWriteResult {
  StlGeometry Geometry;
  std::vector<StlWrittenPage> Pages;  // in write order
  std::uint32_t RewrittenBlocks = 0;
};

// Checks, before anything is written, that `units` units can hold a volume of
// `contentBytes` bytes of contents written with `options`, and gives its geometry; false
// with `error` naming what does not fit (the contents, the header layout, the rewrites).
bool CheckStlWrite(std::uint32_t units, std::uint64_t contentBytes, const StlWriteOptions& options,
                   StlGeometry& geometry, std::string& error);

// Formats the sink's units as a volume holding `volume`'s bytes as its logical sectors,
// then applies the rewrites. On return `volume` holds the bytes a reader must give: the
// whole volume (D x 256 KiB), 0xFF where nothing was written, the newest committed copy
// of every rewritten page. False with `error` when the contents do not fit, the options
// cannot be met, or the sink fails.
bool WriteStlVolume(PageSink& sink, std::vector<std::uint8_t>& volume, const StlWriteOptions& options,
                    StlWriteResult& result, std::string& error);

}  // namespace orvella::phone
