#include "search/IndexSource.h"

#include <cerrno>

#include "database/FileHeader.h"
#include "io/DatabaseDirectory.h"
#include "io/DatabaseFile.h"
#include "io/FileError.h"
#include "search/BundleFormat.h"

namespace quarry {

namespace {

std::string ReadIndexFile(const std::string& folder, const std::string& name) {
  DatabaseFile file;
  if (!file.Open(folder, name, DatabaseFile::Access::kRead)) {
    if (file.OpenErrorNumber() == ENOENT && name == kTitleFileName) {
      const auto fresh = FileHeader::Fresh().Encode();
      return std::string(fresh.begin(), fresh.end());
    }
    throw FileError(file.OpenError());
  }
  std::string bytes(static_cast<std::size_t>(file.Length()), '\0');
  bytes.resize(file.Read(bytes.data(), bytes.size()));
  return bytes;
}

}  // namespace

std::array<std::string, 3> ReadIndexFiles(const std::string& folder) {
  return {ReadIndexFile(folder, kWordFileName), ReadIndexFile(folder, kPageFileName),
          ReadIndexFile(folder, kTitleFileName)};
}

std::string IndexSourceHash(const std::array<std::string, 3>& files) {
  return ContentHash(files[0] + files[1] + files[2]);
}

}  // namespace quarry
