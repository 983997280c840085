#include "host/VirtualPhone.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>
#include <thread>

#include "digest/Digest.h"
#include "files/FileIO.h"
#include "nand/SpareLayout.h"
#include "phone/BmlView.h"
#include "phone/ImagePages.h"
#include "phone/StlWriter.h"

namespace orvella {

namespace {

constexpr std::uint32_t kSpareDivisor = 32;
// The default phone's EFS volume: a FAT12 file system of 2 MiB holding a 128 KiB
// nv_data.bin.
constexpr std::uint32_t kDefaultVolumeSectors = 4096;
constexpr std::size_t kDefaultNvDataBytes = 128 * 1024;

std::string Hex8(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// One chunked transfer: moves the gauge, keeps the log line and status text current,
// lets window messages run, holds the speed limit and watches the stop flag.
class Transfer {
 public:
  using Step = std::function<bool(std::uint32_t done, std::uint32_t n, std::string& error)>;

  Transfer(std::string verb, std::uint32_t address, std::uint32_t length, WindowPort& port,
           const std::uint8_t* stop, std::uint64_t bytesPerSecond)
      : verb_(std::move(verb)), address_(address), length_(length), port_(port), stop_(stop),
        bytesPerSecond_(bytesPerSecond),
        line_(verb_ + " " + Hex8(length) + " bytes at " + Hex8(address)) {}

  // failMidway: the phone stops answering half-way through the range.
  bool Run(const Step& step, bool failMidway) {
    port_.LogAdd(line_ + "...");
    const auto start = std::chrono::steady_clock::now();
    std::uint64_t moved = 0;
    std::uint32_t done = 0;
    if (length_ == 0 && failMidway) return Fail("The phone did not answer at " + Hex8(address_) + ".");
    while (done < length_) {
      if (Stopped()) return Fail("Stopped by user at " + Hex8(address_ + done) + ".");
      const std::uint32_t n = std::min(kPhoneChunk, length_ - done);
      // At half of the range, or at the last chunk of a short one: some data may move.
      if (failMidway && (std::uint64_t{done} * 2 >= length_ || done + n == length_))
        return Fail("The phone did not answer at " + Hex8(address_ + done) + ".");
      std::string error;
      if (!step(done, n, error)) return Fail(error);
      done += n;
      moved += n + n / kSpareDivisor;
      AdvanceGauge(n + n / kSpareDivisor);
      const std::string percent =
          std::to_string(std::uint64_t{done} * 100 / length_) + "%";
      port_.LogReplaceLast(line_ + ": " + percent);
      port_.SetStatusText(0, verb_ + ": " + percent);
      port_.ProcessMessages();
      HoldSpeedLimit(start, moved);
    }
    port_.LogReplaceLast(line_ + ": done.");
    port_.SetStatusText(0, verb_ + ": done.");
    return true;
  }

 private:
  bool Stopped() const { return stop_ && *stop_ != 0; }

  bool Fail(const std::string& why) {
    port_.LogAdd("ERROR: " + verb_ + " failed. " + why);
    port_.SetStatusText(0, verb_ + " failed.");
    return false;
  }

  void AdvanceGauge(std::uint64_t n) {
    const std::int64_t max = port_.GaugeMax();
    if (max <= 0) return;
    port_.GaugeSetPos(std::min<std::int64_t>(max, port_.GaugePos() + static_cast<std::int64_t>(n)));
  }

  // Sleeps in short slices so that window messages and a stop press still get through.
  void HoldSpeedLimit(std::chrono::steady_clock::time_point start, std::uint64_t moved) {
    if (bytesPerSecond_ == 0) return;
    const auto due = start + std::chrono::microseconds(moved * 1000000 / bytesPerSecond_);
    while (!Stopped()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= due) break;
      std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
          due - now, std::chrono::milliseconds(10)));
      port_.ProcessMessages();
    }
  }

  std::string verb_;
  std::uint32_t address_;
  std::uint32_t length_;
  WindowPort& port_;
  const std::uint8_t* stop_;
  std::uint64_t bytesPerSecond_;
  std::string line_;
};

