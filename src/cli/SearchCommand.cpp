#include "cli/SearchCommand.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string_view>
#include <utility>

#include "cli/RecordWriter.h"
#include "database/IndexDatabase.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"
#include "search/BundleBuilder.h"
#include "search/BundleReader.h"
#include "search/BundleSearch.h"
#include "search/IndexSearch.h"
#include "search/IndexSource.h"
#include "search/Query.h"

namespace quarry {

SearchCommand::SearchCommand(CLI::App& parent)
    : Command(parent, "search", "Find the pages that hold every given word.") {
  App().footer(R"(
Each WORD is cleaned up as the indexer cleans up the words of a page (brackets and trailing
punctuation removed); an argument with blanks counts as several words (white space of any
kind separates them: tabs, line breaks, no-break and other Unicode spaces). Case does not matter in
any script: a WORD finds every indexed word that is the same once both are lower-cased letter
by letter (Привет, ПРИВЕТ and привет alike).

A WORD ending in * is a prefix: it finds every indexed word that begins with it, case folded
alike ('inst*' finds install and Instance; 'j*' works too, as a single letter is kept). The
*s are taken off before the word is cleaned up; a bare * is ignored.

Output: one line per page holding all the words, in page number order: the page number, a
TAB, the page's path, a TAB, its title (as in 'quarry-cli pages'). Nothing is printed when
no page holds them all. With -z each line ends with a NUL byte instead of a line feed.

With --bundle DIR the pages are ranked as the search page ranks them, best first, from the
search bundle that 'quarry-cli web' wrote in DIR (the folder of its quarry-search.json): the
WORDs are read as one query as the page reads it ("two words" in quotes is a phrase, word* a
prefix, punctuation is no part of a word; doc/search-bundle.md), and case and accents do not
matter. The bundle must have been made from this index.

Problems found in the index's files are named on standard error ("quarry-cli: damaged index:
..."), after the pages found in what could be read.

Exit status: 0 searched (whether or not a page was found); 1 no index in DIR, it cannot be
opened or it is damaged, or the bundle is missing, damaged or made from another index; 2 usage
error, or a WORD that is nothing once cleaned up.)");
  App().add_option("WORD", words_, "Words that every page found must hold")->required();
  App()
      .add_option("--bundle", bundle_,
                  "Rank the pages from the search bundle in DIR, as the search page does")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""))
      ->type_name("DIR");
  AddNulOption();
}

int SearchCommand::RunRanked(const std::string& text) {
  const Query query = ParseQuery(text, false);
  if (query.terms.empty()) {
    PrintError("nothing to search for in '" + text + "'");
    return 2;
  }
  IndexDatabase database(IndexDirectory());
  LoadedIndex index;  // the pages and titles; the bundle holds the words
  if (!ReadExisting(database, index, [](std::unique_ptr<WordEntry>) {})) return 1;
  const std::string source = IndexSourceHash(IndexDirectory());
  BundleReader bundle;
  std::string error;
  if (!bundle.Open(bundle_, error)) {
    PrintError(error);
    return 1;
  }
  if (bundle.Source() != source) {
    PrintError("the search bundle in " + bundle_ +
               " was made from another index; run quarry-cli web again");
    return 1;
  }
  SearchResult result;
  try {
    result = SearchBundle(bundle, query);
  } catch (const BundleError& failure) {
    PrintError(failure.what());
    return 1;
  }
  for (const auto& [word, corrected] : result.corrections) {
    PrintError("no page holds '" + word + "': showing results for '" + corrected + "'");
  }
  const std::vector<SearchHit>& hits = result.hits;
  RecordWriter out(NulTerminated());
  for (const SearchHit& hit : hits) {
    const auto number = static_cast<std::size_t>(hit.page);
    if (number >= index.pages.Size()) continue;
    out.Field(std::to_string(hit.page));
    out.Field(index.pages.At(number));
    out.Field(number < index.titles.Size() ? std::string_view(index.titles.At(number))
                                           : std::string_view());
    out.EndRecord();
  }
  return FinishReading();
}

int SearchCommand::Run() {
  if (!bundle_.empty()) {
    std::string text;
    for (const std::string& word : words_) text += (text.empty() ? "" : " ") + word;
    return RunRanked(text);
  }
  std::vector<IndexQueryWord> wanted;
  for (const std::string& argument : words_) {
    std::vector<IndexQueryWord> words = IndexQueryWords(argument);
    if (words.empty()) {
      PrintError("nothing to search for in '" + argument + "'");
      return 2;
    }
    std::move(words.begin(), words.end(), std::back_inserter(wanted));
  }

  // The pages of every stored word whose fold matches a wanted word's, kept as the word file is
  // read: the word list is never held.
  IndexSearch search(std::move(wanted));
  IndexDatabase database(IndexDirectory());
  LoadedIndex index;
  if (!ReadExisting(database, index,
                    [&search](std::unique_ptr<WordEntry> entry) { search.Take(*entry); })) {
    return 1;
  }
  const TextList& pageList = index.pages;
  const TextList& titleList = index.titles;
  const std::vector<std::int32_t> found = search.Pages();

  RecordWriter out(NulTerminated());
  for (const std::int32_t page : found) {
    const auto number = static_cast<std::size_t>(page);
    if (page < 0 || number >= pageList.Size()) continue;  // a damaged page number
    out.Field(std::to_string(page));
    out.Field(pageList.At(number));
    out.Field(number < titleList.Size() ? std::string_view(titleList.At(number))
                                        : std::string_view());
    out.EndRecord();
  }
  return FinishReading();
}

}  // namespace quarry
