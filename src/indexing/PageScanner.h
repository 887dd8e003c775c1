// Scans one page of a build into the index: decides whether it is an HTML page, finds its
// title, registers title and path (the path's number in the page list is the page number) and
// files every word of its visible text under that number.
//
// Pages are seen in pieces, as a line reader with a 512-byte buffer hands them out: the bytes up
// to and including the next LF, but at most 511 of them, so a longer line arrives as pieces of
// 511 bytes and a remainder. The HTML test and the title search never look across two pieces.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "io/PageFile.h"
#include "model/PageWords.h"

namespace quarry {

class WordList;
class TextList;

class PageScanner {
 public:
  enum class Outcome {
    kIndexed,     // an HTML page: title, path and words registered
    kNotHtml,     // opened, but no piece holds "html": nothing registered
    kCannotOpen,  // missing, no access, not a regular file, too large or outside the folder
                  // walked: nothing registered
  };

  // What reading one page gives, before anything of it is registered.
  struct ScannedPage {
    Outcome outcome = Outcome::kCannotOpen;
    std::string openError;  // kCannotOpen: the reason, e.g. "Is a directory"
    std::string title;      // kIndexed: the title, lower case, or "" when it has none
    PageWords words;        // kIndexed: the distinct words of its visible text
  };

  // The lists are borrowed and must outlive the scanner.
  PageScanner(WordList& wordList, TextList& pageList, TextList& titleList);
  virtual ~PageScanner() = default;

  PageScanner(const PageScanner&) = delete;
  PageScanner& operator=(const PageScanner&) = delete;

  // Opens path read-only, reads it once and scans it as ScanContents does. A page that cannot be
  // opened gives kCannotOpen with the system's reason in OpenError(). Throws FileError when an
  // opened page cannot be read; the lists then keep what was added before that page.
  Outcome ScanFile(const std::string& path);

  // Scans a page's bytes as read from path (CR LF already folded to LF, NUL to blank). Adds the
  // title (or path, when there is none) to the title list, then path to the page list, then the
  // words; gives kIndexed or kNotHtml.
  Outcome ScanContents(std::string_view contents, std::string_view path);

  // Opens path read-only under rules (PageFile::Open), reads it once and scans it into page,
  // touching no list: pages may be read on several threads at once. Throws FileError when an
  // opened page cannot be read.
  static void Read(const std::string& path, const PageFile::Rules& rules, ScannedPage& page);
  static void Read(const std::string& path, ScannedPage& page) { Read(path, {}, page); }
  // Read in two steps: Open opens path into file, or makes page kCannotOpen and returns false;
  // ReadOpened reads and scans the file Open opened, and closes it.
  static bool Open(const std::string& path, const PageFile::Rules& rules, PageFile& file,
                   ScannedPage& page);
  static void ReadOpened(PageFile& file, ScannedPage& page);
  // As Read, for a page's bytes as read from its file (see ScanContents).
  static void ReadContents(std::string_view contents, ScannedPage& page);

  // Registers a page that Read gave: for kIndexed, adds the title (or path, when there is none)
  // to the title list, then path to the page list, then the words under the page's number.
  // Returns that number, or -1 when the page is not kIndexed (nothing is registered then).
  std::int32_t Register(const ScannedPage& page, std::string_view path);

  // The reason of the last kCannotOpen, e.g. "Is a directory".
  const std::string& OpenError() const { return openError_; }

  // True when some piece of contents holds "html" in any mix of cases.
  static bool IsHtmlPage(std::string_view contents);

  // The page's title, lower case, or "" when it has none. Tags are tried in the order <title>,
  // <h1> ... <h6>, each matched exactly (ASCII case-insensitive) at its first occurrence within
  // a piece; the next tag is tried only when that occurrence is directly followed by '<'. The
  // title runs from the end of the tag to the next '<' of its piece, or to the end of the piece
  // without its LF. An empty result means no title.
  static std::string FindTitle(std::string_view contents);

 private:
  // Cuts the page's visible text into lines and words as the text filter's line reader and the
  // word splitter do, and keeps the words in words.
  static void CollectWords(std::string_view contents, PageWords& words);

  WordList& wordList_;
  TextList& pageList_;
  TextList& titleList_;
  std::string openError_;
};

}  // namespace quarry
