// What the command line and the window ask of the system beyond files: the one place, with the
// rest of the file layer, where they learn which system they run on (POSIX here, Win32 in
// win32/System.cpp).
#pragma once

namespace quarry {

class System {
 public:
  System() = delete;

  // True when paths may also use '\' between their parts and start with a drive letter ("C:")
  // or with "\\" (Windows); false when only '/' separates parts.
  static bool WindowsPaths();
};

}  // namespace quarry
