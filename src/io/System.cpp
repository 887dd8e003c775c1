#include "io/System.h"

#include <unistd.h>

namespace quarry {

bool System::WindowsPaths() { return false; }

// QUARRY_FILE_NAMES_IGNORE_CASE is 1 on macOS (src/CMakeLists.txt).
bool System::FileNamesIgnoreCase() { return QUARRY_FILE_NAMES_IGNORE_CASE != 0; }

std::optional<std::tm> System::LocalTime(std::time_t time) {
  std::tm local{};
  if (::localtime_r(&time, &local) == nullptr) return std::nullopt;
  return local;
}

bool System::StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::vector<std::string> System::Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void System::UseByteStreams() {}

}  // namespace quarry
