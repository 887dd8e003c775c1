// Gathers the page files named on the command line: files as given, folders walked for pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quarry {

class SiteWalker {
 public:
  // The pages gathered, in the page order, each with the folder walk that found it.
  struct Pages {
    std::vector<std::string> paths;
    std::vector<std::string> folders;    // the real paths of the folders walked
    std::vector<std::int32_t> folderOf;  // for each path: its folder's number, -1 if given as is
  };

  // warn receives one line for each folder that cannot be read, each page link that cannot be
  // followed and each page link that leads out of the folder walked; the walk goes on past them.
  explicit SiteWalker(std::function<void(const std::string&)> warn);
  virtual ~SiteWalker() = default;

  SiteWalker(const SiteWalker&) = delete;
  SiteWalker& operator=(const SiteWalker&) = delete;

  // A path that is not a folder (nor a link to one) is taken as given, whatever its name. A
  // folder is walked through all its subfolders, without following links to folders and
  // leaving out every file and folder whose name begins with '.'; it gives every regular file,
  // and every link to a regular file whose real path lies below the folder's real path, whose
  // name ends in .htm or .html (any case), as path + '/' + relative path (no '/' added when path
  // ends in one). Returns false, adding nothing, when nothing exists at path (lstat fails).
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
  // The same pages, with the folders walked: what a build needs to keep each page found by a
  // walk inside its folder when it opens it (BuildEngine::SetWalkedFolders).
  Pages SortedWalk() const;

  // The number of pages gathered so far.
  std::size_t Count() const { return pages_.size(); }

  // progress, when set, hears Count() after each folder the walk has read, so that a long walk
  // can show how far it has come.
  void SetProgress(std::function<void(std::size_t)> progress) { progress_ = std::move(progress); }

  // True when name ends in ".htm" or ".html", ASCII case-insensitive.
  static bool HasPageExtension(const std::string& name);

 private:
  struct Found {
    std::string path;
    std::int32_t folder;  // in folders_, or -1
  };

  void Walk(const std::string& root, const std::string& realRoot, std::int32_t folder);
  bool IsExcluded(const std::string& folder) const;

  std::function<void(const std::string&)> warn_;
  std::function<void(std::size_t)> progress_;
  std::vector<Found> pages_;
  std::vector<std::string> folders_;
  std::vector<std::string> excluded_;
  std::vector<std::function<bool(const std::string&)>> excludeTests_;
};

}  // namespace quarry
