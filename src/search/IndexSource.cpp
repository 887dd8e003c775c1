#include "search/IndexSource.h"

#include <cerrno>
#include <functional>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "database/FileHeader.h"
#include "io/DatabaseDirectory.h"
#include "io/DatabaseFile.h"
#include "io/FileError.h"

namespace quarry {

namespace {

// Hands the bytes of the index file name in folder to take, a piece at a time.
void ReadIndexFile(const std::string& folder, const std::string& name,
                   const std::function<void(const char*, std::size_t)>& take) {
  DatabaseFile file;
  if (!file.Open(folder, name, DatabaseFile::Access::kRead)) {
    if (file.OpenErrorNumber() == ENOENT && name == kTitleFileName) {
      const auto fresh = FileHeader::Fresh().Encode();
      take(reinterpret_cast<const char*>(fresh.data()), fresh.size());
      return;
    }
    throw FileError(file.OpenError());
  }
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const std::size_t got = file.Read(buffer.data(), buffer.size());
    if (got == 0) break;
    take(buffer.data(), got);
  }
}

constexpr const char* kNames[] = {kWordFileName, kPageFileName, kTitleFileName};

}  // namespace

std::array<std::string, 3> ReadIndexFiles(const std::string& folder) {
  std::array<std::string, 3> files;
  for (std::size_t i = 0; i < files.size(); ++i) {
    ReadIndexFile(folder, kNames[i], [&files, i](const char* bytes, std::size_t size) {
      files[i].append(bytes, size);
    });
  }
  return files;
}

std::string IndexSourceHash(const std::string& folder) {
  // As ContentHash of the three files one after another: XXH32 seed 0, then seed 1.
  XXH32_state_t first;
  XXH32_state_t second;
  XXH32_reset(&first, 0);
  XXH32_reset(&second, 1);
  for (const char* name : kNames) {
    ReadIndexFile(folder, name, [&](const char* bytes, std::size_t size) {
      XXH32_update(&first, bytes, size);
      XXH32_update(&second, bytes, size);
    });
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hash;
  for (const std::uint32_t value : {XXH32_digest(&first), XXH32_digest(&second)}) {
    for (int shift = 28; shift >= 0; shift -= 4) hash += kHex[(value >> shift) & 15];
  }
  return hash;
}

}  // namespace quarry
