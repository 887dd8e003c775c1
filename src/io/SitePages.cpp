#include "io/SitePages.h"

#include <exception>
#include <string_view>
#include <utility>

#include "io/FolderReader.h"
#include "io/PageFile.h"
#include "io/SearchPageMarks.h"

namespace quarry {

namespace {

// True when path names a regular file (not a link) holding mark within its first within bytes.
bool HoldsMark(const std::string& path, std::string_view mark, std::size_t within) {
  if (FolderReader::KindOf(path, false) != FolderReader::Kind::kFile) return false;
  PageFile file;
  if (!file.Open(path)) return false;
  try {
    return file.ReadRest().substr(0, within).find(mark) != std::string_view::npos;
  } catch (const std::exception&) {
    return false;  // unreadable: not the search page's
  }
}

}  // namespace

SitePages::SitePages(const std::string& indexFolder, std::function<void(const std::string&)> warn)
    : walker_(std::move(warn)) {
  walker_.ExcludeFolder(indexFolder.empty() ? "." : indexFolder);
  walker_.ExcludeFoldersWhere([](const std::string& folder) {
    return HoldsMark(folder + "/" + kWebSettingsName, kWebSettingsMark, kWebSettingsMarkWithin);
  });
}

bool SitePages::Add(const std::string& path) { return walker_.Add(path); }

std::vector<std::string> SitePages::SortedPages() const { return SortedWalk().paths; }

SiteWalker::Pages SitePages::SortedWalk() const {
  SiteWalker::Pages walk = walker_.SortedWalk();
  SiteWalker::Pages pages;
  pages.folders = std::move(walk.folders);
  for (std::size_t i = 0; i < walk.paths.size(); ++i) {
    const std::string& page = walk.paths[i];
    const std::size_t slash = page.rfind('/');
    if (page.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, kWebPageName) ==
            0 &&
        HoldsMark(page, kWebPageMark, kWebPageMarkWithin)) {
      continue;
    }
    pages.paths.push_back(std::move(walk.paths[i]));
    pages.folderOf.push_back(walk.folderOf[i]);
  }
  return pages;
}

}  // namespace quarry
