// The STL volume reader over a small volume the writer made, with the fuzzer's bytes
// written over its root, meta and log pages: any structure may be damaged, replaced by
// random bytes or made to claim anything. The reader must refuse with a reason or
// rebuild a volume of exactly its stated size; it must never crash or read outside
// the partition.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "phone/StlReader.h"
#include "phone/StlWriter.h"

namespace {

using namespace orvella::phone;

class Units : public PageSource, public PageSink {
 public:
  explicit Units(std::uint32_t n)
      : n_(n), main_(std::size_t{n} * kPagesPerBlock * kPageMainBytes, 0xFF),
        spare_(std::size_t{n} * kPagesPerBlock * kPageSpareBytes, 0xFF) {}
  std::uint32_t Blocks() const override { return n_; }
  bool ReadPage(std::uint32_t b, std::uint32_t p, std::uint8_t* m, std::uint8_t* s, std::string& e) override {
    if (b >= n_ || p >= kPagesPerBlock) {
      e = "outside";
      std::abort();  // the reader must never ask for a page outside the partition
    }
    if (m) std::memcpy(m, Main(b, p), kPageMainBytes);
    if (s) std::memcpy(s, Spare(b, p), kPageSpareBytes);
    return true;
  }
  bool WritePage(std::uint32_t b, std::uint32_t p, const std::uint8_t* m, const std::uint8_t* s, std::string&) override {
    std::memcpy(Main(b, p), m, kPageMainBytes);
    std::memcpy(Spare(b, p), s, kPageSpareBytes);
    return true;
  }
  std::uint8_t* Main(std::uint32_t b, std::uint32_t p) { return &main_[(std::size_t{b} * kPagesPerBlock + p) * kPageMainBytes]; }
  std::uint8_t* Spare(std::uint32_t b, std::uint32_t p) { return &spare_[(std::size_t{b} * kPagesPerBlock + p) * kPageSpareBytes]; }

 private:
  std::uint32_t n_;
  std::vector<std::uint8_t> main_, spare_;
};

struct Made {
  Units U;
  std::vector<StlWrittenPage> Pages;
  std::uint32_t MetaBlocks = 0;
  explicit Made(std::uint32_t n) : U(n) {}
};

// Four volumes: fresh or rewritten, older or newer header layout, header switched or not.
Made& Volume(unsigned which) {
  static std::map<unsigned, std::unique_ptr<Made>> made;
  auto it = made.find(which);
  if (it != made.end()) return *it->second;
  const std::uint32_t units = (which & 1) ? 40 : 24;
  auto m = std::make_unique<Made>(units);
  StlWriteOptions o;
  o.RewritePages = (which & 2) ? 60 : 0;
  o.HeaderSwitch = (which & 2) != 0;
  if (which & 1) o.Layout = StlHeaderLayout{false, 25, 0, 1, false};
  o.Seed = which + 1;
  std::vector<std::uint8_t> contents(3 * kBlockMainBytes + 777, 0x3C);
  StlWriteResult r;
  std::string error;
  if (!WriteStlVolume(m->U, contents, o, r, error)) std::abort();
  m->Pages = r.Pages;
  m->MetaBlocks = r.Geometry.MetaBlocks;
  Made& ref = *m;
  made[which] = std::move(m);
  return ref;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Made& pristine = Volume(data[0] & 3);
  Units& u = pristine.U;
  // The edits are undone afterwards, so the volume is never copied.
  struct Undo {
    std::uint8_t* At;
    std::uint8_t Was;
  };
  std::vector<Undo> undo;
  std::size_t at = 1;
  // Edits: {target, index, offset u16, length, bytes}. Targets: a written structure or
  // log page, a page of a root or meta block, main or spare, overwritten or XORed.
  while (at + 5 <= size) {
    const std::uint8_t target = data[at], index = data[at + 1];
    const std::uint32_t offset = data[at + 2] | data[at + 3] << 8;
    const std::uint32_t length = data[at + 4];
    at += 5;
    std::uint32_t vbn, page;
    if ((target & 3) == 0 && !pristine.Pages.empty()) {
      const StlWrittenPage& p = pristine.Pages[index % pristine.Pages.size()];
      vbn = p.Vbn;
      page = p.Page;
    } else {
      vbn = (target >> 2) % (2 + pristine.MetaBlocks);
      page = index % kPagesPerBlock;
    }
    const bool spare = target & 0x40;
    const bool xorIn = target & 0x80;
    std::uint8_t* base = spare ? u.Spare(vbn, page) : u.Main(vbn, page);
    const std::uint32_t limit = spare ? kPageSpareBytes : kPageMainBytes;
    for (std::uint32_t k = 0; k < length && at < size; ++k, ++at) {
      std::uint8_t& b = base[(offset + k) % limit];
      undo.push_back({&b, b});
      b = xorIn ? static_cast<std::uint8_t>(b ^ data[at]) : data[at];
    }
  }
  StlVolume v(u);
  if (!v.Open()) {
    if (v.Report().Refusal.empty() || v.Report().Rebuilt) std::abort();
  } else {
    std::uint64_t total = 0;
    std::string error;
    const bool ok = v.Emit([&](const std::uint8_t*, std::size_t n, std::string&) { total += n; return true; }, error);
    if (!ok || total != v.Bytes() || v.Bytes() == 0) std::abort();
  }
  for (auto it = undo.rbegin(); it != undo.rend(); ++it) *it->At = it->Was;
  return 0;
}
