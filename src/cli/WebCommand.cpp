#include "cli/WebCommand.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <map>
#include <memory>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/IndexCommand.h"
#include "cli/ProgressBar.h"
#include "cli/RecordWriter.h"
#include "cli/WebPageFile.h"
#include "database/IndexDatabase.h"
#include "io/DatabaseDirectory.h"
#include "io/FileError.h"
#include "io/FolderReader.h"
#include "io/OutputFolder.h"
#include "io/SearchPageMarks.h"
#include "io/System.h"
#include "model/SplitPath.h"
#include "search/BundleBuilder.h"
#include "search/BundleFormat.h"
#include "search/BundleWriter.h"
#include "search/IndexSource.h"

namespace quarry {

namespace {

constexpr const char* kFooter = R"(
Writes the search page for the index in --db DIR into --out DIR (default: the index's folder,
made when missing): search.html (a ready page), the page's modules quarry-search*.js and
quarry-search.css, the manifest quarry-search.json, and the search bundle quarry-bundle/, which
the page fetches piece by piece. To make the bundle, every page of the index is read once more:
run 'web' in the folder where you ran 'quarry-cli index', so that the relative paths the index
holds mean the same, and again after every 'index'. A page that is missing or has changed since
it was indexed stops the run, and nothing is written.

--site SITE does both steps: it indexes SITE into --db DIR (default: the current folder, which
must not lie inside SITE) and writes the page and the bundle into SITE/_search/, the site root
being SITE.

Each page's link is its path below the --site-root folder (default: the current folder). Pages
outside it, redirect pages and pages marked noindex are left out of the bundle and named in a
warning. The bundle holds the visible text of every page in it, for the excerpts: mark what must
not be published with data-quarry-ignore. With --with-index (and with --no-bundle, for a page that
reads the three index files instead) a copy of the index is put beside the page when --out is
another folder.

The page's files carry a mark ("quarry web: generated file" near their start, "generator":
"quarry-cli web" in the manifest, the mark file QUARRY-BUNDLE in quarry-bundle/): a file of the
same name without the mark, such as a site's own search.html, a link or a folder there, or an
index file that 'web' did not copy there itself, is never replaced. Then nothing is written and
the exit status is 1. Pieces are written before the manifest that names them; the previous
build's pieces are kept until the next build.

Preview: quarry-cli serve SITE, then open the page's URL below it.

Exit status: 0 written; 1 no index in DIR, a page missing or changed, a file that may not be
replaced, or a write that failed; 2 usage error.)";

constexpr const char* kIndexFiles[] = {kWordFileName, kPageFileName, kTitleFileName};
constexpr const char* kSearchFolder = "_search";

std::string RealPath(const std::string& path) { return FolderReader::RealPath(path); }

bool IsAbsolute(const std::string& path) {
  return !path.empty() &&
         (path.front() == '/' || (System::WindowsPaths() &&
                                  (path.front() == '\\' || (path.size() > 1 && path[1] == ':'))));
}

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
  add(" and ", kWebSettingsName);
  return names;
}

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

