#include "cli/PagesCommand.h"

#include <memory>
#include <string>

#include "cli/RecordWriter.h"
#include "database/IndexDatabase.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry {

PagesCommand::PagesCommand(CLI::App& parent)
    : Command(parent, "pages", "List the pages of the index.") {
  App().footer(R"(
Output: one line per page, in page number order: the page number, a TAB, the page's path, a
TAB, its title (lower case; the path again for a page without a title). Paths and titles are
written as the bytes stored in the index; a title may hold TABs itself, so it is everything
after the second TAB. With -z each line ends with a NUL byte instead of a line feed, for paths
that hold line feeds.

Problems found in the index's files are named on standard error ("quarry-cli: damaged index:
..."), after what could be read.

Exit status: 0 listed; 1 no index in DIR, it cannot be opened, or it is damaged; 2 usage
error.)");
  AddNulOption();
}

int PagesCommand::Run() {
  IndexDatabase database(IndexDirectory());
  LoadedIndex index;
  if (!ReadExisting(database, index, [](std::unique_ptr<WordEntry>) {})) return 1;
  const TextList& pageList = index.pages;
  const TextList& titleList = index.titles;

  RecordWriter out(NulTerminated());
  for (std::size_t i = 0; i < pageList.Size(); ++i) {
    out.Field(std::to_string(i));
    out.Field(pageList.At(i));
    out.Field(i < titleList.Size() ? std::string_view(titleList.At(i)) : std::string_view());
    out.EndRecord();
  }
  return FinishReading();
}

}  // namespace quarry
