#include "cli/PrintError.h"

#include <cstdio>

namespace quarry {

void PrintError(std::string_view message) {
  std::fflush(stdout);
  std::fprintf(stderr, "quarry-cli: %.*s\n", static_cast<int>(message.size()), message.data());
}

}  // namespace quarry
