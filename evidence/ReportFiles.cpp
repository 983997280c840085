#include "evidence/ReportFiles.h"

#include "evidence/BlockMap.h"

namespace orvella {

namespace {

std::string E(const std::string& text) { return EscapeMarkup(text); }

// What a NAME.md5 sibling says, never "damage": phones may keep another form of checksum.
std::string CheckCell(const ReportedFile& f) {
  if (!f.Md5Matches) return "";
  return *f.Md5Matches ? "<span class=\"same\">NAME.md5 matches</span>" : "NAME.md5 differs";
}

}  // namespace

std::string VolumeFilesHtml(const std::optional<VolumeFilesFacts>& facts) {
  if (!facts) return "";
  const VolumeFilesFacts& f = *facts;
  std::string html = "<section id=\"efs-files\"><h2>Files of " + E(f.Partition) + "</h2>\n<p>Read from " + E(f.Layer) +
                     (f.FileSystem.empty() ? "" : ": " + E(f.FileSystem)) + ".</p>\n";
  if (!f.Problem.empty()) return html + "<p>The files cannot be listed: " + E(f.Problem) + ".</p></section>\n";
  html +=
      "<table><tr><th>Path</th><th>Kind</th><th>Size</th><th>Modified (as stored)</th><th>MD5</th>"
      "<th>Its NAME.md5</th></tr>\n";
  for (const ReportedFile& r : f.Files) {
    const bool folder = r.Kind == "folder";
    html += "<tr><td class=\"mono\">" + E(r.Path) + "</td><td>" + E(r.Kind) + "</td><td class=\"num\">" +
            (folder ? "" : std::to_string(r.Size)) + "</td><td class=\"mono\">" + E(r.Modified) +
            "</td><td class=\"hex\">" + (folder ? "" : r.Md5.empty() ? "cannot be read whole" : E(r.Md5)) +
            "</td><td>" + CheckCell(r) + "</td></tr>\n";
  }
  html += "</table>\n";
  if (!f.Findings.empty()) {
    html += "<h3>Findings of the file system</h3><ul>\n";
    for (const std::string& text : f.Findings) html += "<li>" + E(text) + "</li>\n";
    html += "</ul>\n";
  }
  return html + "</section>\n";
}

}  // namespace orvella