PhoneRequest MakeRequest(PhoneService service, std::uint32_t address = 0, std::uint32_t length = 0,
                         const WindowPort* port = nullptr) {
  PhoneRequest r;
  r.Service = service;
  r.Address = address;
  r.Length = length;
  if (port) r.GaugeMax = port->GaugeMax();
  return r;
}

bool ValidTag(const std::string& tag) {
  if (tag.empty() || tag.size() > 16) return false;
  return std::all_of(tag.begin(), tag.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

void ApplyDataFileFault(DataFileFault fault, const std::string& mainPath,
                        const std::string& sparePath, std::uint32_t length) {
  std::error_code ec;
  switch (fault) {
    case DataFileFault::None: break;
    case DataFileFault::MainMissing: std::filesystem::remove(mainPath, ec); break;
    case DataFileFault::SpareMissing: std::filesystem::remove(sparePath, ec); break;
    case DataFileFault::MainShort: std::filesystem::resize_file(mainPath, length / 2, ec); break;
    case DataFileFault::SpareShort:
      std::filesystem::resize_file(sparePath, length / kSpareDivisor / 2, ec);
      break;
  }
}

// Closes a written file; a delayed write error fails the service.
bool CloseWritten(File& file, const char* what, WindowPort& port) {
  std::string error;
  if (file.Close(error)) return true;
  port.LogAdd(std::string("ERROR: ") + what + " failed. " + error);
  return false;
}

// Writes the default volume into its partition of the erased chip at `path` as the
// phone's driver programs it: the volume's pages with their codes in the phone's ECC
// layout, its other pages left erased.
bool WriteDefaultVolume(const std::string& path, const std::vector<PartitionSpec>& table, std::string& error) {
  std::uint32_t first = 0, blocks = 0;
  for (const PartitionSpec& p : table) {
    if (p.Name == VirtualPhone::DefaultVolumePartition()) {
      blocks = p.SizeInBlocks;
      break;
    }
    first += p.SizeInBlocks;
  }
  std::vector<std::uint8_t> volume;
  if (blocks == 0 || !VirtualPhone::DefaultVolumeBytes(volume, error)) {
    if (blocks == 0) error = "the default table has no partition for the volume";
    return false;
  }
  phone::ImagePageSink chip;
  if (!chip.Open(path, error)) return false;
  std::vector<std::uint32_t> physical;
  for (std::uint32_t u = 0; u < blocks; ++u) physical.push_back(first + u);
  phone::BmlPartitionSink sink(chip, physical, nand::FindLayout(kPhoneEccLayout));
  phone::StlWriteResult result;
  if (!phone::WriteStlVolume(sink, volume, phone::StlWriteOptions{}, result, error)) return false;
  return chip.Close(error);
}

}  // namespace

std::vector<PartitionSpec> VirtualPhone::DefaultTable() {
  return {{"BOOT", 1},      {"PIT", 1},        {"EFS", 40},       {"SBL", 5},
          {"SBL2", 5},      {"PARAM", 20},     {"KERNEL", 30},    {"RECOVERY", 30},
          {"FACTORYFS", 300}, {"DBDATA", 200}, {"CACHE", 140},    {"MODEM", 50},
          {"DATAFS", 0xFFFFFFFFu}};
}

bool VirtualPhone::DefaultHoldsData(const std::string& partition) {
  for (const char* name : {"BOOT", "SBL", "SBL2", "PARAM", "KERNEL", "RECOVERY", "FACTORYFS", "MODEM"})
    if (partition == name) return true;
  return false;
}

const char* VirtualPhone::DefaultVolumePartition() { return "EFS"; }

bool VirtualPhone::DefaultVolumeFiles(std::vector<fat::BuiltEntry>& files, std::string& error) {
  // The radio's calibration and identity file with the checksum phones keep beside it.
  std::vector<std::uint8_t> nvData(kDefaultNvDataBytes);
  for (std::size_t i = 0; i < nvData.size(); ++i) nvData[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
  std::string md5;
  const std::unique_ptr<Digester> digest = MakeDigester(DigestAlgorithm::Md5, error);
  if (!digest) return false;
  if (!digest->Update(nvData.data(), nvData.size()) || !digest->Finish(md5)) {
    error = "the MD5 digest of nv_data.bin failed";
    return false;
  }
  md5 += '\n';
  const std::string region = "XEU";
  files = {{"/nv_data.bin", false, nvData},
           {"/nv_data.bin.md5", false, {md5.begin(), md5.end()}},
           {"/imei", true, {}},
           {"/imei/mps_code.dat", false, {region.begin(), region.end()}}};
  return true;
}

bool VirtualPhone::DefaultVolumeBytes(std::vector<std::uint8_t>& volume, std::string& error) {
  fat::DosTimestamp modified;
  modified.Date = static_cast<std::uint16_t>(((2010 - 1980) << 9) | (6 << 5) | 4);
  modified.Time = static_cast<std::uint16_t>((12 << 11) | (30 << 5) | (10 / 2));
  std::vector<fat::BuiltEntry> files;
  return DefaultVolumeFiles(files, error) &&
         fat::BuildFat12(kDefaultVolumeSectors, "EFS", files, modified, volume, error);
}

bool VirtualPhone::CreateDefault(const std::string& path, std::string& error) {
  // A sound chip as a write with ECC leaves it: data with their codes, no block marked
  // bad; then the partitions that hold no data are erased, spare data included, and the
  // volume is written into its partition.
  ImageSpec spec;
  spec.ChipMiB = kDefaultPhoneMiB;
  spec.Table = DefaultTable();
  spec.Fill = ImageFill::Noise;
  NandSpec nand;
  nand.EccLayout = kPhoneEccLayout;
  if (!WriteFullImage(path, spec, nand, error)) return false;

  File file;
  if (!file.OpenReadWrite(path, error)) return false;
  const std::uint64_t mainSize = std::uint64_t{spec.ChipMiB} << 20;
  const std::vector<std::uint8_t> blank(1u << 20, 0xFF);
  const auto erase = [&](std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t at = from; at < to;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(blank.size(), to - at));
      if (!file.Seek(at, error) || !file.WriteAll(blank.data(), n, error)) return false;
      at += n;
    }
    return true;
  };
  std::uint64_t block = 0;
  const std::uint64_t totalBlocks = mainSize / kPhoneEraseBlock;
  for (const PartitionSpec& p : spec.Table) {
    const std::uint64_t blocks =
        (p.SizeInBlocks == 0 || p.SizeInBlocks == 0xFFFFFFFFu) ? totalBlocks - block : p.SizeInBlocks;
    // The table's own block keeps the table.
    if (!DefaultHoldsData(p.Name) && p.Name != "PIT") {
      const std::uint64_t from = block * kPhoneEraseBlock;
      const std::uint64_t to = (block + blocks) * kPhoneEraseBlock;
      if (!erase(from, to) || !erase(mainSize + from / kSpareDivisor, mainSize + to / kSpareDivisor))
        return false;
    }
    block += blocks;
  }
  if (!file.Close(error)) return false;
  return WriteDefaultVolume(path, spec.Table, error);
}

