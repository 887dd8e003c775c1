// Turns one page into the plain text whose words are indexed, and hands it out line by line.
//
// A fixed recognizer, not an HTML parser: it drops tags (33 known forms leave line feeds, tabs
// or blanks behind and set how following white space collapses; block and cell tags leave at
// least a blank), skips script bodies, replaces character entities (a fixed table, then numeric
// references and HTML's entity names) and collapses runs of white space (ASCII's, and the
// Unicode spaces of UTF-8 text).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quarry {

class PageFile;

class HtmlTextFilter {
 public:
  HtmlTextFilter() = default;
  virtual ~HtmlTextFilter() = default;

  HtmlTextFilter(const HtmlTextFilter&) = delete;
  HtmlTextFilter& operator=(const HtmlTextFilter&) = delete;

  // Reads file from its current position to its end and builds the text. Returns the text's
  // length (capped at INT_MAX). Call once per filter; a second call replaces the text and reading
  // starts again at its start. Throws FileError when the file cannot be read.
  // A page that ends inside a tag, an entity name or a script body: that unfinished construct
  // adds nothing and the text ends there. A tag of more than 2045 characters between its
  // brackets is read to its '>' and matched as its first 2047 bytes (only the rows that test a
  // tag's start can match it); an entity name of more than 1023 characters (counting the "& "
  // that an ending blank adds) is read to its ';' or blank and matches no entity: one blank.
  int LoadPage(PageFile& file);

  // As LoadPage, for page bytes already read. They are taken as PageFile gives them: CR LF pairs
  // are not folded here (a CR is white space like any other), and a NUL byte reads as a blank.
  int LoadText(std::string_view page);

  // Copies the next line of the text, without its line break, into buffer as a NUL-terminated
  // string and returns buffer. A line longer than size - 1 bytes arrives in pieces of size - 1
  // bytes and a remainder. The text after the last line break is returned as a last line when
  // it is not empty; after that, and at once for an empty text, returns nullptr on every call.
  // The text holds no CR (white space becomes blanks), so only LF breaks lines in practice.
  // REQUIRES: size >= 1.
  char* ReadLine(char* buffer, int size);

  // The whole text, as ReadLine hands it out from the start: valid until the next load.
  std::string_view Text() const { return {text_.get(), textSize_}; }

 private:
  friend class HtmlTextFilterPeer;  // lets the tests check the tag and entity tables directly

  // Page bytes not yet examined.
  struct Input {
    const char* next;
    const char* end;
  };
  // An entity name as read: the bytes before its ';' or blank. A name ended by a blank has the
  // two characters "& " after those bytes.
  struct EntityName {
    std::string_view bytes;
    bool endedByBlank;
  };

  // Builds the text from page. REQUIRES: page holds no NUL byte.
  void Filter(std::string_view page);

  // Reads the rest of a tag whose '<' was just taken, through its '>'. Returns the tag from '<'
  // to '>', cut to its first 2047 bytes, or none (all input taken) when the page ends first.
  static std::optional<std::string_view> ReadTag(Input& in);
  // After a "<script" or "<SCRIPT" tag, moves the input to the next '<' (not taken). Returns
  // false (all input taken) when there is none.
  static bool SkipScript(std::string_view tag, Input& in);
  // Tries every row of the tag table in order; each matching row appends its characters at out
  // (advanced past them, at most 48 bytes in all). Returns the summed weight. A block or cell
  // tag (<div>, <td>, </p>, <br/>, ...) that no row appended anything for appends one blank
  // and weighs at least 1.
  static int HandleTag(std::string_view tag, char*& out);
  // Reads the entity name after a '&' that was just taken, with its ';' or blank. Returns none
  // (all input taken) when the page ends first.
  static std::optional<EntityName> ReadEntityName(Input& in);
  // Appends the group A replacement of the first row naming name, then the group B one, at out
  // (advanced past them, at most 24 bytes in all). A name that no row names and that ended with
  // ';' is a numeric reference or one of libxml2's HTML entity names; its character is appended
  // as UTF-8 instead of group B's blank, unless it is NUL, a control, the blank, a surrogate,
  // beyond U+10FFFF or a Unicode space. Returns true when a character was appended.
  static bool AppendEntity(const EntityName& name, char*& out);

  std::unique_ptr<char[]> text_;  // textSize_ bytes of text, not NUL-terminated
  std::size_t textSize_ = 0;
  std::size_t readPosition_ = 0;
};

// The code point of one of HTML's entity names (libxml2's 253, compared case-sensitively,
// without the '&' and ';'), or -1 for any other name. The page outline decodes titles and
// excerpt text by the same list.
std::int32_t HtmlEntityNameCodePoint(std::string_view name);

}  // namespace quarry
