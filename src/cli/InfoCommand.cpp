#include "cli/InfoCommand.h"

#include <cstdio>
#include <memory>

#include "database/IndexDatabase.h"
#include "database/IndexMessages.h"
#include "model/WordEntry.h"

namespace quarry {

InfoCommand::InfoCommand(CLI::App& parent)
    : Command(parent, "info", "Show the statistics of the index.") {
  App().footer(R"(
Output, one per line: "Index: " and the full path of qrywDb.dat, "Words: " and the number of
words, "Pages: " and the number of pages, "Date: " and the time of the last save (as
"December 08, 2026  14:05:09"), "Size: " and the bytes of qrywDb.dat and qryfDb.dat together.

The whole index is read to check it: each problem found in its files is named on standard
error ("quarry-cli: damaged index: ..."), as the search page names it.

Exit status: 0 shown; 1 no index in DIR, it cannot be opened, or it is damaged; 2 usage
error.)");
}

int InfoCommand::Run() {
  IndexDatabase database(IndexDirectory());
  LoadedIndex index;
  if (!ReadExisting(database, index, [](std::unique_ptr<WordEntry>) {})) return 1;
  std::fputs(StatisticsLines(database).c_str(), stdout);
  return FinishReading();
}

}  // namespace quarry
