// The one reading of a path's parts, shared by the command line's search page writer and its
// preview server: paths are bytes, parts lie between separators.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace quarry {

// The parts of path between '/' (and '\' too when backslashes), in order, without the empty and
// "." parts: "./a//b/" gives a, b; "/" and "" give none. Nullopt when a part is "..". The views
// point into path.
std::optional<std::vector<std::string_view>> SplitPath(std::string_view path,
                                                       bool backslashes = false);

}  // namespace quarry
