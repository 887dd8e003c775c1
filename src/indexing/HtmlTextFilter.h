// Turns one page into the plain text whose words are indexed, and hands it out line by line.
//
// A fixed recognizer, not an HTML parser: it drops tags (33 known forms leave line feeds, tabs
// or blanks behind and set how following white space collapses), skips script bodies, replaces
// a fixed table of character entities and collapses runs of white space.
#pragma once

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
  // length. Call once per filter. Throws FileError when the file cannot be read.
  int LoadPage(PageFile& file);

  // As LoadPage, for page bytes already read (CR LF and NUL as PageFile gives them).
  int LoadText(std::string_view page);

  // Copies the next line of the text, without its line break, into buffer as a NUL-terminated
  // string and returns buffer. A line longer than size - 1 bytes arrives in pieces of size - 1
  // bytes and a remainder. The text after the last line break is returned as a last line when
  // it is not empty; after that, and at once for an empty text, returns nullptr on every call.
  // REQUIRES: size >= 1.
  char* ReadLine(char* buffer, int size);

 private:
  std::string text_;
  int readPosition_ = 0;
};

}  // namespace quarry
