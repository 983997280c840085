#include "cli/Frame.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <map>

#include "files/FileIO.h"
#include "image/FullImage.h"

namespace orvella::cli {

namespace {

constexpr char kTool[] = "orvella";

constexpr char kOutputsText[] =
    "Outputs: a command never replaces an existing file unless given --force, and never\n"
    "writes a file it reads, however its name is spelled (not even with --force). Every\n"
    "output is written as OUT.part beside OUT and renamed to OUT once complete; a failure\n"
    "or an interrupt (Ctrl+C, SIGTERM, SIGHUP; closing the console on Windows) removes\n"
    "OUT.part and leaves OUT as it was.\n";

constexpr char kNotationText[] =
    "Notation: blocks as `list` writes them, in hex (0x0007), a range with its first and last\n"
    "block (0x0084..0x04FD); a sector by its number and its main-data offset, which is its\n"
    "file offset in a full image (99 at 0x0000C600).\n";

constexpr char kInterruptedText[] =
    "interrupted: the signal's status (130 for Ctrl+C in a POSIX shell); on Windows 0xC000013A";

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Edits (insert, delete, replace) from a to b; for suggestions to a mistyped name.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// The closest of `names` to a mistyped `given`: one it begins, or within two edits.
std::string Suggestion(const std::string& given, const std::vector<std::string>& names) {
  std::string best;
  std::size_t bestDistance = 3;
  for (const std::string& name : names) {
    if (given.size() >= 3 && name.rfind(given, 0) == 0) return name;
    const std::size_t d = Distance(given, name);
    if (d < bestDistance) {
      bestDistance = d;
      best = name;
    }
  }
  return best;
}

std::string DidYouMean(const std::string& given, const std::vector<std::string>& names) {
  const std::string best = Suggestion(given, names);
  return best.empty() ? "" : " (did you mean \"" + best + "\"?)";
}

std::vector<std::string> LongOptionNames(const CLI::App& command) {
  std::vector<std::string> names;
  for (const CLI::Option* option : command.get_options())
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  return names;
}

// One line for what the parser refused.
std::string ParseProblem(const CLI::ParseError& e, const CLI::App& command) {
  if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    const std::vector<std::string> extras = command.remaining();
    const std::string first = extras.empty() ? std::string() : extras.front();
    if (first.size() > 1 && first[0] == '-') {
      const std::string name = first.substr(0, first.find('='));
      return "unknown option \"" + name + "\"" + DidYouMean(name, LongOptionNames(command));
    }
    if (!first.empty()) return "unexpected argument \"" + first + "\"";
  }
  std::string text = e.what();
  // "--layout: 1 required TEXT missing" and the like: an option given without its value.
  const std::size_t colon = text.find(": ");
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) && colon != std::string::npos &&
      text.size() >= 7 && text.compare(text.size() - 7, 7, "missing") == 0)
    return text.substr(0, colon) + " needs a value";
  return text;
}

// `text` in lines of at most `width` characters, each after `indent`.
std::string Wrapped(const std::string& text, const std::string& indent, std::size_t width = 88) {
  std::string out, line;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find(' ', at);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(at, end - at);
    if (!line.empty() && indent.size() + line.size() + 1 + word.size() > width) {
      out += indent + line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = end + 1;
  }
  if (!line.empty()) out += indent + line + "\n";
  return out;
}

std::string CommandHelp(const CLI::App& command) { return command.help(kTool); }

bool Flushed() { return std::fflush(stdout) == 0 && !std::ferror(stdout); }

int PrintHelp(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  if (Flushed()) return 0;
  std::fprintf(stderr, "%s: cannot write to standard output\n", kTool);
  return 1;
}

