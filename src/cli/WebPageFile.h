// The files of the search page (web/search.html, web/quarry-search.js, web/quarry-search.css),
// built into quarry-cli byte for byte at build time (cmake/EmbedFiles.cmake).
#pragma once

#include <cstddef>
#include <string_view>

#include "io/SearchPageMarks.h"  // the names and marks of these files

namespace quarry {

struct WebPageFile {
  const char* name;  // the file's name in web/ and in the folder 'quarry-cli web' writes
  const unsigned char* bytes;
  std::size_t size;
};

// The three files, in the order above.
extern const WebPageFile kWebPageFiles[3];

}  // namespace quarry
