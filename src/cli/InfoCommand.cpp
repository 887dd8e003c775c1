#include "cli/InfoCommand.h"

#include <cstdio>

#include "cli/RecordWriter.h"
#include "database/IndexDatabase.h"
#include "database/IndexMessages.h"

namespace quarry {

InfoCommand::InfoCommand(CLI::App& parent)
    : Command(parent, "info", "Show the statistics of the index.") {
  App().footer(R"(
Output, one per line: "Index: " and the full path of qrywDb.dat, "Words: " and the number of
words, "Pages: " and the number of pages, "Date: " and the time of the last save (as
"December 08, 2026  14:05:09"), "Size: " and the bytes of qrywDb.dat and qryfDb.dat together.

Exit status: 0 shown; 1 no index in DIR or it cannot be opened; 2 usage error.)");
}

int InfoCommand::Run() {
  IndexDatabase database(IndexDirectory());
  if (!OpenExisting(database)) return 1;
  std::fputs(StatisticsLines(database).c_str(), stdout);
  return RecordWriter::Finish() ? 0 : 1;
}

}  // namespace quarry
