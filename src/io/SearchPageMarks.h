// How the files of the search page that 'quarry-cli web' writes are known again, so that an
// index never takes its own search page in (SitePages).
#pragma once

#include <cstddef>
#include <string_view>

namespace quarry {

// The page's own file, the first of the page's files (QUARRY_WEB_FILES in src/CMakeLists.txt).
inline constexpr char kWebPageName[] = QUARRY_WEB_PAGE;

// The settings file 'quarry-cli web' writes beside the page's files.
inline constexpr char kWebSettingsName[] = "quarry-search.json";

// The marks of the files 'quarry-cli web' writes: the page's files hold kWebPageMark within
// their first kWebPageMarkWithin bytes, the settings file holds kWebSettingsMark within its
// first kWebSettingsMarkWithin bytes.
inline constexpr std::string_view kWebPageMark = "quarry web: generated file";
inline constexpr std::size_t kWebPageMarkWithin = 256;
inline constexpr std::string_view kWebSettingsMark = "\"generator\": \"quarry-cli web\"";
inline constexpr std::size_t kWebSettingsMarkWithin = 4096;

}  // namespace quarry