// The tool's own help: its commands, how outputs are written, the notation, and what the
// exit statuses mean.
std::string Overview(const CommandTable& table) {
  std::string text = std::string(kTool) + " " + ORVELLA_VERSION +
                     ": full NAND images of i9000-like phones (main data of every block, then "
                     "its spare data)\n\nUsage: orvella COMMAND [OPTIONS] ARGUMENTS...\n"
                     "       orvella COMMAND --help, or orvella help COMMAND: its arguments and options\n"
                     "       orvella --version\n\nCommands:\n";
  std::size_t width = 0;
  for (const auto& e : table.Entries()) width = std::max(width, e.App->get_name().size());
  for (const auto& e : table.Entries()) {
    const std::string& name = e.App->get_name();
    text += "  " + name + std::string(width + 2 - name.size(), ' ') + e.App->get_description() + "\n";
  }
  text += "\nOptions take their value as --opt VALUE or --opt=VALUE. --row takes a partition's\n"
          "position, counted from 1, or its name.\n\n";
  text += kOutputsText;
  text += "\n";
  text += kNotationText;
  text += "\nExit status:\n";
  // One line per kind of statuses, with the commands that have it.
  std::vector<std::pair<const char*, std::string>> kinds;
  for (const auto& e : table.Entries()) {
    auto same = std::find_if(kinds.begin(), kinds.end(),
                             [&](const auto& k) { return k.first == e.Statuses.Text; });
    if (same == kinds.end()) kinds.emplace_back(e.Statuses.Text, e.App->get_name());
    else same->second += ", " + e.App->get_name();
  }
  for (const auto& [meaning, commands] : kinds) text += "  " + commands + ":\n" + Wrapped(meaning, "    ");
  text += "  every command:\n" + Wrapped(kInterruptedText, "    ");
  return text;
}

}  // namespace

CLI::App& CommandTable::Add(const std::string& name, const std::string& summary,
                            const ExitStatuses& statuses, std::function<int()> run) {
  CLI::App* command = tool_.add_subcommand(name, summary);
  command->set_help_flag("-h,--help", "show this help and exit");
  command->footer("\n" + Wrapped(std::string("Exit status: ") + statuses.Text + ".", "") + "\n" +
                  kOutputsText);
  command->get_formatter()->column_width(28);
  entries_.push_back({command, statuses, std::move(run)});
  return *command;
}

const CommandTable::Entry* CommandTable::Find(const std::string& name) const {
  for (const Entry& e : entries_)
    if (e.App->get_name() == name) return &e;
  return nullptr;
}

int UsageProblem(const std::string& command, const std::string& problem, int status) {
  std::fprintf(stderr, "%s: %s: %s; see \"%s %s --help\"\n", kTool, command.c_str(), problem.c_str(),
               kTool, command.c_str());
  return status;
}

int RunCommandLine(const std::vector<std::string>& words) {
  CLI::App tool{"", kTool};
  tool.set_help_flag();  // the tool's own help is the overview below
  // Options are --name everywhere: on Windows too a word that starts with '/' is an
  // argument (extract's paths inside a volume, /nv_data.bin), never an option.
  tool.allow_windows_style_options(false);
  CommandTable table(tool);
  DeclareCommands(table);
  std::vector<std::string> names;
  for (const auto& e : table.Entries()) names.push_back(e.App->get_name());
  const auto unknownCommand = [&](const std::string& word) {
    std::fprintf(stderr, "%s: unknown command \"%s\"%s; see \"%s --help\"\n", kTool, word.c_str(),
                 DidYouMean(word, names).c_str(), kTool);
    return 2;
  };

  if (words.empty()) {
    std::fprintf(stderr, "%s: no command given; see \"%s --help\"\n", kTool, kTool);
    return 2;
  }
  const std::string& first = words[0];
  if (first == "--version" && words.size() == 1) {
    std::printf("%s %s\n", kTool, ORVELLA_VERSION);
    return Flushed() ? 0 : 1;
  }
  if ((first == "--help" || first == "-h" || first == "help") && words.size() == 1)
    return PrintHelp(Overview(table));
  if (first == "help") {
    const CommandTable::Entry* entry = table.Find(words[1]);
    if (!entry) return unknownCommand(words[1]);
    if (words.size() > 2) return UsageProblem("help", "give one command only");
    return PrintHelp(CommandHelp(*entry->App));
  }
  const CommandTable::Entry* entry = table.Find(first);
  if (!entry) {
    if (first.size() > 1 && first[0] == '-') {
      std::fprintf(stderr, "%s: unknown option \"%s\" before the command; see \"%s --help\"\n", kTool,
                   first.c_str(), kTool);
      return 2;
    }
    return unknownCommand(first);
  }

  std::vector<std::string> args(words.rbegin(), words.rend());  // CLI11 takes the last first
  try {
    tool.parse(args);
  } catch (const CLI::CallForHelp&) {
    return PrintHelp(CommandHelp(*entry->App));
  } catch (const CLI::ParseError& e) {
    return UsageProblem(first, ParseProblem(e, *entry->App), entry->Statuses.WrongUsage);
  }
  // Memory that cannot be had ends the command with its message, never with an abort.
  try {
    return entry->Run();
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", kTool, first.c_str(), e.what());
    return entry->Statuses.Failure;
  }
}

