#include "io/SiteWalker.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include "io/FolderReader.h"
#include "io/PageFile.h"
#include "model/TextOrder.h"

namespace quarry {

SiteWalker::SiteWalker(std::function<void(const std::string&)> warn) : warn_(std::move(warn)) {}

bool SiteWalker::Add(const std::string& path) {
  FolderReader::Kind kind = FolderReader::KindOf(path, false);
  if (kind == FolderReader::Kind::kMissing) return false;
  if (kind == FolderReader::Kind::kLink &&
      FolderReader::KindOf(path, true) == FolderReader::Kind::kFolder) {
    kind = FolderReader::Kind::kFolder;
  }
  if (kind != FolderReader::Kind::kFolder) {
    pages_.push_back(Found{path, -1});
    return true;
  }
  const std::string real = FolderReader::RealPath(path);
  if (real.empty()) {
    warn_("cannot read folder " + path + ": its real path cannot be learnt (skipped)");
    return true;
  }
  folders_.push_back(real);
  Walk(path, real, static_cast<std::int32_t>(folders_.size() - 1));
  return true;
}

void SiteWalker::Walk(const std::string& root, const std::string& realRoot, std::int32_t folder) {
  // Depth first with an explicit stack, so that a deep tree cannot exhaust the call stack; the
  // order of visiting does not matter, the pages are sorted afterwards.
  std::vector<std::string> folders{root};
  FolderReader reader;
  FolderReader::Entry entry;
  while (!folders.empty()) {
    const std::string current = std::move(folders.back());
    folders.pop_back();
    if (!reader.Open(current)) {
      warn_("cannot read folder " + current + ": " + reader.Error() + " (skipped)");
      continue;
    }
    const std::string prefix =
        !current.empty() && FolderReader::IsSeparator(current.back()) ? current : current + '/';
    while (reader.Next(entry)) {
      // Names that begin with '.' (.git, .env, editors' files) are no part of the site.
      if (entry.name.front() == '.') continue;
      switch (entry.kind) {
        case FolderReader::Kind::kFolder:
          if (!IsExcluded(prefix + entry.name)) folders.push_back(prefix + entry.name);
          break;
        case FolderReader::Kind::kFile:
          if (HasPageExtension(entry.name)) pages_.push_back(Found{prefix + entry.name, folder});
          break;
        case FolderReader::Kind::kLink:
          // A link to a page inside the folder walked is taken; a link to a folder is not
          // followed. A build checks the page again once it holds it open.
          if (HasPageExtension(entry.name)) {
            std::string child = prefix + entry.name;
            std::string error;
            const FolderReader::Kind target = FolderReader::KindOf(child, true, &error);
            if (target == FolderReader::Kind::kMissing) {
              warn_("cannot follow link " + child + ": " + error + " (skipped)");
            } else if (target == FolderReader::Kind::kFile) {
              const std::string real = FolderReader::RealPath(child);
              if (PageFile::LiesBelow(realRoot, real)) {
                pages_.push_back(Found{std::move(child), folder});
              } else {
                warn_("link " + child + " leads outside " + root + " (to " + real + "): skipped");
              }
            }
          }
          break;
        default:
          break;
      }
    }
    if (!reader.Error().empty()) {
      warn_("cannot read all of folder " + current + ": " + reader.Error());
    }
    if (progress_) progress_(pages_.size());
  }
}

bool SiteWalker::ExcludeFolder(const std::string& path) {
  if (FolderReader::KindOf(path, true) != FolderReader::Kind::kFolder) return false;
  excluded_.push_back(path);
  return true;
}

void SiteWalker::ExcludeFoldersWhere(std::function<bool(const std::string&)> test) {
  excludeTests_.push_back(std::move(test));
}

bool SiteWalker::IsExcluded(const std::string& folder) const {
  const auto same = [&folder](const std::string& excluded) {
    return FolderReader::Same(folder, excluded);
  };
  return std::any_of(excluded_.begin(), excluded_.end(), same) ||
         std::any_of(excludeTests_.begin(), excludeTests_.end(),
                     [&folder](const auto& test) { return test(folder); });
}

std::vector<std::string> SiteWalker::SortedPages() const { return SortedWalk().paths; }

SiteWalker::Pages SiteWalker::SortedWalk() const {
  std::vector<std::size_t> order(pages_.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    return PageOrderLess{}(pages_[a].path, pages_[b].path);
  });
  Pages pages;
  pages.folders = folders_;
  pages.paths.reserve(order.size());
  pages.folderOf.reserve(order.size());
  for (const std::size_t i : order) {
    pages.paths.push_back(pages_[i].path);
    pages.folderOf.push_back(pages_[i].folder);
  }
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
