#include "DroppedPages.h"

#include <algorithm>
#include <utility>

#include "io/System.h"
#include "model/TextOrder.h"

namespace quarry {

namespace {

// The order of the bytes with A-Z folded to a-z only: entries equal ignoring case are neighbours
// in the page order, so a binary search with this order finds them.
struct FoldedLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return static_cast<unsigned char>(ToLowerAscii(x)) <
             static_cast<unsigned char>(ToLowerAscii(y));
    });
  }
};

// Where the file system does not tell upper and lower case apart in names, dropped paths are
// lower-cased and compared without regard to case; where it does (Linux), a path keeps its case,
// since another case would name another file.
bool IsListed(const std::vector<std::string>& listed, const std::string& page) {
  if (System::FileNamesIgnoreCase()) {
    const auto it = std::lower_bound(listed.begin(), listed.end(), page, FoldedLess());
    return it != listed.end() && EqualsFoldingCase(*it, page);
  }
  const auto it = std::lower_bound(listed.begin(), listed.end(), page, PageOrderLess());
  return it != listed.end() && *it == page;
}

}  // namespace

DroppedPages::DroppedPages(std::function<void(std::size_t)> progress)
    : progress_(std::move(progress)),
      walker_(".", [this](const std::string& warning) { warnings_.push_back(warning); }) {
  walker_.SetProgress(progress_);
}

void DroppedPages::Add(const std::string& path) {
  // A path where nothing exists is not walked: it is listed as given.
  if (!walker_.Add(path)) missing_.push_back(path);
  if (progress_) progress_(Count());
}

std::vector<std::string> DroppedPages::NotListedIn(const std::vector<std::string>& listed) const {
  std::vector<std::string> pages = walker_.SortedPages();
  if (!missing_.empty()) {
    pages.insert(pages.end(), missing_.begin(), missing_.end());
    std::sort(pages.begin(), pages.end(), PageOrderLess());
  }
  if (System::FileNamesIgnoreCase()) {
    for (std::string& page : pages) LowerAsciiInPlace(page);
  }
  pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
  pages.erase(std::remove_if(pages.begin(), pages.end(),
                             [&listed](const std::string& page) { return IsListed(listed, page); }),
              pages.end());
  return pages;
}

}  // namespace quarry
