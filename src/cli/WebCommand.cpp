#include "cli/WebCommand.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "cli/RecordWriter.h"
#include "cli/WebPageFile.h"
#include "database/FileHeader.h"
#include "database/IndexDatabase.h"
#include "io/DatabaseDirectory.h"
#include "io/DatabaseFile.h"
#include "io/FileError.h"
#include "io/FolderReader.h"
#include "io/OutputFolder.h"
#include "io/System.h"
#include "model/SplitPath.h"

namespace quarry {

namespace {

constexpr const char* kSettingsName = kWebSettingsName;

// The files written, as the help and the report name them: "search.html, a.js, b.css and
// quarry-search.json". With width, a line break takes the place of the space before a name
// that would end past that column.
std::string WrittenNames(std::size_t width = std::string::npos) {
  std::string names;
  std::size_t lineStart = 0;
  const auto add = [&](std::string_view separator, std::string_view name) {
    if (names.size() + separator.size() + name.size() - lineStart > width) {
      names += separator.substr(0, separator.size() - 1);
      names += '\n';
      lineStart = names.size();
    } else {
      names += separator;
    }
    names += name;
  };
  for (std::size_t i = 0; i < kWebPageFiles.size(); ++i) {
    add(i == 0 ? "" : ", ", kWebPageFiles[i].name);
  }
  add(" and ", kSettingsName);
  return names;
}

// The help's text after the options, after the lines that name the files.
constexpr const char* kFooterRest = R"(.
When --out is another folder, the three index files are copied beside the page, all three
taken at one moment under the index's lock. Run it in the folder where you ran 'quarry-cli
index', so that the relative paths the index holds mean the same.

Each page gets a link made from its stored path: the --site-root folder (whole path parts;
default: the current folder) is taken off its start, in the relative and in the absolute
form, and the rest is resolved against the site root's URL, which the settings hold relative
to the page. A page stored outside the site root is listed without a link; their number is
shown as a warning.

The page's files carry a mark ("quarry web: generated file" near their start, and
"generator": "quarry-cli web" in the settings): a file of the same name without the mark,
such as a site's own search.html, or a link or folder there, is never replaced. Then nothing
is written and the exit status is 1. Each file is written to a new temporary file beside it
and renamed over the old one.

Preview: quarry-cli serve SITE, then open the page's URL below it.

Exit status: 0 written; 1 no index in DIR, a file that may not be replaced, or a write that
failed; 2 usage error.)";

constexpr const char* kIndexFiles[] = {kWordFileName, kPageFileName, kTitleFileName};

// The relative URL of folder to from folder from (both real paths), ending in '/'.
std::string RelativeUrl(const std::string& from, const std::string& to) {
  // Real paths hold no ".." part.
  const std::vector<std::string_view> a = SplitPath(from).value_or(std::vector<std::string_view>());
  const std::vector<std::string_view> b = SplitPath(to).value_or(std::vector<std::string_view>());
  std::size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
  std::string url;
  for (std::size_t i = common; i < a.size(); ++i) url += "../";
  for (std::size_t i = common; i < b.size(); ++i) url += WebCommand::PercentEncode(b[i]) + "/";
  return url.empty() ? "./" : url;
}

// The search page's test for an index made on Windows: a path that starts with a drive letter
// or with two backslashes.
bool MadeOnWindows(const TextList& pages) {
  for (std::size_t i = 0; i < pages.Size(); ++i) {
    const std::string_view path = pages.At(i);
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
        (path[2] == '\\' || path[2] == '/')) {
      return true;
    }
    if (path.rfind("\\\\", 0) == 0) return true;
  }
  return false;
}

