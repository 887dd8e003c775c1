#include "model/SplitPath.h"

namespace quarry {

std::optional<std::vector<std::string_view>> SplitPath(std::string_view path, bool backslashes) {
  const std::string_view separators = backslashes ? "/\\" : "/";
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of(separators, start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

}  // namespace quarry
