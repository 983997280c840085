#pragma once
// The frame every `orvella` command runs in.
//
// A command is declared once, in DeclareCommands() (CommandLine.cpp): its name, a
// one-line summary, its exit statuses, and its options with their help, bound to an
// options struct of its own (Commands.h); the frame parses the command line with CLI11,
// prints help on standard output (`orvella CMD --help`, `orvella help CMD`), names wrong
// usage in one line ending in `see "orvella CMD --help"`, runs the command, turns an
// exception into a message and the command's failure status, and has unfinished output
// files removed when the process is interrupted (Console.h).
//
// A new command:
//   1. Commands.h: `struct NameOptions { std::string Image; bool Json = false, Force = false; ... };`
//      and `int RunName(const NameOptions& o);`
//   2. CommandLine.cpp, in DeclareCommands():
//        auto& o = table.Options<NameOptions>();
//        CLI::App& c = table.Add("name", "what it does", kPlainStatuses, [&o] { return RunName(o); });
//        AddImage(c, o.Image);
//        AddJson(c, o.Json);
//        AddForce(c, o.Force);                     // when it writes files
//        AddRow(c, o.Row);                         // when it works on one partition
//        c.add_option("--other", o.Other, "what --other does");
//   3. RunName:
//        NoteNotWhole("name", o.Image);            // a note on stderr; the dump's shape
//        ResolveRow(model, o.Row, k, problem)      // --row N|NAME against the table
//        UsageProblem("name", "...")               // wrong usage found after parsing
//        OutputGuard guard("name", o.Force);       // Outputs.h: one per command
//        guard.Input(o.Image);                     // every file the command reads
//        if (!guard.Allows(out)) return 1;         // refused; it said why
//        guard.Write(out, [&](File& f, std::string& e) { ... }, error);   // through PartFile
//   4. tests/cli/OutputsTest.cpp: a row in the table of writing commands, when it writes.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "image/DumpShape.h"

// CLI11 is declared here only: the files that declare options (CommandLine.cpp, Frame.cpp,
// DumpInput.cpp) include <CLI/CLI.hpp>, and the commands, which take parsed options only,
// are spared compiling the header-only library again.
namespace CLI {
class App;
class Option;
class Validator;
}  // namespace CLI

namespace orvella {
class ImageModel;
}

namespace orvella::cli {

// What a command's exit statuses mean.
struct ExitStatuses {
  int Failure;       // the command could not do its work (an exception included)
  int WrongUsage;
  const char* Text;  // the meaning of each status, for the help texts
};

inline constexpr ExitStatuses kPlainStatuses{
    1, 2, "0 done; 1 failed (an output refused included); 2 wrong usage"};
inline constexpr ExitStatuses kExtractStatuses{
    1, 2, "0 everything asked for extracted; 1 something not (each named), or nothing could be read; 2 wrong usage"};
// As cmp's.
inline constexpr ExitStatuses kCompareStatuses{
    2, 2, "0 identical; 1 different; 2 trouble (wrong usage, an image that cannot be read)"};
// As a file system check's: bits that add up.
inline constexpr ExitStatuses kCheckStatuses{
    8, 16,
    "bits that add up: 0 nothing wrong, or only errors the codes correct; 4 uncorrectable "
    "sectors remain; 8 the image cannot be read, or only partly, or a requested repair was "
    "not written (its output refused included); 16 wrong usage"};

// The commands and what runs each.
class CommandTable {
 public:
  struct Entry {
    CLI::App* App;
    ExitStatuses Statuses;
    std::function<int()> Run;
  };

  explicit CommandTable(CLI::App& tool) : tool_(tool) {}

  // An options struct that lives as long as the table, for a command's options to bind to.
  template <typename T>
  T& Options() {
    auto kept = std::make_shared<T>();
    T& options = *kept;
    kept_.push_back(std::move(kept));
    return options;
  }
  // Declares a command; its options are added to the returned App.
  CLI::App& Add(const std::string& name, const std::string& summary, const ExitStatuses& statuses,
                std::function<int()> run);

  const std::vector<Entry>& Entries() const { return entries_; }
  const Entry* Find(const std::string& name) const;

 private:
  CLI::App& tool_;
  std::vector<Entry> entries_;
  std::vector<std::shared_ptr<void>> kept_;
};

// Every command of the tool (CommandLine.cpp).
void DeclareCommands(CommandTable& table);

// Runs the tool on the words after its name; returns the exit status.
int RunCommandLine(const std::vector<std::string>& words);

// Options every command declares the same way.
CLI::Option* AddImage(CLI::App& command, std::string& image,
                      const std::string& help = "the full image file (main data, then spare data)");
CLI::Option* AddJson(CLI::App& command, bool& json, const std::string& help);
CLI::Option* AddForce(CLI::App& command, bool& force);
CLI::Option* AddRow(CLI::App& command, std::string& row);
// Refuses an empty file name where a file is to be written.
CLI::Validator FileName();

// The row that --row names: a position counted from 1, else a partition's name (exactly,
// or else in any case when only one partition matches). False, with `problem` saying
// why, when it names none or more than one.
bool ResolveRow(const ImageModel& model, const std::string& row, std::size_t& index,
                std::string& problem);
// The same over the partitions' names in table order; `shownBy` names the command that
// lists them.
bool ResolveRow(const std::vector<std::string>& names, const std::string& row, std::size_t& index,
                std::string& problem, const std::string& shownBy = "list");

// Wrong usage found after parsing: names it in one line on standard error, pointing to
// the command's help, and returns `status`.
int UsageProblem(const std::string& command, const std::string& problem, int status = 2);

// Says on standard error when the file at `path` is not a whole image and returns its
// shape; NotWholeText(shape) is the reason for a --json field. A file that cannot be
// read counts as whole here: the command says what is wrong with it.
DumpShape NoteNotWhole(const std::string& command, const std::string& path);

}  // namespace orvella::cli
