#pragma once
// The commands of the `orvella` tool: each one's options, as CommandLine.cpp declares
// them, and the function that runs it and returns the exit status (Frame.h).

#include <string>
#include <vector>

namespace orvella::cli {

struct ListOptions {
  std::string Image;
  bool Json = false;
  std::string Format, Spare;
};
int RunList(const ListOptions& o);

struct MkImageOptions {
  std::string Out;
  std::string ChipMiB;
  std::string Table;
  std::string Fill = "ff";
  std::string Ecc;
  std::string ErasedPercent;
  std::string BadBlocks;
  bool Bml = false;
  std::string Remap;
  std::string Stl;
  std::string StlHeader = "old";
  std::string StlRewrites;
  bool Force = false;
};
int RunMkImage(const MkImageOptions& o);

struct ExportOptions {
  std::string Image;
  std::string Mode;
  std::string Row;
  bool All = false;
  std::string Prefix;
  bool Force = false;
};
int RunExport(const ExportOptions& o);

struct SaveImageOptions {
  std::string Image;
  std::string Out;
  bool Force = false;
};
int RunSaveImage(const SaveImageOptions& o);

struct BlankOptions {
  std::string Image;
};
int RunBlank(const BlankOptions& o);

struct HashOptions {
  std::string Image;
  std::string Algo = "sha256";
  bool Json = false;
};
int RunHash(const HashOptions& o);

struct DiffOptions {
  std::string A, B;
  bool Json = false;
  bool MainOnly = false;
};
int RunDiff(const DiffOptions& o);  // 0 identical, 1 different, 2 trouble

struct ReportOptions {
  std::string Image;
  std::string Out;
  std::string Compare;
  std::string Algo = "sha256";
  bool Force = false;
};
int RunReport(const ReportOptions& o);

struct CheckOptions {
  std::string Image;
  std::string Layout = "auto";
  std::string Repair;
  bool Json = false;
  bool Force = false;
  std::string Format, Spare;
};
int RunCheck(const CheckOptions& o);  // exit bits: 4 uncorrectable, 8 cannot read, 16 usage

struct PitOptions {
  std::string Image;
  bool Json = false;
};
int RunPit(const PitOptions& o);  // 1: block 1 holds no table

struct BmlOptions {
  std::string Image;
  bool Json = false;
};
int RunBml(const BmlOptions& o);  // 1: no reservoir structure

struct VolumeOptions {
  std::string Image;
  std::string Row;
  std::string Out;
  std::string Layer;  // empty: stl for STL partitions, bml otherwise
  bool Force = false;
};
int RunVolume(const VolumeOptions& o);  // 1: not an STL volume or refused, nothing written

struct StlOptions {
  std::string Image;
  std::string Row;
  bool Json = false;
};
int RunStl(const StlOptions& o);  // 1: not an STL volume or refused
struct FilesOptions {
  std::string Source;
  std::string Row;
  bool Json = false;
};
int RunFiles(const FilesOptions& o);

struct ExtractOptions {
  std::string Source;
  std::string Row;
  std::vector<std::string> Paths;
  std::string Out;
  bool Force = false;
};
int RunExtract(const ExtractOptions& o);  // 0 all extracted, 1 some not, 2 usage
struct ConvertCommandOptions {
  std::string In, Out;
  std::string From, To = "full";
  std::vector<std::string> Spare;  // a split side's spare file; the input's first when both are
  bool Force = false;
};
int RunConvert(const ConvertCommandOptions& o);

}  // namespace orvella::cli