// The prefixes that the page takes off stored paths for the site root given as root (as typed)
// with real path realRoot, when the index's relative paths are relative to the real folder here.
std::vector<std::string> StripPrefixes(const std::string& root, const std::string& realRoot,
                                       const std::string& here) {
  std::vector<std::string> strip;
  const auto add = [&strip](const std::optional<std::string>& folder) {
    if (!folder) return;
    std::string prefix = *folder;
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    if (std::find(strip.begin(), strip.end(), prefix) == strip.end()) strip.push_back(prefix);
  };
  add(realRoot);
  const bool windowsPaths = System::WindowsPaths();
  const bool absolute =
      !root.empty() &&
      (root.front() == '/' ||
       (windowsPaths && (root.front() == '\\' || (root.size() > 1 && root[1] == ':'))));
  add(WebCommand::NormalisePath(absolute ? root : here + "/" + root, windowsPaths));
  if (!absolute) add(WebCommand::NormalisePath(root, windowsPaths));
  if (realRoot == here) {
    add(std::string());
  } else if (realRoot.rfind(here == "/" ? here : here + "/", 0) == 0) {
    add(realRoot.substr(here == "/" ? 1 : here.size() + 1));
  }
  return strip;
}

std::string SettingsJson(const std::string& siteRoot, const std::vector<std::string>& strip) {
  std::string json = "{\n  \"generator\": \"quarry-cli web\",\n  \"version\": 1,\n";
  json += "  \"index\": \"./\",\n  \"siteRoot\": \"" + siteRoot + "\",\n  \"strip\": [";
  for (std::size_t i = 0; i < strip.size(); ++i) {
    json += (i == 0 ? "\"" : ", \"") + WebCommand::PercentEncode(strip[i]) + "\"";
  }
  return json + "]\n}\n";
}

// The whole index file name in folder, read as a plain file (never through a link) beside the
// database's own shared hold; a missing one (a title file an older index lacks) reads as a fresh
// empty file.
std::string ReadIndexFile(const std::string& folder, const std::string& name) {
  DatabaseFile file;
  if (!file.Open(folder, name, DatabaseFile::Access::kRead)) {
    if (file.OpenErrorNumber() == ENOENT) {
      const auto fresh = FileHeader::Fresh().Encode();
      return std::string(fresh.begin(), fresh.end());
    }
    throw FileError(file.OpenError());
  }
  std::string bytes(static_cast<std::size_t>(file.Length()), '\0');
  bytes.resize(file.Read(bytes.data(), bytes.size()));
  return bytes;
}

}  // namespace

WebCommand::WebCommand(CLI::App& parent)
    : Command(parent, "web", "Write the search page for the index, for the site's visitors.") {
  App().footer(
      "\nWrites the search page for the index in --db DIR into --out DIR (default: the index's\n"
      "folder, made when missing): search.html, the modules it loads when the box is first used,\n"
      "its style sheet and its settings, that is\n" +
      WrittenNames(95) + kFooterRest);
  App()
      .add_option("--out", out_,
                  "Folder to write the page into (default: the index's folder); made when "
                  "missing, its parent must exist")
      ->type_name("DIR");
  App()
      .add_option("--site-root", siteRoot_,
                  "The folder that is the root of the published site (default: the current "
                  "folder)")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""))
      ->type_name("DIR");
}

std::optional<std::string> WebCommand::NormalisePath(std::string_view path, bool windows) {
  const auto parts = SplitPath(path, windows);
  if (!parts) return std::nullopt;
  const bool absolute = !path.empty() && (path.front() == '/' || (windows && path.front() == '\\'));
  std::string normal = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts->size(); ++i) {
    if (i > 0) normal += '/';
    normal += (*parts)[i];
  }
  return normal;
}

std::string WebCommand::PercentEncode(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    }
  }
  return encoded;
}

std::optional<std::string> WebCommand::PathBelowRoot(std::string_view path,
                                                     const std::vector<std::string>& strip,
                                                     bool windows) {
  const std::optional<std::string> normal = NormalisePath(path, windows);
  if (!normal || normal->empty() || *normal == "/") return std::nullopt;
  for (const std::string& prefix : strip) {
    const bool matches = prefix.empty() ? normal->front() != '/' : normal->rfind(prefix, 0) == 0;
    if (!matches) continue;
    if (normal->size() == prefix.size()) return std::nullopt;
    return normal->substr(prefix.size());
  }
  return std::nullopt;
}

