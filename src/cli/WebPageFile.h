// The files of the search page (QUARRY_WEB_FILES in src/CMakeLists.txt: search.html first,
// then the modules and the style sheet of web/), built into quarry-cli byte for byte at build
// time (cmake/EmbedFiles.cmake).
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "io/SearchPageMarks.h"  // the names and marks of these files

namespace quarry {

struct WebPageFile {
  const char* name;  // the file's name in web/ and in the folder 'quarry-cli web' writes
  const unsigned char* bytes;
  std::size_t size;
};

// The files in the list's order: the page itself (kWebPageName) first.
extern const std::span<const WebPageFile> kWebPageFiles;

}  // namespace quarry
