// What the command line and the window ask of the system beyond files: the one place, with the
// rest of the file layer, where they learn which system they run on (POSIX here, Win32 in
// win32/System.cpp).
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace quarry {

class System {
 public:
  System() = delete;

  // True when paths may also use '\' between their parts and start with a drive letter ("C:")
  // or with "\\" (Windows); false when only '/' separates parts.
  static bool WindowsPaths();

  // True when the file system takes names that differ only in case for the same file (Windows,
  // macOS); false where another case names another file (Linux).
  static bool FileNamesIgnoreCase();

  // time as the local calendar time of this machine's time zone; nullopt when the system cannot
  // convert it.
  static std::optional<std::tm> LocalTime(std::time_t time);

  // True when standard error is a terminal (a console on Windows).
  static bool StandardErrorIsTerminal();

  // The program's arguments as UTF-8 bytes, the program's name first. On Windows they are taken
  // again in UTF-16 from the system (argv holds the active code page, which cannot hold every
  // name), falling back to argv; elsewhere they are argv's bytes.
  static std::vector<std::string> Arguments(int argc, char** argv);

  // Makes standard output and standard error write bytes as they are (no LF to CR LF on
  // Windows) and a console show them as UTF-8. Elsewhere nothing needs doing.
  static void UseByteStreams();
};

}  // namespace quarry
