#include "cli/WordsCommand.h"

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

Exit status: 0 listed; 1 no index in DIR or it cannot be opened; 2 usage error.)");
  AddNulOption();
}

int WordsCommand::Run() {
  IndexDatabase database(IndexDirectory());
  LoadedIndex index;
  if (!LoadExisting(database, index)) return 1;
  WordList& wordList = index.words;

  RecordWriter out(NulTerminated());
  std::string pages;
  for (const WordEntry* entry = wordList.GetFirst(); entry != nullptr; entry = wordList.GetNext()) {
    pages.clear();
    for (const std::int32_t page : entry->GetPages()) {
      if (!pages.empty()) pages += ' ';
      pages += std::to_string(page);
    }
    out.Field(entry->GetText());
    out.Field(pages);
    out.EndRecord();
  }
  return RecordWriter::Finish() ? 0 : 1;
}

}  // namespace quarry
