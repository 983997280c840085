// A 512 MiB dump file laid out as the phone keeps it (the sample table, the bad-block
// layer, some blocks remapped) with an STL volume written through the remap into one
// partition, as the phone's driver writes it. For suites that link orvella_phone.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "phone/BmlView.h"
#include "phone/BmlWriter.h"
#include "phone/ImagePages.h"
#include "phone/PhoneDump.h"
#include "phone/StlWriter.h"

namespace orvella::test {

// Writes the dump at `path` and the volume `contents` into the sample table's row
// `partition`; on return `contents` holds every byte the volume's stl device reads, and
// `physical` the partition's blocks as the phone reads them. Use with
// ASSERT_NO_FATAL_FAILURE.
inline void WriteStlSampleDump(const std::string& path, const std::vector<std::uint32_t>& remaps,
                               std::size_t partition, std::vector<std::uint8_t>& contents,
                               std::vector<std::uint32_t>* physical = nullptr) {
  std::string error;
  phone::BmlDumpSpec spec;
  spec.Table = phone::SampleBmlTable();
  spec.Fill = ImageFill::Erased;
  spec.Remaps = remaps;
  phone::BmlDumpPlan plan;
  ASSERT_TRUE(phone::PlanBmlDump(spec, plan, error)) << error;
  ASSERT_TRUE(phone::WriteBmlDump(path, plan, error)) << error;
  std::vector<std::uint32_t> blocks;
  {
    phone::ImagePageSource chip;
    ASSERT_TRUE(chip.Open(path, error)) << error;
    blocks = phone::EntryBlocks(phone::ReadPhoneDump(chip, false), partition);
  }
  phone::ImagePageSink chip;
  ASSERT_TRUE(chip.Open(path, error)) << error;
  phone::BmlPartitionSink sink(chip, blocks);
  phone::StlWriteResult result;
  ASSERT_TRUE(phone::WriteStlVolume(sink, contents, {}, result, error)) << error;
  ASSERT_TRUE(chip.Close(error)) << error;
  if (physical) *physical = blocks;
}

}  // namespace orvella::test
