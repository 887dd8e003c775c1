// The one error of Quarry's file layer: a read, write, seek, flush, rename or set-length that
// failed. It carries the operating system's text for the failure. The core never catches it;
// each command of the window and of the command line catches it once and shows what().
#pragma once

#include <stdexcept>
#include <string>

namespace quarry {

class FileError : public std::runtime_error {
 public:
  // what() reads "<path>: <the system's text for errorNumber>".
  FileError(const std::string& path, int errorNumber);
  // what() is message as given.
  explicit FileError(const std::string& message);

  // The errno value behind the error, or 0 when there is none.
  int ErrorNumber() const { return errorNumber_; }

 private:
  int errorNumber_ = 0;
};

}  // namespace quarry
