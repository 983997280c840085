#pragma once
// What the phone's view of a dump says to people, line by line: the decoded table with
// what each partition holds and whether its volume rebuilds, and the bad-block layer with
// its pool blocks, partition info, remaps and findings. The tool prints these lines and
// the window writes them into its log, so both say the same.

#include <cstdint>
#include <string>
#include <vector>

#include "phone/Bml.h"
#include "phone/Content.h"
#include "phone/PhoneDump.h"
#include "phone/StlReader.h"
#include "phone/Volumes.h"

namespace orvella::phone {

// "3 entries", "1 entry".
std::string CountText(std::uint64_t n, const char* one, const char* many);
// One block as "0x0007", more as "0x0007..0x0009".
std::string BlockRangeText(std::uint64_t first, std::uint64_t count);
// "bml5" or "stl5" for an entry the phone numbers, else empty.
std::string DeviceName(const PitEntry& entry, const char* kind);
// "fat16 \"EFS\"", "kernel".
std::string HoldsText(const PartitionContent& content);
// "rebuilds: N bytes (S sectors), holds ..." or "refused: why"; empty for no STL entry.
std::string VolumeText(const VolumeState& volume);
// Where an STL finding lies: "meta VBN 3 page 7".
std::string StlFindingPlace(const StlFinding& finding);

// Rows of cells as lines, columns two blanks apart, the columns in `right` aligned to the
// right; the last column is not padded and no line ends in blanks.
std::vector<std::string> ColumnLines(const std::vector<std::vector<std::string>>& rows,
                                     const std::vector<std::size_t>& right = {});

// The table as `orvella pit` shows it; `volumes` holds CheckVolume of every entry.
std::vector<std::string> PitTextLines(const PhoneDump& dump, const std::vector<VolumeState>& volumes);
// The bad-block layer as `orvella bml` shows it, for a dump that has it.
std::vector<std::string> BmlTextLines(const BmlResult& bml);

}  // namespace orvella::phone