// True when path (a real path) is folder or lies below it.
bool Inside(const std::string& path, const std::string& folder) {
  if (path == folder) return true;
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  return path.rfind(prefix, 0) == 0;
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

// Maps stored paths to their URLs below the site root: lexically first (the path made absolute
// against the current folder, against the site root as given and as its real path), then
// through the page's real path, links resolved.
class LinkMaker {
 public:
  LinkMaker(const std::string& rootGiven, const std::string& realRoot, const std::string& here,
            bool windows)
      : here_(here), windows_(windows) {
    Add(realRoot);
    if (const auto given = WebCommand::NormalisePath(
            IsAbsolute(rootGiven) ? rootGiven : here + "/" + rootGiven, windows)) {
      Add(*given);
    }
  }

  // The percent-encoded URL of the page stored as path, or "" when it lies outside.
  std::string UrlOf(const std::string& path) const {
    const std::string absolute = IsAbsolute(path) ? path : here_ + "/" + path;
    if (const auto normal = WebCommand::NormalisePath(absolute, windows_)) {
      if (auto rest = Below(*normal)) return WebCommand::PercentEncode(*rest);
    }
    const std::string real = RealPath(path);
    if (!real.empty()) {
      if (auto rest = Below(real)) return WebCommand::PercentEncode(*rest);
    }
    return {};
  }

 private:
  void Add(std::string root) {
    if (root.empty() || root.back() != '/') root += '/';
    if (std::find(roots_.begin(), roots_.end(), root) == roots_.end()) roots_.push_back(root);
  }
  std::optional<std::string> Below(const std::string& path) const {
    for (const std::string& root : roots_) {
      if (path.size() > root.size() && path.rfind(root, 0) == 0) return path.substr(root.size());
    }
    return std::nullopt;
  }

  std::string here_;
  bool windows_;
  std::vector<std::string> roots_;
};

// The prefixes that a page reading the three index files takes off stored paths for the site
// root given as root (as typed) with real path realRoot, when the index's relative paths are
// relative to the real folder here.
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
  const bool absolute = IsAbsolute(root);
  add(WebCommand::NormalisePath(absolute ? root : here + "/" + root, System::WindowsPaths()));
  if (!absolute) add(WebCommand::NormalisePath(root, System::WindowsPaths()));
  if (realRoot == here) {
    add(std::string());
  } else if (realRoot.rfind(here == "/" ? here : here + "/", 0) == 0) {
    add(realRoot.substr(here == "/" ? 1 : here.size() + 1));
  }
  return strip;
}

void AppendJson(std::string& json, std::string_view text) {
  json += nlohmann::json(std::string(text)).dump();
}

// The size and content hash of each copy of an index file, as the manifest records them.
using Copies = std::map<std::string, std::pair<std::size_t, std::string>>;

std::string CopiesJson(const Copies& copies) {
  std::string json = "{";
  for (const auto& [name, record] : copies) {
    if (json.size() > 1) json += ", ";
    AppendJson(json, name);
    json +=
        ": {\"size\": " + std::to_string(record.first) + ", \"hash\": \"" + record.second + "\"}";
  }
  return json + "}";
}

std::string SettingsJson(const std::string& siteRoot, const std::vector<std::string>& strip,
                         const Copies& copies) {
  std::string json = "{\n  \"generator\": \"quarry-cli web\",\n  \"version\": 1,\n";
  json += "  \"index\": \"./\",\n  \"siteRoot\": \"" + siteRoot + "\",\n  \"strip\": [";
  for (std::size_t i = 0; i < strip.size(); ++i) {
    json += (i == 0 ? "\"" : ", \"") + WebCommand::PercentEncode(strip[i]) + "\"";
  }
  json += "]";
  if (!copies.empty()) json += ",\n  \"copies\": " + CopiesJson(copies);
  return json + "\n}\n";
}

std::string ManifestJson(const std::string& siteRoot, const std::string& bundle,
                         const Copies& copies) {
  return ManifestText(siteRoot, bundle,
                      copies.empty() ? std::string() : ",\n  \"copies\": " + CopiesJson(copies));
}

// What the manifest now in out says of the index copies beside it: the records of a current
// manifest; for a settings file of an older 'web' (version 1, no records), that it copied every
// index file there; none without a manifest of Quarry's.
struct CopyRecords {
  bool olderWeb = false;
  Copies copies;
};
CopyRecords ReadCopyRecords(const OutputFolder& out) {
  CopyRecords records;
  if (out.Inspect(kWebSettingsName, kWebSettingsMark, kWebSettingsMarkWithin) !=
      OutputFolder::Entry::kMarked) {
    return records;
  }
  const nlohmann::json json =
      nlohmann::json::parse(out.ReadFile(kWebSettingsName, 64 << 20).value_or(""), nullptr, false);
  if (!json.is_object()) return records;
  if (!json.contains("copies")) {
    records.olderWeb = json.contains("version") && json["version"] == 1;
    return records;
  }
  const nlohmann::json& copies = json["copies"];
  if (!copies.is_object()) return records;
  for (const auto& [name, record] : copies.items()) {
    if (record.is_object() && record.contains("size") && record["size"].is_number_unsigned() &&
        record.contains("hash") && record["hash"].is_string()) {
      records.copies[name] = {record["size"].get<std::size_t>(), record["hash"].get<std::string>()};
    }
  }
  return records;
}

