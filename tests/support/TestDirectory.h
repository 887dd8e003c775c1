// A fresh directory under the system's temporary directory, removed with its contents at the end
// of the test, and small helpers to read and write whole files in it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace quarry::test {

// Whether the tests can make symbolic links: not on Windows, where that needs a privilege.
#ifdef _WIN32
inline constexpr bool kLinks = false;
#else
inline constexpr bool kLinks = true;
#endif

class TestDirectory {
 public:
  explicit TestDirectory(std::string_view tag = "test") {
    const std::string stem =
        (std::filesystem::temp_directory_path() / ("quarry-" + std::string(tag) + "-")).string();
#ifdef _WIN32
    // No mkdtemp: try random names until one can be created new. Paths use '/' as on Linux.
    std::random_device random;
    for (int attempt = 0; path_.empty(); ++attempt) {
      if (attempt == 100) std::abort();
      std::string candidate = stem + std::to_string(random());
      std::replace(candidate.begin(), candidate.end(), '\\', '/');
      if (std::filesystem::create_directory(candidate)) path_ = candidate;
    }
#else
    std::string pattern = stem + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
#endif
  }
  ~TestDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TestDirectory(const TestDirectory&) = delete;
  TestDirectory& operator=(const TestDirectory&) = delete;

  const std::string& Path() const { return path_; }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }
  std::string operator/(std::string_view name) const { return PathOf(std::string(name)); }

  // Writes bytes to name in the directory and returns the file's path.
  std::string File(const std::string& name, const std::string& bytes) const {
    Write(name, bytes);
    return PathOf(name);
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(PathOf(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(PathOf(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(PathOf(name)); }
  std::uintmax_t Size(const std::string& name) const {
    return std::filesystem::file_size(PathOf(name));
  }

 private:
  std::string path_;
};

}  // namespace quarry::test