bool VirtualPhone::Open(const std::string& path, std::string& error) {
  File file;
  std::uint64_t size = 0;
  if (!file.OpenRead(path, error) || !file.Size(size, error)) return false;
  // size = M + M/32 with M a whole number of MiB, 1 MiB to 4 GiB.
  const std::uint64_t unit = (std::uint64_t{1} << 20) / kSpareDivisor * 33;
  if (size == 0 || size % unit != 0 || size / unit > 4096) {
    error = "\"" + path + "\" is not a virtual phone: its size " + std::to_string(size) +
            " is not that of a full image of 1 to 4096 MiB";
    return false;
  }
  path_ = path;
  chipMiB_ = static_cast<std::uint32_t>(size / unit);
  session_ = false;
  return true;
}

std::vector<BitFlip> VirtualPhone::FlipPlaces(std::uint32_t singles) const {
  std::vector<BitFlip> places;
  const std::uint64_t sectors = MainSize() / kPhoneSector;
  if (sectors < std::uint64_t{singles} + 2) return places;
  const std::uint64_t parts = std::uint64_t{singles} + 2;
  // A bit inside the sector that moves from place to place, so that the repaired bits
  // are not all at one position.
  const auto bitOf = [](std::uint64_t k) {
    return static_cast<std::uint32_t>((k * 2654435761u + 977u) % (kPhoneSector * 8));
  };
  const auto add = [&](std::uint64_t sector, std::uint32_t bit) {
    places.push_back({sector * kPhoneSector + bit / 8, static_cast<std::uint8_t>(bit % 8)});
  };
  for (std::uint64_t k = 1; k <= std::uint64_t{singles} + 1; ++k) {
    const std::uint64_t sector = k * sectors / parts;
    add(sector, bitOf(k));
    // The last place is the double-bit error: a second bit half a sector away.
    if (k == std::uint64_t{singles} + 1)
      add(sector, (bitOf(k) + kPhoneSector * 4 + 3) % (kPhoneSector * 8));
  }
  std::sort(places.begin(), places.end(), [](const BitFlip& a, const BitFlip& b) {
    return a.Offset < b.Offset || (a.Offset == b.Offset && a.Bit < b.Bit);
  });
  return places;
}

