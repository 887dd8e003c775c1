// The program's arguments: `quarry [PATH...]`, `quarry --help`.
#pragma once

#include <string>
#include <vector>

namespace quarry {

class StartupArguments {
 public:
  // Reads argv[1] to argv[argc - 1]; argv[0] is the program. "-h" or "--help" before a "--"
  // asks for help; any other argument that begins with '-' before a "--" is an error, except
  // "-" alone; every other argument (all of them after "--") is a PATH, its bytes kept.
  // REQUIRES: the toolkit's own options (-platform, -style, ...) already taken out of argv.
  StartupArguments(int argc, const char* const* argv);
  virtual ~StartupArguments() = default;

  bool HelpWanted() const { return helpWanted_; }
  // The first wrong argument's description, or empty.
  const std::string& Error() const { return error_; }
  const std::vector<std::string>& Paths() const { return paths_; }

  // What `quarry --help` prints.
  static const char* HelpText();

 private:
  bool helpWanted_ = false;
  std::string error_;
  std::vector<std::string> paths_;
};

}  // namespace quarry
