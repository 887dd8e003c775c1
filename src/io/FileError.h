// The one error of Quarry's file layer: a read, write, seek, flush, rename or set-length that
// failed. It carries the operating system's text for the failure. The core lets it pass, but
// for IndexDatabase's save, which catches it only to undo or finish its replacement of the
// files and throws it on as a SaveError (a FileError that says what the disk holds); each
// command of the window and of the command line catches it once and shows what().
#pragma once

#include <stdexcept>
#include <string>

namespace quarry {

class FileError : public std::runtime_error {
 public:
  // what() reads "<path>: <the system's text for errorNumber>".
  FileError(const std::string& path, int errorNumber);
  // what() reads "<path>: <reason>"; errorNumber is the errno behind it, or 0.
  FileError(const std::string& path, const std::string& reason, int errorNumber = 0);
  // what() is message as given.
  explicit FileError(const std::string& message);

  // The errno value behind the error, or 0 when there is none.
  int ErrorNumber() const { return errorNumber_; }
  // What went wrong without the path: the system's text or the reason given (the whole message
  // for an error made from a message alone).
  const std::string& Reason() const { return reason_; }

 protected:
  // For errors that phrase the whole message themselves.
  struct WholeMessage {};
  FileError(WholeMessage, const std::string& message, const std::string& reason, int errorNumber);

 private:
  std::string reason_;
  int errorNumber_ = 0;
};

}  // namespace quarry