void VirtualPhone::ApplyFlips(std::uint64_t at, std::uint8_t* main, std::uint32_t n) const {
  if (!Faults.FlipBits) return;
  for (const BitFlip& f : FlipPlaces(*Faults.FlipBits))
    if (f.Offset >= at && f.Offset < at + n)
      main[f.Offset - at] ^= static_cast<std::uint8_t>(1u << f.Bit);
}

void VirtualPhone::Record(PhoneRequest request) {
  if (requests_.size() >= kMaxRequests)
    requests_.erase(requests_.begin(), requests_.begin() + kMaxRequests / 2);
  requests_.push_back(std::move(request));
}

bool VirtualPhone::OpenSession() {
  ++connects_;
  session_ = !Faults.FailConnect && chipMiB_ != 0;
  return session_;
}

bool VirtualPhone::Connect() {
  Record(MakeRequest(PhoneService::Connect));
  return OpenSession();
}

void VirtualPhone::EndSession() {
  Record(MakeRequest(PhoneService::EndSession));
  session_ = false;
}

bool VirtualPhone::IdentifyFlash(TFlashInfo& info) {
  Record(MakeRequest(PhoneService::Identify));
  info = TFlashInfo{};
  if (!session_) return false;
  info.Field0 = 1;  // one chip
  info.ChipSizeMiB = chipMiB_;
  info.EraseBlockSize = kPhoneEraseBlock;
  info.PageSize = Faults.UnrecognisedChip ? 0 : kPhonePageSize;
  info.Field5 = kPhoneSpareBytesPerPage;
  return true;
}

bool VirtualPhone::CheckRange(std::uint32_t address, std::uint32_t length,
                              std::uint32_t alignment, const char* unit,
                              WindowPort& port) const {
  if (address % alignment != 0 || length % alignment != 0) {
    port.LogAdd("ERROR: The range " + Hex8(address) + "+" + Hex8(length) +
                " is not aligned to " + unit + ".");
    return false;
  }
  if (std::uint64_t{address} + length > MainSize()) {
    port.LogAdd("ERROR: The range " + Hex8(address) + "+" + Hex8(length) + " lies outside the " +
                std::to_string(chipMiB_) + " MiB chip.");
    return false;
  }
  return true;
}

