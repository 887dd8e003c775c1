#include "io/FileError.h"

#include <cstring>

namespace quarry {

FileError::FileError(const std::string& path, int errorNumber)
    : FileError(path, std::strerror(errorNumber), errorNumber) {}

FileError::FileError(const std::string& path, const std::string& reason, int errorNumber)
    : std::runtime_error(path + ": " + reason), reason_(reason), errorNumber_(errorNumber) {}

FileError::FileError(const std::string& message) : std::runtime_error(message), reason_(message) {}

FileError::FileError(WholeMessage, const std::string& message, const std::string& reason,
                     int errorNumber)
    : std::runtime_error(message), reason_(reason), errorNumber_(errorNumber) {}

}  // namespace quarry
