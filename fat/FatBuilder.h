#pragma once
// A small FAT12 volume made in memory: one 512-byte sector per cluster, a 512-entry root
// folder, long names beside made-up short ones, folders with their "." and "..". For the
// file systems the virtual phone keeps in its volumes and for tests.

#include <cstdint>
#include <string>
#include <vector>

#include "fat/Directory.h"

namespace orvella::fat {

struct BuiltEntry {
  std::string Path;                 // "/efs/nv_data.bin": its folder listed before it
  bool Folder = false;
  std::vector<std::uint8_t> Bytes;  // a file's contents
};

// The volume of `sectors` sectors holding `entries`, every one dated `modified`. False
// with `error` when the volume would not be FAT12, a path names no listed folder or is
// listed twice, or the entries do not fit.
bool BuildFat12(std::uint32_t sectors, const std::string& label, const std::vector<BuiltEntry>& entries,
                DosTimestamp modified, std::vector<std::uint8_t>& volume, std::string& error);

}  // namespace orvella::fat