bool VirtualPhone::ReadToFiles(std::uint32_t address, std::uint32_t length,
                               const std::string& tag, WindowPort& port,
                               const std::uint8_t* stop) {
  ++reads_;
  Record(MakeRequest(PhoneService::ReadToFiles, address, length, &port));
  if (!session_) {
    port.LogAdd("ERROR: Read failed. The phone is not connected.");
    return false;
  }
  if (!ValidTag(tag) || workFolder_.empty()) {
    port.LogAdd("ERROR: Read failed. No valid place for the data files.");
    return false;
  }
  if (!CheckRange(address, length, kPhoneSector, "512-byte sectors", port)) return false;
  const std::string mainPath = workFolder_ + "$" + tag + "Main$.$$$";
  const std::string sparePath = workFolder_ + "$" + tag + "Redu$.$$$";
  File phone, mainOut, spareOut;
  std::string error;
  if (!phone.OpenRead(path_, error) || !mainOut.Create(mainPath, error) ||
      !spareOut.Create(sparePath, error)) {
    port.LogAdd("ERROR: Read failed. " + error);
    return false;
  }
  std::vector<std::uint8_t> main(kPhoneChunk), spare(kPhoneChunk / kSpareDivisor);
  Transfer t("Reading", address, length, port, stop, Faults.BytesPerSecond);
  const bool ok = t.Run(
      [&](std::uint32_t done, std::uint32_t n, std::string& err) {
        const std::uint64_t at = std::uint64_t{address} + done;
        if (!phone.Seek(at, err) || !phone.ReadExact(main.data(), n, err)) return false;
        ApplyFlips(at, main.data(), n);
        return phone.Seek(MainSize() + at / kSpareDivisor, err) &&
               phone.ReadExact(spare.data(), n / kSpareDivisor, err) &&
               mainOut.WriteAll(main.data(), n, err) &&
               spareOut.WriteAll(spare.data(), n / kSpareDivisor, err);
      },
      reads_ == Faults.FailNthRead);
  if (!ok || !CloseWritten(mainOut, "Read", port) || !CloseWritten(spareOut, "Read", port)) {
    // Half-written data files must not pass for the data of a read.
    std::error_code ec;
    std::filesystem::remove(mainPath, ec);
    std::filesystem::remove(sparePath, ec);
    return false;
  }
  // The injected fault leaves the files broken while the service still reports success.
  ApplyDataFileFault(Faults.ReadFiles, mainPath, sparePath, length);
  return true;
}

bool VirtualPhone::ReadToMemory(std::uint32_t address, std::uint32_t length,
                                std::uint8_t* buffer, WindowPort& port,
                                const std::uint8_t* stop) {
  ++reads_;
  Record(MakeRequest(PhoneService::ReadToMemory, address, length, &port));
  if (!session_) {
    port.LogAdd("ERROR: Read failed. The phone is not connected.");
    return false;
  }
  if (!buffer) {
    port.LogAdd("ERROR: Read failed. No buffer for the data.");
    return false;
  }
  if (!CheckRange(address, length, kPhoneSector, "512-byte sectors", port)) return false;
  File phone;
  std::string error;
  if (!phone.OpenRead(path_, error)) {
    port.LogAdd("ERROR: Read failed. " + error);
    return false;
  }
  Transfer t("Reading", address, length, port, stop, Faults.BytesPerSecond);
  return t.Run(
      [&](std::uint32_t done, std::uint32_t n, std::string& err) {
        const std::uint64_t at = std::uint64_t{address} + done;
        if (!phone.Seek(at, err) || !phone.ReadExact(buffer + done, n, err)) return false;
        ApplyFlips(at, buffer + done, n);
        return phone.Seek(MainSize() + at / kSpareDivisor, err) &&
               phone.ReadExact(buffer + length + done / kSpareDivisor, n / kSpareDivisor, err);
      },
      reads_ == Faults.FailNthRead);
}

