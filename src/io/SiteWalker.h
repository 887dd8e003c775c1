// Gathers the page files named on the command line: files as given, folders walked for pages.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarry {

class SiteWalker {
 public:
  // warn receives one line for each folder that cannot be read and each page link that cannot
  // be followed; the walk goes on past them.
  explicit SiteWalker(std::function<void(const std::string&)> warn);
  virtual ~SiteWalker() = default;

  SiteWalker(const SiteWalker&) = delete;
  SiteWalker& operator=(const SiteWalker&) = delete;

  // A path that is not a folder (nor a link to one) is taken as given, whatever its name. A
  // folder is walked through all its subfolders, hidden ones included, without following links
  // to folders; it gives every regular file and link to a regular file whose name ends in .htm
  // or .html (any case), as path + '/' + relative path (no '/' added when path ends in one).
  // Returns false, adding nothing, when nothing exists at path (lstat fails).
  bool Add(const std::string& path);

  // Leaves the folder at path, with everything below it, out of the walks of later Add calls
  // when it lies inside a folder walked; a folder given to Add is itself always walked. The
  // folder is recognised however it is named (std::filesystem::equivalent). Returns false,
  // excluding nothing, when path is not a folder (links followed).
  bool ExcludeFolder(const std::string& path);

  // Leaves out of later walks, like ExcludeFolder, every folder inside a folder walked for
  // which test(folder's path) is true.
  void ExcludeFoldersWhere(std::function<bool(const std::string&)> test);

  // Every page gathered so far, each as often as it was found, in the page list order
  // (quarry::ComparePageOrder).
  std::vector<std::string> SortedPages() const;

  // The number of pages gathered so far.
  std::size_t Count() const { return pages_.size(); }

  // progress, when set, hears Count() after each folder the walk has read, so that a long walk
  // can show how far it has come.
  void SetProgress(std::function<void(std::size_t)> progress) { progress_ = std::move(progress); }

  // True when name ends in ".htm" or ".html", ASCII case-insensitive.
  static bool HasPageExtension(const std::string& name);

 private:
  void Walk(const std::string& root);
  bool IsExcluded(const std::string& folder) const;

  std::function<void(const std::string&)> warn_;
  std::function<void(std::size_t)> progress_;
  std::vector<std::string> pages_;
  std::vector<std::string> excluded_;
  std::vector<std::function<bool(const std::string&)>> excludeTests_;
};

}  // namespace quarry
