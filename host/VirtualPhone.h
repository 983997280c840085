#pragma once
// The virtual phone of the stand-in host: a NAND chip of N MiB kept in a full image file
// (all main data, then all spare data, 16 spare bytes per 512), with the device work of
// every host service. It reports through a window port (log, gauge, status, message
// pump) and watches a stop flag between chunks. No toolkit and no plug-in code here.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fat/FatBuilder.h"
#include "image/ImageBuilder.h"
#include "image/WindowPort.h"
#include "contract/HostServices.h"

namespace orvella {

inline constexpr std::uint32_t kPhoneEraseBlock = 0x40000;
inline constexpr std::uint32_t kPhonePageSize = 0x1000;
inline constexpr std::uint32_t kPhoneSpareBytesPerPage = kPhonePageSize / 32;
inline constexpr std::uint32_t kPhoneChunk = 0x10000;  // main bytes moved per step
inline constexpr std::uint32_t kPhoneSector = 512;      // transfers go by whole sectors
inline constexpr std::uint32_t kDefaultPhoneMiB = 256;
inline constexpr const char* kDefaultPhoneName = "orvella-phone.nand";
// The spare layout a write with ECC fills in (a name of nand/SpareLayout.h): the code of
// each 512-byte sector at spare bytes 8-10, the other spare bytes as the image has them.
inline constexpr const char* kPhoneEccLayout = "onenand-h512-normal";
// Most single-bit read errors --flip-bits may ask for.
inline constexpr std::uint32_t kMaxFlipBits = 1000;

// After a successful read to files, one of the data files is taken away or cut short,
// as a broken host might leave it.
enum class DataFileFault { None, MainMissing, MainShort, SpareMissing, SpareShort };

// One service call as the phone received it, for tests and the host's diagnostics.
enum class PhoneService { Connect, Identify, ReadToFiles, ReadToMemory, Write, Erase, EndSession };

struct PhoneRequest {
  PhoneService Service = PhoneService::Connect;
  std::uint32_t Address = 0;  // transfers: main-data range
  std::uint32_t Length = 0;
  bool AlreadyConnected = false;  // writes
  bool Ecc = false;               // writes
  std::string ImagePath;          // writes: the file the data come from
  std::int64_t GaugeMax = 0;      // transfers: the window's gauge maximum when the call came
};

struct PhoneFaults {
  bool FailConnect = false;
  bool UnrecognisedChip = false;  // identify reports page size 0
  long FailNthRead = 0;           // counted from 1 over all reads; 0 = never
  long FailNthWrite = 0;
  long FailNthErase = 0;
  DataFileFault ReadFiles = DataFileFault::None;
  std::uint64_t BytesPerSecond = 0;  // transfer speed limit (main + spare); 0 = none
  // Reads return this many single-bit errors and one double-bit error in the main data,
  // at the places FlipPlaces names; the chip itself keeps its bytes. None when empty.
  std::optional<std::uint32_t> FlipBits;
};

// One wrong bit in what a read returns: main-data offset on the chip and the bit (0-7).
struct BitFlip {
  std::uint64_t Offset = 0;
  std::uint8_t Bit = 0;
};

class VirtualPhone {
 public:
  // The table of the default phone and the partitions that hold data (the rest are blank).
  static std::vector<PartitionSpec> DefaultTable();
  static bool DefaultHoldsData(const std::string& partition);
  // The partition that holds the default phone's STL volume (EFS).
  static const char* DefaultVolumePartition();
  // The files of the FAT file system inside that volume: folders before what they hold.
  static bool DefaultVolumeFiles(std::vector<fat::BuiltEntry>& files, std::string& error);
  // That file system as the volume's logical bytes.
  static bool DefaultVolumeBytes(std::vector<std::uint8_t>& volume, std::string& error);
  // Writes a 256 MiB default phone: table at block 1, data with their ECC codes (as a
  // write with ECC puts them) in some partitions, an STL volume holding a small FAT file
  // system in EFS (written as the phone's driver programs it, codes included), the
  // others erased.
  static bool CreateDefault(const std::string& path, std::string& error);

  // Takes a phone image: its size must be M + M/32 bytes with M a whole number of MiB.
  bool Open(const std::string& path, std::string& error);

  const std::string& Path() const { return path_; }
  std::uint32_t ChipMiB() const { return chipMiB_; }
  std::uint64_t MainSize() const { return std::uint64_t{chipMiB_} << 20; }

  // The bits reads flip with `singles` single-bit errors: one bit in each of the sectors
  // k * S / (singles + 2), k = 1 .. singles, of the S sectors of the chip, then two bits in
  // sector (singles + 1) * S / (singles + 2). Sorted by offset.
  std::vector<BitFlip> FlipPlaces(std::uint32_t singles) const;

  // Folder (with trailing '/') where reads to files leave their data files.
  void SetWorkFolder(std::string folder) { workFolder_ = std::move(folder); }
  const std::string& WorkFolderPath() const { return workFolder_; }

  PhoneFaults Faults;

  // Opens the device session; silent either way.
  bool Connect();
  // Fills chip size, erase-block size and page size; zeros without a session.
  bool IdentifyFlash(TFlashInfo& info);
  // Main data of [address, address + length) to "$<tag>Main$.$$$", its spare data to
  // "$<tag>Redu$.$$$" in the work folder.
  bool ReadToFiles(std::uint32_t address, std::uint32_t length, const std::string& tag,
                   WindowPort& port, const std::uint8_t* stop);
  // Main data to buffer[0, length), its spare data right after (length / 32 bytes).
  bool ReadToMemory(std::uint32_t address, std::uint32_t length, std::uint8_t* buffer,
                    WindowPort& port, const std::uint8_t* stop);
  // Writes the range from the full image file at imagePath (read only): main data from
  // the same offset, spare data from that file's spare area. With ecc, every sector's
  // code goes into its spare bytes as kPhoneEccLayout places it. Opens a session when
  // none is open or when alreadyConnected is false.
  bool WriteFromImage(std::uint32_t address, std::uint32_t length, const std::string& imagePath,
                      bool ecc, bool alreadyConnected, WindowPort& port,
                      const std::uint8_t* stop);
  // Sets main and spare data of whole erase blocks to 0xFF.
  bool Erase(std::uint32_t address, std::uint32_t length, WindowPort& port,
             const std::uint8_t* stop);
  // Harmless without a session and when repeated.
  void EndSession();
  bool SessionOpen() const { return session_; }

  long Connects() const { return connects_; }
  long Reads() const { return reads_; }
  long Writes() const { return writes_; }
  long Erases() const { return erases_; }

  // The service calls received, oldest first; only the latest kMaxRequests are kept.
  static constexpr std::size_t kMaxRequests = 4096;
  const std::vector<PhoneRequest>& Requests() const { return requests_; }
  void ClearRequests() { requests_.clear(); }

 private:
  bool CheckRange(std::uint32_t address, std::uint32_t length, std::uint32_t alignment,
                  const char* unit, WindowPort& port) const;
  bool OpenSession();
  void Record(PhoneRequest request);
  // Flips the bits of Faults.FlipBits that fall into main data [at, at + n) read into `main`.
  void ApplyFlips(std::uint64_t at, std::uint8_t* main, std::uint32_t n) const;

  std::string path_;
  std::string workFolder_;
  std::uint32_t chipMiB_ = 0;
  bool session_ = false;
  long connects_ = 0;
  long reads_ = 0;
  long writes_ = 0;
  long erases_ = 0;
  std::vector<PhoneRequest> requests_;
};

}  // namespace orvella
