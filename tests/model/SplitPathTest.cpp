#include "model/SplitPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarry {
namespace {

TEST(SplitPathTest, PartsWithoutEmptyAndDotParts) {
  struct Row {
    const char* path;
    bool backslashes;
    std::vector<std::string> parts;  // {"<none>"} for nullopt
  };
  const Row rows[] = {
      {"", false, {}},
      {"/", false, {}},
      {"a", false, {"a"}},
      {"/a/b", false, {"a", "b"}},
      {"./a//b/./", false, {"a", "b"}},
      {"a/../b", false, {"<none>"}},
      {"..", false, {"<none>"}},
      {"...", false, {"..."}},
      {"a\\b", false, {"a\\b"}},
      {"C:\\Users\\u/x", true, {"C:", "Users", "u", "x"}},
      {"\\\\host\\..\\x", true, {"<none>"}},
  };
  for (const Row& row : rows) {
    const auto parts = SplitPath(row.path, row.backslashes);
    const std::vector<std::string> got =
        parts ? std::vector<std::string>(parts->begin(), parts->end())
              : std::vector<std::string>{"<none>"};
    EXPECT_EQ(got, row.parts) << row.path;
  }
}

}  // namespace
}  // namespace quarry
