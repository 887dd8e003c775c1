#include "io/SiteWalker.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "io/FolderReader.h"
#include "model/TextOrder.h"

namespace quarry {

namespace {

// folder with one separator at its end: '/' is added unless one is there (on Windows, '\\' also
// counts as one).
std::string WithSlash(const std::string& folder) {
#ifdef _WIN32
  const bool ends = !folder.empty() && (folder.back() == '/' || folder.back() == '\\');
#else
  const bool ends = !folder.empty() && folder.back() == '/';
#endif
  return ends ? folder : folder + '/';
}

}  // namespace

SiteWalker::SiteWalker(std::function<void(const std::string&)> warn) : warn_(std::move(warn)) {}

bool SiteWalker::Add(const std::string& path) {
  FolderReader::Kind kind = FolderReader::KindOf(path, false);
  if (kind == FolderReader::Kind::kMissing) return false;
  if (kind == FolderReader::Kind::kLink &&
      FolderReader::KindOf(path, true) == FolderReader::Kind::kFolder) {
    kind = FolderReader::Kind::kFolder;
  }
  if (kind == FolderReader::Kind::kFolder) {
    Walk(path);
  } else {
    pages_.push_back(path);
  }
  return true;
}

void SiteWalker::Walk(const std::string& root) {
  // Depth first with an explicit stack, so that a deep tree cannot exhaust the call stack; the
  // order of visiting does not matter, the pages are sorted afterwards.
  std::vector<std::string> folders{root};
  FolderReader reader;
  FolderReader::Entry entry;
  while (!folders.empty()) {
    const std::string folder = std::move(folders.back());
    folders.pop_back();
    if (!reader.Open(folder)) {
      warn_("cannot read folder " + folder + ": " + reader.Error() + " (skipped)");
      continue;
    }
    const std::string prefix = WithSlash(folder);
    while (reader.Next(entry)) {
      switch (entry.kind) {
        case FolderReader::Kind::kFolder:
          if (!IsExcluded(prefix + entry.name)) folders.push_back(prefix + entry.name);
          break;
        case FolderReader::Kind::kFile:
          if (HasPageExtension(entry.name)) pages_.push_back(prefix + entry.name);
          break;
        case FolderReader::Kind::kLink:
          // A link to a page is taken; a link to a folder is not followed.
          if (HasPageExtension(entry.name)) {
            std::string child = prefix + entry.name;
            std::string error;
            const FolderReader::Kind target = FolderReader::KindOf(child, true, &error);
            if (target == FolderReader::Kind::kMissing) {
              warn_("cannot follow link " + child + ": " + error + " (skipped)");
            } else if (target == FolderReader::Kind::kFile) {
              pages_.push_back(std::move(child));
            }
          }
          break;
        default:
          break;
      }
    }
    if (!reader.Error().empty()) {
      warn_("cannot read all of folder " + folder + ": " + reader.Error());
    }
    if (progress_) progress_(pages_.size());
  }
}

bool SiteWalker::ExcludeFolder(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_directory(path, error)) return false;
  excluded_.push_back(path);
  return true;
}

void SiteWalker::ExcludeFoldersWhere(std::function<bool(const std::string&)> test) {
  excludeTests_.push_back(std::move(test));
}

bool SiteWalker::IsExcluded(const std::string& folder) const {
  const auto same = [&folder](const std::string& excluded) {
    std::error_code error;
    return std::filesystem::equivalent(folder, excluded, error);
  };
  return std::any_of(excluded_.begin(), excluded_.end(), same) ||
         std::any_of(excludeTests_.begin(), excludeTests_.end(),
                     [&folder](const auto& test) { return test(folder); });
}

std::vector<std::string> SiteWalker::SortedPages() const {
  std::vector<std::string> pages = pages_;
  std::sort(pages.begin(), pages.end(), PageOrderLess{});
  return pages;
}

bool SiteWalker::HasPageExtension(const std::string& name) {
  const auto endsWith = [&name](std::string_view suffix) {
    return name.size() >= suffix.size() &&
           EqualsFoldingCase(std::string_view(name).substr(name.size() - suffix.size()), suffix);
  };
  return endsWith(".htm") || endsWith(".html");
}

}  // namespace quarry
