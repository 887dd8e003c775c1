#include "io/FileError.h"

#include <cstring>

namespace quarry {

FileError::FileError(const std::string& path, int errorNumber)
    : std::runtime_error(path + ": " + std::strerror(errorNumber)), errorNumber_(errorNumber) {}

FileError::FileError(const std::string& message) : std::runtime_error(message) {}

}  // namespace quarry
