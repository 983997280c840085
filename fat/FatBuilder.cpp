#include "fat/FatBuilder.h"

#include <algorithm>
#include <map>

namespace orvella::fat {

namespace {

constexpr std::uint32_t kSector = 512;
constexpr std::uint32_t kRootEntries = 512;
constexpr std::uint32_t kFats = 2;
constexpr std::uint32_t kFat12MaxClusters = 4084;
constexpr std::uint32_t kFat12End = 0xFFF;

// Boot sector.
constexpr std::uint32_t kBsJump = 0;           // 3 bytes
constexpr std::uint32_t kBsOem = 3;            // 8 bytes
constexpr std::uint32_t kBsBytesPerSector = 11; // u16
constexpr std::uint32_t kBsSectorsPerCluster = 13; // u8
constexpr std::uint32_t kBsReserved = 14;      // u16
constexpr std::uint32_t kBsFats = 16;          // u8
constexpr std::uint32_t kBsRootEntries = 17;   // u16
constexpr std::uint32_t kBsSectors16 = 19;     // u16
constexpr std::uint32_t kBsMedia = 21;         // u8
constexpr std::uint32_t kBsFatSectors = 22;    // u16
constexpr std::uint32_t kBsTrackSectors = 24;  // u16
constexpr std::uint32_t kBsHeads = 26;         // u16
constexpr std::uint32_t kBsDrive = 36;         // u8
constexpr std::uint32_t kBsSignature = 38;     // u8, 0x29: serial, label and type follow
constexpr std::uint32_t kBsSerial = 39;        // u32
constexpr std::uint32_t kBsLabel = 43;         // 11 bytes
constexpr std::uint32_t kBsType = 54;          // 8 bytes
constexpr std::uint32_t kBsMagic = 510;        // 0x55 0xAA

// Where the units of a long name stand in its entry.
constexpr std::uint32_t kLfnUnitAt[kLfnUnitsPerEntry] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

void PutLe(std::uint8_t* at, std::uint32_t v, unsigned n) {
  for (unsigned i = 0; i < n; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void PutText(std::uint8_t* at, const std::string& text, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) at[i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
}

char ShortChar(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return c;
  return '_';
}

// "NV_DAT~1" "BIN" from "nv_data.bin" and its number in its folder.
std::string ShortName(const std::string& name, unsigned number) {
  const std::size_t dot = name.rfind('.');
  const std::string base = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
  const std::string tail = "~" + std::to_string(number);
  std::string out;
  for (const char c : base)
    if (out.size() + tail.size() < 8) out += ShortChar(c);
  out += tail;
  out.resize(8, ' ');
  std::string e;
  for (const char c : ext)
    if (e.size() < 3) e += ShortChar(c);
  e.resize(3, ' ');
  return out + e;
}

struct Node {
  std::string Name;
  std::size_t Parent = 0;  // index into the nodes; 0 is the root
  bool Folder = false;
  const std::vector<std::uint8_t>* Bytes = nullptr;
  std::vector<std::size_t> Children;
  std::uint32_t First = 0;     // first cluster; 0 for the root and empty files
  std::uint32_t Clusters = 0;
};

// Entries a node takes in its folder: its long name's, then its short one.
std::uint32_t SlotsOf(const Node& n) {
  return static_cast<std::uint32_t>((n.Name.size() + kLfnUnitsPerEntry) / kLfnUnitsPerEntry) + 1;
}

void PutEntry(std::uint8_t* at, const std::string& shortName, std::uint8_t attributes, std::uint32_t first,
              std::uint32_t size, DosTimestamp t) {
  PutText(at + kEntName, shortName, 11);
  at[kEntAttr] = attributes;
  PutLe(at + kEntCreateTime, t.Time, 2);
  PutLe(at + kEntCreateDate, t.Date, 2);
  PutLe(at + kEntAccessDate, t.Date, 2);
  PutLe(at + kEntWriteTime, t.Time, 2);
  PutLe(at + kEntWriteDate, t.Date, 2);
  PutLe(at + kEntClusterLow, first, 2);
  PutLe(at + kEntSize, size, 4);
}

// The long name's entries, last part first, then the short entry.
std::uint8_t* PutNamed(std::uint8_t* at, const Node& n, unsigned number, DosTimestamp t) {
  const std::string shortName = ShortName(n.Name, number);
  std::uint8_t shortEntry[kDirEntryBytes] = {};
  PutEntry(shortEntry, shortName, n.Folder ? kAttrFolder : kAttrArchive, n.First,
           n.Folder ? 0 : static_cast<std::uint32_t>(n.Bytes->size()), t);
  std::vector<std::uint16_t> units(n.Name.begin(), n.Name.end());
  if (units.size() % kLfnUnitsPerEntry) units.push_back(0);
  while (units.size() % kLfnUnitsPerEntry) units.push_back(0xFFFF);
  const auto parts = static_cast<std::uint32_t>(units.size() / kLfnUnitsPerEntry);
  for (std::uint32_t p = parts; p >= 1; --p, at += kDirEntryBytes) {
    at[kLfnOrder] = static_cast<std::uint8_t>(p | (p == parts ? kLfnLastPart : 0));
    at[kEntAttr] = kAttrLongName;
    at[kLfnChecksum] = ShortNameChecksum(shortEntry);
    for (std::uint32_t i = 0; i < kLfnUnitsPerEntry; ++i)
      PutLe(at + kLfnUnitAt[i], units[(p - 1) * kLfnUnitsPerEntry + i], 2);
  }
  std::copy(shortEntry, shortEntry + kDirEntryBytes, at);
  return at + kDirEntryBytes;
}

}  // namespace

bool BuildFat12(std::uint32_t sectors, const std::string& label, const std::vector<BuiltEntry>& entries,
                DosTimestamp modified, std::vector<std::uint8_t>& volume, std::string& error) {
  const std::uint32_t rootSectors = kRootEntries * kDirEntryBytes / kSector;
  // Two FAT12 entries take three bytes; the FAT covers clusters 0 and 1 as well.
  const std::uint32_t fatSectors = ((sectors + 2) * 3 / 2 + kSector - 1) / kSector;
  if (sectors <= 1 + kFats * fatSectors + rootSectors || sectors > 0xFFFF) {
    error = "a FAT12 volume of " + std::to_string(sectors) + " sectors cannot be made";
    return false;
  }
  const std::uint32_t dataAt = 1 + kFats * fatSectors + rootSectors;
  const std::uint32_t clusters = sectors - dataAt;
  if (clusters > kFat12MaxClusters) {
    error = "a volume of " + std::to_string(clusters) + " clusters would not be FAT12";
    return false;
  }

  std::vector<Node> nodes(1);
  nodes[0].Folder = true;
  std::map<std::string, std::size_t> folders{{"", 0}};
  for (const BuiltEntry& e : entries) {
    const std::size_t slash = e.Path.rfind('/');
    const std::string name = slash == std::string::npos ? e.Path : e.Path.substr(slash + 1);
    const auto parent = folders.find(slash == std::string::npos ? "" : e.Path.substr(0, slash));
    if (parent == folders.end() || name.empty() || name.size() > kLfnMaxUnits || folders.count(e.Path)) {
      error = "\"" + e.Path + "\" names no listed folder, or is listed twice";
      return false;
    }
    for (const std::size_t c : nodes[parent->second].Children)
      if (nodes[c].Name == name) {
        error = "\"" + e.Path + "\" is listed twice";
        return false;
      }
    Node n;
    n.Name = name;
    n.Parent = parent->second;
    n.Folder = e.Folder;
    n.Bytes = &e.Bytes;
    nodes[parent->second].Children.push_back(nodes.size());
    if (e.Folder) folders[e.Path] = nodes.size();
    nodes.push_back(std::move(n));
  }

  std::uint32_t next = 2;
  std::uint32_t rootSlots = 1;  // the label's
  for (const std::size_t c : nodes[0].Children) rootSlots += SlotsOf(nodes[c]);
  if (rootSlots > kRootEntries) {
    error = "the root folder cannot hold " + std::to_string(rootSlots) + " entries";
    return false;
  }
  for (std::size_t i = 1; i < nodes.size(); ++i) {
    Node& n = nodes[i];
    std::uint64_t bytes = n.Bytes->size();
    if (n.Folder) {
      std::uint64_t slots = 2;
      for (const std::size_t c : n.Children) slots += SlotsOf(nodes[c]);
      bytes = slots * kDirEntryBytes;
    }
    n.Clusters = static_cast<std::uint32_t>((bytes + kSector - 1) / kSector);
    if (n.Clusters > clusters + 2 - next) {
      error = "the entries do not fit in " + std::to_string(clusters) + " clusters";
      return false;
    }
    n.First = n.Clusters ? next : 0;
    next += n.Clusters;
  }

  volume.assign(std::size_t{sectors} * kSector, 0);
  std::uint8_t* boot = volume.data();
  boot[kBsJump] = 0xEB;
  boot[kBsJump + 1] = 0x3C;
  boot[kBsJump + 2] = 0x90;
  PutText(boot + kBsOem, "ORVELLA", 8);
  PutLe(boot + kBsBytesPerSector, kSector, 2);
  boot[kBsSectorsPerCluster] = 1;
  PutLe(boot + kBsReserved, 1, 2);
  boot[kBsFats] = kFats;
  PutLe(boot + kBsRootEntries, kRootEntries, 2);
  PutLe(boot + kBsSectors16, sectors, 2);
  boot[kBsMedia] = 0xF8;
  PutLe(boot + kBsFatSectors, fatSectors, 2);
  PutLe(boot + kBsTrackSectors, 32, 2);
  PutLe(boot + kBsHeads, 2, 2);
  boot[kBsDrive] = 0x80;
  boot[kBsSignature] = 0x29;
  PutLe(boot + kBsSerial, 0x0E5A11E0, 4);
  PutText(boot + kBsLabel, label, 11);
  PutText(boot + kBsType, "FAT12", 8);
  boot[kBsMagic] = 0x55;
  boot[kBsMagic + 1] = 0xAA;

  const auto setFat = [&](std::uint32_t cluster, std::uint32_t value) {
    for (std::uint32_t f = 0; f < kFats; ++f) {
      std::uint8_t* fat = volume.data() + std::size_t{1 + f * fatSectors} * kSector + cluster * 3 / 2;
      if (cluster % 2 == 0) {
        fat[0] = static_cast<std::uint8_t>(value);
        fat[1] = static_cast<std::uint8_t>((fat[1] & 0xF0) | ((value >> 8) & 0x0F));
      } else {
        fat[0] = static_cast<std::uint8_t>((fat[0] & 0x0F) | ((value << 4) & 0xF0));
        fat[1] = static_cast<std::uint8_t>(value >> 4);
      }
    }
  };
  setFat(0, 0xFF8);
  setFat(1, kFat12End);
  const auto clusterAt = [&](std::uint32_t cluster) {
    return volume.data() + (std::size_t{dataAt} + cluster - 2) * kSector;
  };

  // The label stands in the root folder too, as checking tools expect it.
  std::uint8_t* rootAt = volume.data() + std::size_t{1 + kFats * fatSectors} * kSector;
  PutEntry(rootAt, label, kAttrLabel, 0, 0, modified);
  rootAt += kDirEntryBytes;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const Node& n = nodes[i];
    for (std::uint32_t c = 0; c < n.Clusters; ++c) setFat(n.First + c, c + 1 < n.Clusters ? n.First + c + 1 : kFat12End);
    if (!n.Folder) {
      if (!n.Bytes->empty()) std::copy(n.Bytes->begin(), n.Bytes->end(), clusterAt(n.First));
      continue;
    }
    std::uint8_t* at = i == 0 ? rootAt : clusterAt(n.First);
    if (i != 0) {
      PutEntry(at, ".", kAttrFolder, n.First, 0, modified);
      PutEntry(at + kDirEntryBytes, "..", kAttrFolder, nodes[n.Parent].First, 0, modified);
      at += 2 * kDirEntryBytes;
    }
    unsigned number = 0;
    for (const std::size_t c : n.Children) at = PutNamed(at, nodes[c], ++number, modified);
  }
  return true;
}

}  // namespace orvella::fat
