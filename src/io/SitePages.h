// The pages an index takes from the paths it is given, the same for `quarry-cli index` and for
// the window's drops: SiteWalker's walk, leaving out the search page that 'quarry-cli web'
// writes, so that an index never takes its own search page in.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "io/SiteWalker.h"

namespace quarry {

class SitePages {
 public:
  // indexFolder is the folder that holds (or will hold) the index files ("." for the current
  // one). warn receives SiteWalker's warnings.
  SitePages(const std::string& indexFolder, std::function<void(const std::string&)> warn);
  virtual ~SitePages() = default;

  SitePages(const SitePages&) = delete;
  SitePages& operator=(const SitePages&) = delete;

  // As SiteWalker::Add, except that the index folder and every folder holding the search
  // page's settings (kWebSettingsName with its mark) are left out when they lie inside a folder
  // walked. Returns false, adding nothing, when nothing exists at path.
  bool Add(const std::string& path);

  // Every page gathered, each as often as found, in the page order, without any file named
  // kWebPageName (search.html) that carries the search page's mark.
  std::vector<std::string> SortedPages() const;
  // The same pages with the folders walked (SiteWalker::SortedWalk).
  SiteWalker::Pages SortedWalk() const;

  // The number of pages gathered so far, and a hook that hears it after each folder read.
  std::size_t Count() const { return walker_.Count(); }
  void SetProgress(std::function<void(std::size_t)> progress) {
    walker_.SetProgress(std::move(progress));
  }

 private:
  SiteWalker walker_;
};

}  // namespace quarry
