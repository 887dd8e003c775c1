// What a reader sees of a page, for the search bundle: its title as written, its headings with
// the anchors that lead to them, the visible text that excerpts are cut from, its language and
// whether it is a page to list at all. doc/search-bundle.md ("Fields", "Visible text") has the
// rules.
//
// A quick scanner over the page's bytes, not a full HTML parser: it knows start and end tags,
// attributes, comments, raw-text elements and character references, and is sound on any bytes
// (a page that ends inside a construct ends cleanly; nesting is bounded).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quarry {

struct PageOutline {
  struct Heading {
    std::string anchor;  // "" when none leads to it
    std::string text;
    int level = 1;  // 1 to 6
  };

  std::string title;  // the first <title>'s text, or the first heading's; "" when neither
  std::vector<Heading> headings;
  std::string text;       // the visible text, at most kTextLimit bytes (cut at a code point)
  std::string lang;       // <html lang>'s primary subtag, lower case; "" when absent
  bool redirect = false;  // a <meta http-equiv="refresh"> naming a URL
  bool noindex = false;   // a <meta name="robots"> whose content says noindex

  static constexpr std::size_t kTextLimit = std::size_t{64} * 1024;
  static constexpr std::size_t kTitleLimit = 1024;    // title and heading texts, likewise cut
  static constexpr std::size_t kHeadingLimit = 1024;  // headings kept

  // Scans page (bytes as read) into this outline, replacing what it held.
  void Scan(std::string_view page);
};

// Decodes the character reference at text[0] ('&' then a name or '#' number and ';'), appending
// its UTF-8 to out. Returns the bytes it takes, or 0 when it is not one (out is then untouched).
std::size_t DecodeCharacterReference(std::string_view text, std::string& out);

}  // namespace quarry
