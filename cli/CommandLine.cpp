// Every command of the tool, in the order `orvella --help` lists them: its name, what it
// does, its exit statuses and its options with their help. The commands' own files do
// the work (Commands.h).

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/DumpInput.h"
#include "cli/Frame.h"

namespace orvella::cli {

namespace {

constexpr char kAlgoHelp[] = "digests, separated by commas: md5, sha1, sha256";
constexpr char kSourceHelp[] = "a volume file, or with --row a full image (its partition as the phone reads it)";

constexpr ExitStatuses kPitStatuses{
    1, 2, "0 done; 1 block 1 holds no partition table, or the image cannot be read; 2 wrong usage"};
constexpr ExitStatuses kBmlStatuses{
    1, 2,
    "0 done (findings are listed, not failures); 1 the dump has no reservoir structure, or the "
    "image cannot be read; 2 wrong usage"};
constexpr ExitStatuses kVolumeStatuses{
    1, 2,
    "0 written, or rebuilt (findings such as an older copy taken are listed, not failures); 1 not "
    "an STL volume, refused, or failed (nothing written; an output refused included); 2 wrong usage"};
constexpr char kDumpHelp[] = "the dump: a full image (main data, then spare data) or one in another format";

}  // namespace

void DeclareCommands(CommandTable& table) {
  {
    auto& o = table.Options<ListOptions>();
    CLI::App& c = table.Add("list", "the load's log, then one line per partition", kPlainStatuses,
                            [&o] { return RunList(o); });
    AddImage(c, o.Image, kDumpHelp);
    AddJson(c, o.Json, "the partitions as a JSON array on standard output (the log goes to standard error)");
    AddDumpFormat(c, o.Format, o.Spare);
  }
  {
    auto& o = table.Options<MkImageOptions>();
    CLI::App& c = table.Add("mkimage", "write a new full image with a partition table at block 1",
                            kPlainStatuses, [&o] { return RunMkImage(o); });
    c.add_option("OUT", o.Out, "the image file to write")->required()->check(FileName())->type_name("");
    c.add_option("--chip-mib", o.ChipMiB, "main data of the chip in MiB (1 to 3971)")
        ->required()->type_name("N");
    c.add_option("--table", o.Table,
                 "the partitions in order, NAME:BLOCKS separated by commas; BLOCKS \"rest\" (or 0) "
                 "runs to the end of the chip")
        ->required()->type_name("NAME:BLOCKS,...");
    c.add_option("--fill", o.Fill, "what the data hold: ff (erased, the default), zero, pattern or noise")
        ->type_name("ff|zero|pattern|noise");
    c.add_option("--ecc", o.Ecc, "write every sector's ECC codes into its spare data in this layout")
        ->type_name("LAYOUT");
    c.add_option("--erased-percent", o.ErasedPercent, "leave this share of the sectors erased (0 to 100)")
        ->type_name("P");
    c.add_option("--bad-blocks", o.BadBlocks, "mark these blocks bad, separated by commas")
        ->type_name("B,...");
    c.add_flag("--bml", o.Bml,
               "write the phone's bad-block layer (a 512 MiB chip only): the table in the phone's "
               "layout summing to block 2004, the reservoir with its pool blocks and the driver's "
               "spare marks");
    c.add_option("--remap", o.Remap,
                 "with --bml: replace these blocks from the reservoir (garbage and a bad mark in the "
                 "block, its data in the replacement), separated by commas")
        ->type_name("B,...");
    c.add_option("--stl", o.Stl,
                 "with --bml: make these partitions STL volumes holding FILE's bytes as their "
                 "sectors, separated by commas")
        ->type_name("NAME=FILE,...");
    c.add_option("--stl-header", o.StlHeader,
                 "the STL volumes' directory-header layout: old (the default) or new:E,r,P[,a]")
        ->type_name("old|new:E,r,P");
    c.add_option("--stl-rewrites", o.StlRewrites,
                 "then rewrite N logical pages of each volume through its log blocks, picked by SEED "
                 "(default 1)")
        ->type_name("N[:SEED]");
    AddForce(c, o.Force);
  }
  {
    auto& o = table.Options<ExportOptions>();
    CLI::App& c = table.Add("export", "write partitions into files of their own, named from a prefix",
                            kPlainStatuses, [&o] { return RunExport(o); });
    AddImage(c, o.Image);
    c.add_option("--mode", o.Mode, "main data, spare data, or both (main first)")
        ->required()->type_name("main|spare|full");
    AddRow(c, o.Row);
    c.add_flag("--all", o.All, "every partition, each into its own file");
    c.add_option("--prefix", o.Prefix,
                 "every file is named PREFIX, then the main data's offset in 12 hex digits, then _NAME.bin")
        ->required()->type_name("PREFIX");
    AddForce(c, o.Force);
  }
  {
    auto& o = table.Options<SaveImageOptions>();
    CLI::App& c = table.Add("save-image", "write the main and spare areas into a new full image",
                            kPlainStatuses, [&o] { return RunSaveImage(o); });
    AddImage(c, o.Image);
    c.add_option("OUT", o.Out, "the new image file")->required()->check(FileName())->type_name("");
    AddForce(c, o.Force);
  }
  {
    auto& o = table.Options<BlankOptions>();
    CLI::App& c = table.Add("blank", "find the partitions that are completely blank", kPlainStatuses,
                            [&o] { return RunBlank(o); });
    AddImage(c, o.Image);
  }
  {
    auto& o = table.Options<HashOptions>();
    CLI::App& c = table.Add("hash", "digests of the file, its areas and every partition", kPlainStatuses,
                            [&o] { return RunHash(o); });
    AddImage(c, o.Image);
    c.add_option("--algo", o.Algo, std::string(kAlgoHelp) + " (default sha256)")->type_name("LIST");
    AddJson(c, o.Json, "one JSON object on standard output");
  }
  {
    auto& o = table.Options<DiffOptions>();
    CLI::App& c = table.Add("diff", "what differs between two images, partition by partition",
                            kCompareStatuses, [&o] { return RunDiff(o); });
    c.add_option("A", o.A, "the first image")->required()->type_name("");
    c.add_option("B", o.B, "the second image")->required()->type_name("");
    AddJson(c, o.Json, "one JSON object on standard output");
    c.add_flag("--main-only", o.MainOnly, "leave the spare data aside");
  }
  {
    auto& o = table.Options<ReportOptions>();
    CLI::App& c = table.Add("report", "one HTML file: facts, table, block map, NAND health, digests",
                            kPlainStatuses, [&o] { return RunReport(o); });
    AddImage(c, o.Image);
    c.add_option("-o,--output", o.Out, "the HTML file to write")->required()->check(FileName())
        ->type_name("REPORT.html");
    c.add_option("--compare", o.Compare, "an image to compare with")->type_name("B");
    c.add_option("--algo", o.Algo, std::string(kAlgoHelp) + " (default sha256)")->type_name("LIST");
    AddForce(c, o.Force);
  }
  {
    auto& o = table.Options<CheckOptions>();
    CLI::App& c = table.Add("check", "the NAND's health: ECC findings per sector, bad blocks",
                            kCheckStatuses, [&o] { return RunCheck(o); });
    AddImage(c, o.Image, kDumpHelp);
    c.add_option("--layout", o.Layout, "the spare layout: auto (found in the image, the default) or a name")
        ->type_name("auto|NAME");
    AddJson(c, o.Json, "one JSON object on standard output, lists complete");
    c.add_option("--repair", o.Repair, "also write a repaired copy of the image (in the dump's own format)")
        ->check(FileName())->type_name("OUT");
    AddForce(c, o.Force);
    AddDumpFormat(c, o.Format, o.Spare);
  }
  {
    auto& o = table.Options<ConvertCommandOptions>();
    CLI::App& c = table.Add("convert", "write a dump in another format: full, page, sector, split or main",
                            kPlainStatuses, [&o] { return RunConvert(o); });
    c.add_option("IN", o.In, "the dump to convert")->required()->type_name("");
    c.add_option("OUT", o.Out, "the file to write (a split dump's main data)")
        ->required()->check(FileName())->type_name("");
    c.add_option("--from", o.From,
                 "the input's format; found from its size and content when not given")
        ->type_name("FORMAT");
    c.add_option("--to", o.To,
                 "the output's format (default full): full (main data, then spare data), page (each "
                 "4096-byte page followed by its 128 spare bytes), sector (each 512-byte sector followed "
                 "by its 16), split (spare data in --spare FILE) or main (main data alone)")
        ->type_name("FORMAT");
    c.add_option("--spare", o.Spare,
                 "the spare file of the split side; given twice when both sides are split, the input's first")
        ->type_name("FILE")->check(FileName())->expected(1)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    AddForce(c, o.Force);
  }
  {
    auto& o = table.Options<PitOptions>();
    CLI::App& c = table.Add("pit", "the partition table as the phone reads it, and what each partition holds",
                            kPitStatuses, [&o] { return RunPit(o); });
    AddImage(c, o.Image);
    AddJson(c, o.Json, "the entries as a JSON array on standard output");
  }
  {
    auto& o = table.Options<BmlOptions>();
    CLI::App& c = table.Add("bml", "the phone's bad-block layer: reservoir, pool blocks, remaps, findings",
                            kBmlStatuses, [&o] { return RunBml(o); });
    AddImage(c, o.Image);
    AddJson(c, o.Json, "one JSON object on standard output");
  }
  {
    auto& o = table.Options<VolumeOptions>();
    CLI::App& c = table.Add("volume", "write a partition as the phone reads it (its volume, or remaps undone)",
                            kVolumeStatuses, [&o] { return RunVolume(o); });
    AddImage(c, o.Image);
    AddRow(c, o.Row)->required();
    c.add_option("-o,--output", o.Out, "the file to write")->required()->check(FileName())->type_name("OUT");
    c.add_option("--layer", o.Layer,
                 "stl: the volume as the phone's stlN reads it (the default for STL partitions); bml: "
                 "the blocks as its bmlN reads them, main data only (the default otherwise)")
        ->type_name("bml|stl");
    AddForce(c, o.Force);
  }
  {
    auto& o = table.Options<StlOptions>();
    CLI::App& c = table.Add("stl", "what the rebuild of a partition's STL volume found",
                            kVolumeStatuses, [&o] { return RunStl(o); });
    AddImage(c, o.Image);
    AddRow(c, o.Row)->required();
    AddJson(c, o.Json, "one JSON object on standard output");
  }
  {
    auto& o = table.Options<FilesOptions>();
    CLI::App& c = table.Add("files", "the files and folders inside a volume file or a dump's partition",
                            kPlainStatuses, [&o] { return RunFiles(o); });
    c.add_option("SOURCE", o.Source, kSourceHelp)->required()->type_name("");
    AddRow(c, o.Row);
    AddJson(c, o.Json, "one JSON object on standard output");
  }
  {
    auto& o = table.Options<ExtractOptions>();
    CLI::App& c = table.Add("extract", "copy files and folders out of a volume file or a dump's partition",
                            kExtractStatuses, [&o] { return RunExtract(o); });
    c.add_option("SOURCE", o.Source, kSourceHelp)->required()->type_name("");
    c.add_option("PATH", o.Paths, "the files and folders to copy, as `files` lists them (all when none is given)")
        ->type_name("");
    AddRow(c, o.Row);
    c.add_option("-o,--output", o.Out, "the folder to copy into (made when it does not exist)")
        ->required()->check(FileName())->type_name("DIR");
    AddForce(c, o.Force);
  }
}

}  // namespace orvella::cli