// "a, b, c and 7 more" of at most shown names.
std::string Named(const std::vector<std::string>& names, std::size_t shown) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < shown; ++i) {
    if (i > 0) text += ", ";
    text += names[i];
  }
  if (names.size() > shown) text += " and " + std::to_string(names.size() - shown) + " more";
  return text;
}

}  // namespace

WebCommand::WebCommand(CLI::App& parent)
    : Command(parent, "web",
              "Write the search page and its search bundle, for the site's visitors.",
              DatabaseOption::kMayBeNew) {
  App().footer(kFooter);
  App()
      .add_option("--site", site_,
                  "Index the site folder SITE into --db first, then write the page into "
                  "SITE/_search/ with SITE as the site root")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""))
      ->type_name("SITE");
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
  App().add_flag("--with-index", withIndex_,
                 "Also put a copy of the three index files beside the page, for other readers");
  App().add_flag("--no-bundle", noBundle_,
                 "Write no bundle: a page that reads the three index files (copied beside it)");
  App().add_flag("-q,--quiet", quiet_, "Print nothing but warnings and errors");
  App()
      .add_option("-j,--jobs", jobs_, "Read pages on N threads (default: one per hardware thread)")
      ->check(CLI::Range(1u, 1024u))
      ->option_text("N");
  App().get_option("--site")->excludes("--out")->excludes("--site-root");
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

std::optional<int> WebCommand::TakeSite() {
  if (site_.empty()) return std::nullopt;
  const std::string realSite = RealPath(site_);
  const std::string realDatabase = RealPath(IndexDirectory().empty() ? "." : IndexDirectory());
  if (realSite.empty()) {
    PrintError("cannot resolve the site folder " + site_);
    return 1;
  }
  // A --db folder that does not exist yet is judged by the folder it will be made in.
  std::string judged = realDatabase;
  if (judged.empty()) {
    const std::string& db = IndexDirectory();
    const std::size_t slash = db.find_last_of('/');
    judged = RealPath(slash == std::string::npos ? std::string(".") : db.substr(0, slash + 1));
  }
  if (!judged.empty() && Inside(judged, realSite)) {
    PrintError("the index would lie inside the site " + site_ +
               " and be published with it: give --db a folder outside the site");
    return 2;
  }
  out_ = (site_.back() == '/' ? site_ : site_ + "/") + kSearchFolder;
  siteRoot_ = site_;
  // The folder for the page is Quarry's once it holds Quarry's manifest; an empty one will do.
  if (FolderReader::KindOf(out_, false) != FolderReader::Kind::kMissing) {
    OutputFolder existing;
    bool empty = false;
    if (FolderReader reader; reader.Open(out_)) {
      FolderReader::Entry entry;
      empty = !reader.Next(entry);
    }
    if (!existing.Open(out_, false) ||
        (!empty && existing.Inspect(kWebSettingsName, kWebSettingsMark, kWebSettingsMarkWithin) !=
                       OutputFolder::Entry::kMarked)) {
      PrintError("will not write into " + out_ +
                 ": it was not made by 'quarry-cli web' (it holds no quarry-search.json of "
                 "Quarry's)");
      return 1;
    }
  }
  IndexCommand::Request request;
  request.paths = {site_};
  request.database = IndexDirectory();
  request.jobs = jobs_;
  request.quiet = quiet_;
  const int status = IndexCommand::Index(request);
  if (status != 0) return status;
  return std::nullopt;
}

