// quarry-cli web: writes the site search page (its files, WebPageFile.h, and its settings
// quarry-search.json) beside the index or into --out DIR.
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
  std::string out_;
  std::string siteRoot_;
};

}  // namespace quarry
