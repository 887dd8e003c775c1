#include "io/System.h"

#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "io/win32/WindowsText.h"

namespace quarry {

bool System::WindowsPaths() { return true; }

bool System::FileNamesIgnoreCase() { return true; }

std::optional<std::tm> System::LocalTime(std::time_t time) {
  std::tm local{};
  if (localtime_s(&local, &time) != 0) return std::nullopt;
  return local;
}

bool System::StandardErrorIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

std::vector<std::string> System::Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) arguments.push_back(windows::Utf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

void System::UseByteStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
}

}  // namespace quarry
