// quarry-cli web: writes the site search page (search.html, its modules and style sheet), its
// manifest quarry-search.json and the search bundle quarry-bundle/ beside the index or into
// --out DIR; with --site SITE it indexes SITE first and writes into SITE/_search/.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"

namespace quarry {

class WebCommand : public Command {
 public:
  explicit WebCommand(CLI::App& parent);
  int Run() override;

  // A stored path as the search page reads it before matching: with windows '\' becomes '/',
  // empty and "." parts are dropped, a leading '/' is kept. Nullopt when a part is "..".
  static std::optional<std::string> NormalisePath(std::string_view path, bool windows);

  // path with every byte but A-Z a-z 0-9 - . _ ~ and '/' written as %XX.
  static std::string PercentEncode(std::string_view path);

  // The part of a stored path below the site root, as the page finds it: the path normalised,
  // the first entry of strip (normalised prefixes, each ending in '/', or "" for relative paths)
  // that begins it removed. Nullopt when the page gives it no link (no entry matches, a ".."
  // part, or nothing left).
  static std::optional<std::string> PathBelowRoot(std::string_view path,
                                                  const std::vector<std::string>& strip,
                                                  bool windows);

 private:
  // The folder the page goes into, the site root and whether to index first, once --site has
  // been taken apart. Returns an exit status when the run must stop there.
  std::optional<int> TakeSite();

  std::string out_;
  std::string siteRoot_;
  std::string site_;
  bool withIndex_ = false;
  bool noBundle_ = false;
  bool quiet_ = false;
  unsigned jobs_ = 0;
};

}  // namespace quarry