int WebCommand::Run() {
  if (const std::optional<int> status = TakeSite()) return *status;
  const std::string& database = IndexDirectory();
  const std::string& outPath = out_.empty() ? database : out_;
  const std::string rootGiven = siteRoot_.empty() ? "." : siteRoot_;
  const std::string here = RealPath(".");
  const std::string realRoot = RealPath(rootGiven);
  const std::string realDatabase = RealPath(database.empty() ? "." : database);
  if (here.empty() || realRoot.empty() || realDatabase.empty()) {
    PrintError(realDatabase.empty() && !database.empty()
                   ? "No index here: " + database + " does not exist."
                   : "cannot resolve the current folder, the site root or the index's folder");
    return 1;
  }
  const bool bundled = !noBundle_;

  // The index is held locked while it is read, so that the copies are one consistent set.
  const std::string knownOut = RealPath(outPath.empty() ? "." : outPath);
  const bool copyIndex = (withIndex_ || !bundled) && (knownOut.empty() || knownOut != realDatabase);
  LoadedIndex index;
  std::array<std::string, 3> files;
  std::string source;
  {
    IndexDatabase indexDatabase(database);
    if (!LoadExisting(indexDatabase, index)) return 1;
    source = IndexSourceHash(database);
    if (copyIndex) files = ReadIndexFiles(database);
  }
  Copies copies;
  if (copyIndex) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      copies[kIndexFiles[i]] = {files[i].size(), ContentHash(files[i])};
    }
  }

  const bool windows = MadeOnWindows(index.pages);
  const LinkMaker links(rootGiven, realRoot, here, windows);
  std::vector<BundleBuilder::Page> pages(index.pages.Size());
  // A page reading the three files links what its settings' prefixes give; the bundle holds
  // each page's URL, once (a second page at the same URL, as through a link, is left out).
  const std::vector<std::string> strip = StripPrefixes(rootGiven, realRoot, here);
  std::size_t outside = 0;
  std::vector<std::string> outsidePaths;
  std::vector<std::string> sameUrl;
  std::set<std::string> urls;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    pages[i].path = index.pages.At(i);
    if (!bundled) {
      if (!PathBelowRoot(pages[i].path, strip, windows)) ++outside;
      continue;
    }
    pages[i].url = links.UrlOf(pages[i].path);
    if (pages[i].url.empty()) {
      ++outside;
      outsidePaths.push_back(pages[i].path);
    } else if (!urls.insert(pages[i].url).second) {
      sameUrl.push_back(pages[i].path);
      pages[i].url.clear();
    }
  }

  BundleBuilder::Bundle bundle;
  if (bundled) {
    BundleBuilder builder;
    builder.SetJobs(jobs_);
    ProgressBar progress(pages.size(), !quiet_);
    builder.SetProgress([&progress](std::size_t done) { progress.Update(done); });
    try {
      IndexPageWords words = IndexPageWords::Of(index.words, pages.size());
      index.words.Clear();  // all the bundle needs of it now, and most of the index's memory
      bundle = builder.Build(words, index.titles, pages, source);
    } catch (const BundleError& error) {
      progress.Clear();
      PrintError(error.what());
      PrintError("nothing written");
      return 1;
    }
  }

  OutputFolder out;
  if (!out.Open(outPath, !out_.empty())) {
    PrintError("cannot open the output folder " + out.Error());
    return out.ErrorNumber() == ENOENT ? 2 : 1;
  }
  const std::string realOut = RealPath(outPath.empty() ? "." : outPath);

  // Everything that may not be replaced is found before anything is written.
  std::vector<std::string> refusals;
  const auto check = [&](const std::string& name, std::string_view mark, std::size_t within) {
    switch (out.Inspect(name, mark, within)) {
      case OutputFolder::Entry::kMissing:
      case OutputFolder::Entry::kMarked:
        break;
      case OutputFolder::Entry::kUnmarked:
        refusals.push_back(out.PathOf(name) + ": it was not written by 'quarry-cli web'");
        break;
      case OutputFolder::Entry::kNotRegular:
        refusals.push_back(out.PathOf(name) + ": it is a link or not a regular file");
        break;
    }
  };
  for (const WebPageFile& file : kWebPageFiles) check(file.name, kWebPageMark, kWebPageMarkWithin);
  check(kWebSettingsName, kWebSettingsMark, kWebSettingsMarkWithin);
  if (copyIndex) {
    const CopyRecords records = ReadCopyRecords(out);
    for (std::size_t i = 0; i < std::size(kIndexFiles); ++i) {
      const std::string name = kIndexFiles[i];
      switch (out.Inspect(name, {}, 0)) {
        case OutputFolder::Entry::kMissing:
          break;
        case OutputFolder::Entry::kNotRegular:
          refusals.push_back(out.PathOf(name) + ": it is a link or not a regular file");
          break;
        case OutputFolder::Entry::kMarked:
        case OutputFolder::Entry::kUnmarked: {
          if (records.olderWeb) break;
          const auto record = records.copies.find(name);
          const std::optional<std::string> there = out.ReadFile(name, std::size_t{1} << 32);
          if (record == records.copies.end() || !there || there->size() != record->second.first ||
              ContentHash(*there) != record->second.second) {
            refusals.push_back(out.PathOf(name) + ": it was not copied there by 'quarry-cli web'");
          }
          break;
        }
      }
    }
  }
  BundleWriter writer(out);
  if (bundled) {
    const std::vector<std::string> found = writer.Check(bundle);
    refusals.insert(refusals.end(), found.begin(), found.end());
  }
  if (!refusals.empty()) {
    for (const std::string& refusal : refusals) PrintError("will not replace " + refusal);
    PrintError("nothing written");
    return 1;
  }

  // The pieces first, then the copies and the page's modules, then the manifest that names the
  // pieces, and search.html last, so that nothing refers to a file not yet written.
  if (bundled) writer.WritePieces(bundle);
  for (std::size_t i = 0; copyIndex && i < files.size(); ++i) out.Replace(kIndexFiles[i], files[i]);
  // The page itself (the first file) last, so that it never refers to files not yet written.
  for (std::size_t i = kWebPageFiles.size(); i-- > 1;) {
    const WebPageFile& file = kWebPageFiles[i];
    out.Replace(file.name, std::string_view(reinterpret_cast<const char*>(file.bytes), file.size));
  }
  const std::string siteRootUrl = RelativeUrl(realOut, realRoot);
  out.Replace(kWebSettingsName, bundled ? ManifestJson(siteRootUrl, bundle.manifest, copies)
                                        : SettingsJson(siteRootUrl, strip, copies));
  const WebPageFile& page = kWebPageFiles[0];
  out.Replace(page.name, std::string_view(reinterpret_cast<const char*>(page.bytes), page.size));
  out.Sync();
  if (bundled) writer.Finish(bundle);

  const std::string shown = outPath.empty() ? "the current folder" : outPath;
  if (!quiet_) {
    if (copyIndex) {
      std::printf("Copied the index (%s, %s, %s) from %s to %s.\n", kWordFileName, kPageFileName,
                  kTitleFileName, database.empty() ? "the current folder" : database.c_str(),
                  shown.c_str());
    }
    if (bundled) {
      std::printf(
          "Wrote the search page and its bundle in %s: %zu of %zu pages, %zu pieces (%zu new, "
          "%zu unchanged).\n",
          shown.c_str(), bundle.entered, pages.size(), bundle.pieces.size(), writer.Written(),
          writer.Kept());
      // Every file of the page but the page itself begins "quarry-search", and so does the
      // manifest: as many as the page has files.
      std::printf(
          "Publish with the site, from %s: %s, the %zu files quarry-search*, and the folder "
          "%s/, which holds the visible text of those %zu pages%s.\n",
          shown.c_str(), kWebPageFiles[0].name, kWebPageFiles.size(), kBundleFolderName,
          bundle.entered, copyIndex ? " (and the three index files, for other readers)" : "");
    } else {
      std::printf("Wrote %s in %s.\n", WrittenNames(89).c_str(), shown.c_str());
    }
  }
  if (outside > 0) {
    PrintError("warning: " + std::to_string(outside) + " of " + std::to_string(pages.size()) +
               " pages are stored outside the site root " + rootGiven + " and get no link" +
               (bundled ? ", and are not in the bundle: " + Named(outsidePaths, 10) : ""));
  }
  if (!sameUrl.empty()) {
    PrintError("warning: " + std::to_string(sameUrl.size()) +
               " pages have the URL of another page (through a link) and are not in the bundle "
               "again: " +
               Named(sameUrl, 10));
  }
  if (!bundle.redirects.empty()) {
    PrintError("warning: " + std::to_string(bundle.redirects.size()) +
               " redirect pages are not in the bundle: " + Named(bundle.redirects, 10));
  }
  if (!bundle.noindex.empty()) {
    PrintError("warning: " + std::to_string(bundle.noindex.size()) +
               " pages marked noindex are not in the bundle: " + Named(bundle.noindex, 10));
  }
  return RecordWriter::Finish() ? 0 : 1;
}

}  // namespace quarry
