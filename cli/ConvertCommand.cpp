// convert: a dump from one format into another, exact and streamed, with the input's
// format named or found in it and the reason said on standard error.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/DumpInput.h"
#include "cli/Frame.h"
#include "cli/Outputs.h"
#include "cli/Progress.h"
#include "image/DumpConvert.h"
#include "image/DumpDetect.h"

namespace orvella::cli {

namespace {

constexpr char kCommand[] = "convert";

// The spare files of both sides from the --spare options: the split side's, the input's
// first when both are split. False with `problem` when they do not go with the formats.
bool SpareFiles(const std::vector<std::string>& spares, const std::optional<DumpFormat>& from, DumpFormat to,
                std::string& in, std::string& out, std::string& problem) {
  const bool fromSplit = from == DumpFormat::Split;
  const bool toSplit = to == DumpFormat::Split;
  if (spares.size() > 2) {
    problem = "--spare is given once, or twice when both sides are split dumps";
    return false;
  }
  if (spares.size() == 2) {
    if (!toSplit || (from && !fromSplit)) {
      problem = "--spare is given twice only when both sides are split dumps (--from split --to split)";
      return false;
    }
    in = spares[0];
    out = spares[1];
    return true;
  }
  if (spares.size() == 1) {
    if (toSplit && fromSplit) {
      problem = "both sides are split dumps: give --spare twice, the input's spare file first";
      return false;
    }
    if (from && !fromSplit && !toSplit) {
      problem = "--spare names the spare file of a split dump, and neither --from " +
                std::string(DumpFormatName(*from)) + " nor --to " + std::string(DumpFormatName(to)) + " is one";
      return false;
    }
    (toSplit ? out : in) = spares[0];
    return true;
  }
  if (toSplit || fromSplit) {
    problem = std::string(toSplit ? "--to" : "--from") + " split needs --spare FILE, the file of the spare data";
    return false;
  }
  return true;
}

}  // namespace

int RunConvert(const ConvertCommandOptions& o) {
  std::string problem;
  DumpFormat to = DumpFormat::Full;
  std::optional<DumpFormat> from;
  if (!ParseDumpFormat("--to", o.To, to, problem)) return UsageProblem(kCommand, problem);
  if (!o.From.empty()) {
    DumpFormat named = DumpFormat::Full;
    if (!ParseDumpFormat("--from", o.From, named, problem)) return UsageProblem(kCommand, problem);
    from = named;
  }
  DumpFiles in{o.In, DumpFormat::Full, ""}, out{o.Out, to, ""};
  if (!SpareFiles(o.Spare, from, to, in.SparePath, out.SparePath, problem)) return UsageProblem(kCommand, problem);

  // Every output is looked at before anything is read.
  OutputGuard guard(kCommand, o.Force);
  guard.Input(in.Path);
  if (!in.SparePath.empty()) guard.Input(in.SparePath);
  std::vector<std::string> outputs{out.Path};
  if (!out.SparePath.empty()) outputs.push_back(out.SparePath);
  if (!guard.AllowsAll(outputs)) return 1;

  std::string error;
  if (from) {
    in.Format = *from;
  } else {
    DumpDetection found;
    if (!DetectDumpFormat(in.Path, in.SparePath, found, error)) {
      SayDetection(kCommand, RefusalText(error, "--from"), found);
      return 1;
    }
    SayDetection(kCommand, "\"" + in.Path + "\": " + found.Verdict, found);
    in.Format = found.Format;
  }

  ConvertOptions options;
  TerminalProgress progress("Converting " + in.Path);
  if (progress.Active()) options.Progress = progress.Callback();
  ConvertResult result;
  const bool converted = ConvertDump(in, out, options, result, error);
  progress.End();
  if (!converted) {
    std::fprintf(stderr, "orvella: %s: %s\n", kCommand, error.c_str());
    return 1;
  }
  for (const std::string& note : result.Notes) std::fprintf(stderr, "orvella: %s: %s\n", kCommand, note.c_str());
  for (const std::string& file : outputs) std::printf("%s\n", file.c_str());
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "orvella: %s: cannot write to standard output\n", kCommand);
    return 1;
  }
  return 0;
}

}  // namespace orvella::cli