CLI::Option* AddImage(CLI::App& command, std::string& image, const std::string& help) {
  return command.add_option("IMAGE", image, help)->required()->type_name("");
}

CLI::Option* AddJson(CLI::App& command, bool& json, const std::string& help) {
  return command.add_flag("--json", json, help);
}

CLI::Option* AddForce(CLI::App& command, bool& force) {
  return command.add_flag("--force", force,
                          "replace an output file that exists already (never a file the command reads)");
}

CLI::Option* AddRow(CLI::App& command, std::string& row) {
  return command.add_option("--row", row, "the partition: its position, counted from 1, or its name")
      ->type_name("N|NAME");
}

CLI::Validator FileName() {
  return CLI::Validator(
      [](std::string& name) { return name.empty() ? std::string("needs a file name") : std::string(); }, "",
      "FileName");
}

bool ResolveRow(const ImageModel& model, const std::string& row, std::size_t& index,
                std::string& problem) {
  const std::size_t count = std::min(model.EntryCount(), model.PartitionRows.size());
  std::vector<std::string> names;
  for (std::size_t k = 0; k < count; ++k) names.push_back(model.PartitionRows[k].PartitionName);
  return ResolveRow(names, row, index, problem);
}

bool ResolveRow(const std::vector<std::string>& names, const std::string& row, std::size_t& index,
                std::string& problem, const std::string& shownBy) {
  const std::size_t count = names.size();
  if (!row.empty() && row.size() <= 10 && row.find_first_not_of("0123456789") == std::string::npos) {
    const unsigned long long position = std::stoull(row);
    if (position >= 1 && position <= count) {
      index = static_cast<std::size_t>(position - 1);
      return true;
    }
    problem = "the image has " + std::to_string(count) + " partitions; there is no row " + row;
    return false;
  }
  // A name: exactly as the table holds it, else in any case.
  for (const bool anyCase : {false, true}) {
    std::vector<std::size_t> found;
    for (std::size_t k = 0; k < count; ++k) {
      const std::string& name = names[k];
      if (anyCase ? Lower(name) == Lower(row) : name == row) found.push_back(k);
    }
    if (found.size() == 1) {
      index = found.front();
      return true;
    }
    if (found.size() > 1) {
      problem = "rows";
      for (std::size_t i = 0; i < found.size(); ++i)
        problem += (i == 0 ? " " : i + 1 == found.size() ? " and " : ", ") + std::to_string(found[i] + 1);
      problem += " are all named \"" + row + "\"; give the row's position instead";
      return false;
    }
  }
  problem = "no partition is named \"" + row + "\"" + DidYouMean(row, names) + "; `orvella " + shownBy +
            "` shows the table";
  return false;
}

DumpShape NoteNotWhole(const std::string& command, const std::string& path) {
  File file;
  std::string error;
  std::uint64_t size = 0;
  if (!file.OpenRead(path, error) || !file.Size(size, error) || size > kMaxImageFileSize) return {};
  const DumpShape shape = ShapeOfSize(size);
  if (!shape.IsWhole())
    std::fprintf(stderr, "%s: %s: \"%s\" is not a whole image: %s\n", kTool, command.c_str(),
                 path.c_str(), NotWholeText(shape).c_str());
  return shape;
}

}  // namespace orvella::cli
