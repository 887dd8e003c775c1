// The files of the search page (web/search.html, web/quarry-search.js, web/quarry-search.css),
// built into quarry-cli byte for byte at build time (cmake/EmbedFiles.cmake).
#pragma once

#include <cstddef>
#include <string_view>

namespace quarry {

struct WebPageFile {
  const char* name;  // the file's name in web/ and in the folder 'quarry-cli web' writes
  const unsigned char* bytes;
  std::size_t size;
};

// The three files, in the order above.
extern const WebPageFile kWebPageFiles[3];

// The settings file 'quarry-cli web' writes beside them.
inline constexpr char kWebSettingsName[] = "quarry-search.json";

// The marks of the files 'quarry-cli web' writes: the three files hold kWebPageMark within
// their first kWebPageMarkWithin bytes, the settings file holds kWebSettingsMark.
inline constexpr std::string_view kWebPageMark = "quarry web: generated file";
inline constexpr std::size_t kWebPageMarkWithin = 256;
inline constexpr std::string_view kWebSettingsMark = "\"generator\": \"quarry-cli web\"";
inline constexpr std::size_t kWebSettingsMarkWithin = 4096;

}  // namespace quarry