int WebCommand::Run() {
  const std::string& database = IndexDirectory();
  const std::string& outPath = out_.empty() ? database : out_;
  const std::string rootGiven = siteRoot_.empty() ? "." : siteRoot_;
  const std::string here = FolderReader::RealPath(".");
  const std::string realRoot = FolderReader::RealPath(rootGiven);
  const std::string realDatabase = FolderReader::RealPath(database);
  if (here.empty() || realRoot.empty() || realDatabase.empty()) {
    PrintError("cannot resolve the current folder, the site root or the index's folder");
    return 1;
  }

  // The index is held locked while it is read, so that the copies are one consistent set.
  const std::string knownOut = FolderReader::RealPath(outPath);
  const bool copyIndex = knownOut.empty() || knownOut != realDatabase;
  LoadedIndex index;
  std::vector<std::string> copies;
  {
    IndexDatabase indexDatabase(database);
    if (!LoadExisting(indexDatabase, index)) return 1;
    if (copyIndex) {
      for (const char* name : kIndexFiles) {
        copies.push_back(ReadIndexFile(database, name));
      }
    }
  }

  OutputFolder out;
  if (!out.Open(outPath, !out_.empty())) {
    PrintError("cannot open the output folder " + out.Error());
    return out.ErrorNumber() == ENOENT ? 2 : 1;
  }
  const std::string realOut = FolderReader::RealPath(outPath);

  // Everything that may not be replaced is found before anything is written.
  std::vector<std::string> refusals;
  const auto check = [&](const std::string& name, std::string_view mark, std::size_t within) {
    switch (out.Inspect(name, mark, within)) {
      case OutputFolder::Entry::kMissing:
      case OutputFolder::Entry::kMarked:
        break;
      case OutputFolder::Entry::kUnmarked:
        if (!mark.empty()) {
          refusals.push_back(out.PathOf(name) + ": it was not written by 'quarry-cli web'");
        }
        break;
      case OutputFolder::Entry::kNotRegular:
        refusals.push_back(out.PathOf(name) + ": it is a link or not a regular file");
        break;
    }
  };
  for (const WebPageFile& file : kWebPageFiles) check(file.name, kWebPageMark, kWebPageMarkWithin);
  check(kSettingsName, kWebSettingsMark, kWebSettingsMarkWithin);
  if (copyIndex) {
    for (const char* name : kIndexFiles) check(name, {}, 0);
  }
  if (!refusals.empty()) {
    for (const std::string& refusal : refusals) PrintError("will not replace " + refusal);
    PrintError("nothing written");
    return 1;
  }

  const std::vector<std::string> strip = StripPrefixes(rootGiven, realRoot, here);
  const bool windows = MadeOnWindows(index.pages);
  std::size_t outside = 0;
  for (std::size_t i = 0; i < index.pages.Size(); ++i) {
    if (!PathBelowRoot(index.pages.At(i), strip, windows)) ++outside;
  }

  for (std::size_t i = 0; i < copies.size(); ++i) out.Replace(kIndexFiles[i], copies[i]);
  out.Replace(kSettingsName, SettingsJson(RelativeUrl(realOut, realRoot), strip));
  // The page itself (the first file) last, so that it never refers to files not yet written.
  for (std::size_t i = kWebPageFiles.size(); i-- > 0;) {
    const WebPageFile& file = kWebPageFiles[i];
    out.Replace(file.name, std::string_view(reinterpret_cast<const char*>(file.bytes), file.size));
  }
  out.Sync();

  const std::string shown = outPath.empty() ? "the current folder" : outPath;
  if (copyIndex) {
    std::printf("Copied the index (%s, %s, %s) from %s to %s.\n", kWordFileName, kPageFileName,
                kTitleFileName, database.empty() ? "the current folder" : database.c_str(),
                shown.c_str());
  }
  std::printf("Wrote %s in %s.\n", WrittenNames(89).c_str(), shown.c_str());
  if (outside > 0) {
    PrintError("warning: " + std::to_string(outside) + " of " + std::to_string(index.pages.Size()) +
               " pages are stored outside the site root " + rootGiven + " and get no link");
  }
  return RecordWriter::Finish() ? 0 : 1;
}

}  // namespace quarry
