// The command line as UTF-8 bytes, whatever the system hands to main.
//
// Quarry keeps paths as bytes, and on Windows those bytes are UTF-8. There, main's argv comes in
// the active code page, which cannot hold every file name; this class takes the command line
// again in UTF-16 from the system and converts each argument to UTF-8. It also puts standard
// output and standard error in binary mode (records end in LF or NUL, never CR LF) and, on a
// console, shows UTF-8. Elsewhere the arguments are passed through as they came. The file
// layer does the system's part (System::Arguments, System::UseByteStreams).
#pragma once

#include <string>
#include <vector>

namespace quarry {

class Utf8Arguments {
 public:
  Utf8Arguments(int argc, char** argv);
  virtual ~Utf8Arguments() = default;

  Utf8Arguments(const Utf8Arguments&) = delete;
  Utf8Arguments& operator=(const Utf8Arguments&) = delete;

  int Count() const { return static_cast<int>(pointers_.size()) - 1; }
  // argv-style: Count() arguments followed by a null pointer; valid while this object lives.
  char** Values() { return pointers_.data(); }

 private:
  std::vector<std::string> arguments_;
  std::vector<char*> pointers_;
};

}  // namespace quarry
