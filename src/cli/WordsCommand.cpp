#include "cli/WordsCommand.h"

#include <memory>
#include <string>

#include "cli/RecordWriter.h"
#include "database/IndexDatabase.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry {

WordsCommand::WordsCommand(CLI::App& parent)
    : Command(parent, "words", "List the words of the index with their pages.") {
  App().footer(R"(
Output: one line per word, in the order of the word file (descending byte order): the word
(lower case, the bytes stored in the index), a TAB, and the numbers of the pages it occurs on,
separated by blanks, in the order they were recorded. Only blanks separate the words of a page,
so a word may itself hold TAB bytes: the page numbers are what follows the last TAB. With -z
each line ends with a NUL byte instead of a line feed.

Problems found in the index's files are named on standard error ("quarry-cli: damaged index:
..."), after what could be read.

Exit status: 0 listed; 1 no index in DIR, it cannot be opened, or it is damaged; 2 usage
error.)");
  AddNulOption();
}

int WordsCommand::Run() {
  IndexDatabase database(IndexDirectory());
  LoadedIndex index;
  RecordWriter out(NulTerminated());
  std::string pages;
  // Each word is written as it is read: the word list is never held whole.
  const auto write = [&](std::unique_ptr<WordEntry> entry) {
    pages.clear();
    for (const std::int32_t page : entry->GetPages()) {
      if (!pages.empty()) pages += ' ';
      pages += std::to_string(page);
    }
    out.Field(entry->GetText());
    out.Field(pages);
    out.EndRecord();
  };
  if (!ReadExisting(database, index, write)) return 1;
  return FinishReading();
}

}  // namespace quarry