bool VirtualPhone::WriteFromImage(std::uint32_t address, std::uint32_t length,
                                  const std::string& imagePath, bool ecc,
                                  bool alreadyConnected, WindowPort& port,
                                  const std::uint8_t* stop) {
  ++writes_;
  PhoneRequest request = MakeRequest(PhoneService::Write, address, length, &port);
  request.AlreadyConnected = alreadyConnected;
  request.Ecc = ecc;
  request.ImagePath = imagePath;
  Record(std::move(request));
  if ((!alreadyConnected || !session_) && !OpenSession()) {
    port.LogAdd("ERROR: Write failed. The phone does not answer.");
    return false;
  }
  if (!CheckRange(address, length, kPhoneSector, "512-byte sectors", port)) return false;
  File source, phone;
  std::string error;
  std::uint64_t sourceSize = 0;
  if (!source.OpenRead(imagePath, error) || !source.Size(sourceSize, error) ||
      !phone.OpenReadWrite(path_, error)) {
    port.LogAdd("ERROR: Write failed. " + error);
    return false;
  }
  // The source is a full image file: its own geometry places its spare area.
  const std::uint64_t sourceMain = sourceSize / 528 * 512;
  const std::uint64_t sourceSpareStart = sourceMain / kPhoneEraseBlock * kPhoneEraseBlock;
  const std::uint64_t end = std::uint64_t{address} + length;
  if (end > sourceSpareStart || sourceSpareStart + end / kSpareDivisor > sourceSize) {
    port.LogAdd("ERROR: Write failed. The image file \"" + imagePath + "\" does not hold " +
                Hex8(length) + " bytes at " + Hex8(address) + ".");
    return false;
  }
  const nand::SpareLayout* layout = nand::FindLayout(kPhoneEccLayout);
  if (ecc && !layout) {
    port.LogAdd(std::string("ERROR: Write failed. The ECC layout ") + kPhoneEccLayout + " is unknown.");
    return false;
  }
  std::vector<std::uint8_t> main(kPhoneChunk), spare(kPhoneChunk / kSpareDivisor);
  Transfer t(ecc ? "Writing with ECC" : "Writing", address, length, port, stop,
             Faults.BytesPerSecond);
  return t.Run(
      [&](std::uint32_t done, std::uint32_t n, std::string& err) {
        const std::uint64_t at = std::uint64_t{address} + done;
        const std::uint32_t spareN = n / kSpareDivisor;
        if (!source.Seek(at, err) || !source.ReadExact(main.data(), n, err) ||
            !source.Seek(sourceSpareStart + at / kSpareDivisor, err) ||
            !source.ReadExact(spare.data(), spareN, err))
          return false;
        if (ecc) {
          for (std::uint32_t s = 0; s < n / nand::kSectorBytes; ++s)
            nand::WriteSectorCodes(*layout, main.data() + s * nand::kSectorBytes,
                                   spare.data() + s * nand::kSpareBytes);
        }
        return phone.Seek(at, err) && phone.WriteAll(main.data(), n, err) &&
               phone.Seek(MainSize() + at / kSpareDivisor, err) &&
               phone.WriteAll(spare.data(), spareN, err);
      },
      writes_ == Faults.FailNthWrite) &&
         CloseWritten(phone, "Write", port);
}

bool VirtualPhone::Erase(std::uint32_t address, std::uint32_t length, WindowPort& port,
                         const std::uint8_t* stop) {
  ++erases_;
  Record(MakeRequest(PhoneService::Erase, address, length, &port));
  if (!session_) {
    port.LogAdd("ERROR: Erase failed. The phone is not connected.");
    return false;
  }
  if (!CheckRange(address, length, kPhoneEraseBlock, "erase blocks", port)) return false;
  File phone;
  std::string error;
  if (!phone.OpenReadWrite(path_, error)) {
    port.LogAdd("ERROR: Erase failed. " + error);
    return false;
  }
  const std::vector<std::uint8_t> blank(kPhoneChunk, 0xFF);
  Transfer t("Erasing", address, length, port, stop, Faults.BytesPerSecond);
  return t.Run(
      [&](std::uint32_t done, std::uint32_t n, std::string& err) {
        const std::uint64_t at = std::uint64_t{address} + done;
        return phone.Seek(at, err) && phone.WriteAll(blank.data(), n, err) &&
               phone.Seek(MainSize() + at / kSpareDivisor, err) &&
               phone.WriteAll(blank.data(), n / kSpareDivisor, err);
      },
      erases_ == Faults.FailNthErase) &&
         CloseWritten(phone, "Erase", port);
}

}  // namespace orvella
