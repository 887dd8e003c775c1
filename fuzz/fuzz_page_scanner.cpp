// One page through the page scanner, compared with the scanning rules restated plainly: the
// HTML test over pieces, the title search, and the words the filter, splitter and trimming give.
// The raw bytes then go through a page file and IndexDatabase::ScanPage, which must agree.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "database/IndexDatabase.h"
#include "indexing/HtmlTextFilter.h"
#include "indexing/PageScanner.h"
#include "model/TextList.h"
#include "model/TrimWord.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "model/WordSplitter.h"

namespace quarry::fuzz {
namespace {

bool ReferenceIsHtml(std::string_view reads) {
  bool found = false;
  ForEachPiece(reads, [&](std::string_view piece) {
    found = AsciiLower(piece).find("html") != std::string::npos;
    return !found;
  });
  return found;
}

// The title search: the first occurrence of the current tag decides; an empty one ('<' right
// after it) moves on to the next tag from the start of the page. A title with no '<' after it
// in its piece runs to the piece's end, without the LF; an empty title counts as none.
std::string ReferenceTitle(std::string_view reads, const std::string& path) {
  static constexpr std::array<std::string_view, 7> kTags = {"<title>", "<h1>", "<h2>", "<h3>",
                                                            "<h4>",    "<h5>", "<h6>"};
  for (std::string_view tag : kTags) {
    bool empty = false;
    bool found = false;
    std::string title;
    ForEachPiece(reads, [&](std::string_view piece) {
      const std::string lower = AsciiLower(piece);
      const std::size_t at = lower.find(tag);
      if (at == std::string::npos) return true;
      found = true;
      const std::size_t from = at + tag.size();
      if (from < lower.size() && lower[from] == '<') {
        empty = true;
        return false;
      }
      const std::size_t lt = lower.find('<', from);
      title = lower.substr(from, lt == std::string::npos ? std::string::npos : lt - from);
      if (lt == std::string::npos && !title.empty() && title.back() == '\n') title.pop_back();
      return false;
    });
    if (!found) return path;
    if (!empty) return title.empty() ? path : title;
  }
  return path;
}

std::set<std::string> ReferenceWords(std::string_view reads) {
  std::set<std::string> words;
  HtmlTextFilter filter;
  filter.LoadText(reads);
  char line[512];
  char word[512];
  char work[kWordBufferSize];
  while (filter.ReadLine(line, sizeof line) != nullptr) {
    if (line[0] == '\0') continue;
    WordSplitter splitter;
    splitter.SetLine(line);
    do {
      splitter.NextWord(word);
      if (word[0] == '\0') continue;
      std::string trimmed = AsciiLower(TrimWord(word, work));
      if (!trimmed.empty()) words.insert(std::move(trimmed));
    } while (!splitter.AtEndOfLine());
  }
  return words;
}

// The lists of a build run in which one page was registered before the page under test, which
// therefore gets number 1.
struct Lists {
  WordList words;
  TextList pages;
  TextList titles;

  Lists() {
    words.AddWord("earlier", 0);
    pages.Add("earlier.htm");
    titles.Add("earlier");
  }
};

struct Scratch {
  std::string dir = MakeScratchDir("scan");
  std::string pagePath = dir + "/page.html";
  std::string missingPath = dir + "/missing.html";
  IndexDatabase database{dir + "/db"};

  Scratch() {
    std::filesystem::create_directory(dir + "/db");
    IndexDatabase closed{dir + "/db"};
    Lists lists;
    bool keep = false;
    FUZZ_CHECK(closed.ScanPage(lists.words, lists.pages, lists.titles, pagePath, keep) == 1);
    FUZZ_CHECK(keep && lists.pages.Size() == 1);
    database.Open();
    FUZZ_CHECK(database.IsOpen());
  }
};

}  // namespace
}  // namespace quarry::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarry;
  using namespace quarry::fuzz;
  static Scratch scratch;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const std::string reads = AsPageFileReads(raw);

  // The page's bytes, as the page file hands them out, through the scanner.
  Lists lists;
  PageScanner scanner(lists.words, lists.pages, lists.titles);
  const PageScanner::Outcome outcome = scanner.ScanContents(reads, scratch.pagePath);
  WordList& words = lists.words;
  TextList& pages = lists.pages;
  TextList& titles = lists.titles;
  const bool html = ReferenceIsHtml(reads);
  FUZZ_CHECK(outcome == (html ? PageScanner::Outcome::kIndexed : PageScanner::Outcome::kNotHtml));
  FUZZ_CHECK(pages.Size() == titles.Size());
  FUZZ_CHECK(pages.Size() == (html ? 2u : 1u));

  std::set<std::string> onPage;
  std::vector<std::string> texts;
  for (WordEntry* e = words.GetFirst(); e != nullptr; e = words.GetNext()) {
    const std::string& text = e->GetText();
    const std::vector<std::int32_t>& nums = e->GetPages();
    texts.push_back(text);
    FUZZ_CHECK(text.size() >= 2 && text.size() <= 511);
    FUZZ_CHECK(text.find_first_of(std::string_view(" \n\r\0", 4)) == std::string::npos);
    FUZZ_CHECK(AsciiLower(text) == text);
    FUZZ_CHECK(!nums.empty() && nums.size() <= 2);
    FUZZ_CHECK(std::all_of(nums.begin(), nums.end(), [&](std::int32_t p) {
      return p >= 0 && static_cast<std::size_t>(p) < pages.Size();
    }));
    if (nums.size() == 2) FUZZ_CHECK(nums[0] == 0 && nums[1] == 1);
    if (nums.back() == 1) onPage.insert(text);
  }
  // Strictly descending byte order, so no text twice.
  for (std::size_t i = 1; i < texts.size(); ++i)
    FUZZ_CHECK(std::lexicographical_compare(texts[i].begin(), texts[i].end(), texts[i - 1].begin(),
                                            texts[i - 1].end(), [](char a, char b) {
                                              return static_cast<unsigned char>(a) <
                                                     static_cast<unsigned char>(b);
                                            }));

  if (html) {
    FUZZ_CHECK(pages.At(1) == scratch.pagePath);
    FUZZ_CHECK(titles.At(1) == ReferenceTitle(reads, scratch.pagePath));
    FUZZ_CHECK(onPage == ReferenceWords(reads));
  } else {
    FUZZ_CHECK(words.Size() == 1 && onPage.empty());
  }

  // The raw bytes in a page file, through the database's ScanPage: the same lists.
  WriteFile(scratch.pagePath, raw);
  Lists fromFile;
  bool keep = false;
  FUZZ_CHECK(scratch.database.ScanPage(fromFile.words, fromFile.pages, fromFile.titles,
                                       scratch.pagePath, keep) == 0);
  FUZZ_CHECK(keep == html);
  FUZZ_CHECK(Dump(fromFile.words) == Dump(words));
  FUZZ_CHECK(Dump(fromFile.pages) == Dump(pages));
  FUZZ_CHECK(Dump(fromFile.titles) == Dump(titles));

  // A page that cannot be opened changes nothing and stays in the list.
  keep = false;
  FUZZ_CHECK(scratch.database.ScanPage(fromFile.words, fromFile.pages, fromFile.titles,
                                       scratch.missingPath, keep) == 0);
  FUZZ_CHECK(keep && Dump(fromFile.words) == Dump(words) && Dump(fromFile.pages) == Dump(pages));
  return 0;
}
