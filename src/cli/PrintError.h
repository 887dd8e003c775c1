// The one way quarry-cli reports a failure: a line on standard error behind the program's name.
#pragma once

#include <string_view>

namespace quarry {

// Flushes standard output (what was written stays before the message), then prints
// "quarry-cli: message" and a line feed on standard error.
void PrintError(std::string_view message);

}  // namespace quarry
