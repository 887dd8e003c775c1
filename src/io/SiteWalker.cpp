#include "io/SiteWalker.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "model/TextOrder.h"

namespace quarry {

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

std::string WithSlash(const std::string& folder) {
  return (!folder.empty() && folder.back() == '/') ? folder : folder + '/';
}

}  // namespace

SiteWalker::SiteWalker(std::function<void(const std::string&)> warn) : warn_(std::move(warn)) {}

bool SiteWalker::Add(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  if (S_ISLNK(info.st_mode)) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode)) info = target;
  }
  if (S_ISDIR(info.st_mode)) {
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
  while (!folders.empty()) {
    const std::string folder = std::move(folders.back());
    folders.pop_back();
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
      warn_("cannot read folder " + folder + ": " + std::strerror(errno) + " (skipped)");
      continue;
    }
    const std::string prefix = WithSlash(folder);
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) {
        if (errno != 0) {
          warn_("cannot read all of folder " + folder + ": " + std::strerror(errno));
        }
        if (progress_) progress_(pages_.size());
        break;
      }
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      std::string child = prefix + name;
      unsigned char type = entry->d_type;
      if (type == DT_UNKNOWN) {
        struct stat info {};
        if (::lstat(child.c_str(), &info) != 0) continue;
        type = S_ISDIR(info.st_mode)   ? DT_DIR
               : S_ISREG(info.st_mode) ? DT_REG
               : S_ISLNK(info.st_mode) ? DT_LNK
                                       : DT_UNKNOWN;
      }
      if (type == DT_DIR) {
        folders.push_back(std::move(child));
      } else if (type == DT_REG) {
        if (HasPageExtension(name)) pages_.push_back(std::move(child));
      } else if (type == DT_LNK && HasPageExtension(name)) {
        struct stat target {};
        if (::stat(child.c_str(), &target) != 0) {
          warn_("cannot follow link " + child + ": " + std::strerror(errno) + " (skipped)");
        } else if (S_ISREG(target.st_mode)) {
          pages_.push_back(std::move(child));
        }
      }
    }
  }
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
