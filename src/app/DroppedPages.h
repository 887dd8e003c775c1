// The pages a drop on the page list box adds (also the paths named when the program starts):
// each folder walked for pages as `quarry-cli index` walks it (SitePages, with the index in the
// current folder), every other path as given, leaving out what the box lists already.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "io/SitePages.h"

namespace quarry {

class DroppedPages {
 public:
  // progress (may be empty) hears the number of pages gathered so far, after every folder read
  // and every dropped path.
  explicit DroppedPages(std::function<void(std::size_t)> progress = {});
  virtual ~DroppedPages() = default;

  DroppedPages(const DroppedPages&) = delete;
  DroppedPages& operator=(const DroppedPages&) = delete;

  // Gathers the pages of one dropped path. A folder (or a link to one) gives the pages below it,
  // never itself; a folder below it that cannot be read is skipped with a warning, and the
  // search page's folders and the current folder are left out as `quarry-cli index` leaves
  // them out. Any other path is taken as given, also when nothing exists there: Build decides
  // what it is.
  void Add(const std::string& path);

  // The pages gathered, each once, in the page order, without those already in listed.
  // REQUIRES: listed is in the page order (quarry::PageOrderLess).
  // A path is listed when an entry has its exact bytes; where file names ignore case, paths are
  // lower-cased and an entry equal to one ignoring case counts as listed.
  std::vector<std::string> NotListedIn(const std::vector<std::string>& listed) const;

  // The number of pages gathered so far, repeats included.
  std::size_t Count() const { return walker_.Count() + missing_.size(); }

  // One line for each folder that could not be read and each page link that could not be
  // followed, in the order met.
  const std::vector<std::string>& Warnings() const { return warnings_; }

 private:
  std::function<void(std::size_t)> progress_;
  std::vector<std::string> warnings_;
  std::vector<std::string> missing_;  // dropped paths where nothing exists
  SitePages walker_;
};

}  // namespace quarry
