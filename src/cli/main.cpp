// quarry-cli: builds and reads Quarry's word index from the command line.
#include <exception>
#include <new>

#include <CLI/CLI.hpp>

#include "cli/IndexCommand.h"
#include "cli/InfoCommand.h"
#include "cli/PagesCommand.h"
#include "cli/PrintError.h"
#include "cli/SearchCommand.h"
#ifdef QUARRY_SERVE
#include "cli/ServeCommand.h"
#endif
#include "cli/Utf8Arguments.h"
#include "cli/WebCommand.h"
#include "cli/WordsCommand.h"
#include "io/FileError.h"

// Only the parser's set-up, before any input is read, runs outside the handlers below.
int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape)
  CLI::App app(
      "Builds the word index of a web site's HTML pages (qrywDb.dat, qryfDb.dat, "
      "qryiDb.dat) and reads it back.",
      "quarry-cli");
  app.require_subcommand(1);
  app.set_version_flag("--version", "quarry-cli " QUARRY_VERSION);
  app.footer(
      "\nRun 'quarry-cli COMMAND --help' for the options and output of a command.\n"
      "Exit status: 0 success, 1 failure, 2 usage error.");

  quarry::IndexCommand index(app);
  quarry::InfoCommand info(app);
  quarry::PagesCommand pages(app);
  quarry::WordsCommand words(app);
  quarry::SearchCommand search(app);
  quarry::WebCommand web(app);
#ifdef QUARRY_SERVE  // the preview server, when built (QUARRY_BUILD_SERVE)
  quarry::ServeCommand serve(app);
  quarry::Command* const commands[] = {&index, &info, &pages, &words, &search, &web, &serve};
#else
  quarry::Command* const commands[] = {&index, &info, &pages, &words, &search, &web};
#endif

  quarry::Utf8Arguments arguments(argc, argv);
  try {
    app.parse(arguments.Count(), arguments.Values());
  } catch (const CLI::ParseError& error) {
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }

  try {
    for (quarry::Command* command : commands) {
      if (command->WasChosen()) return command->Run();
    }
  } catch (const quarry::FileError& error) {
    quarry::PrintError(error.what());
  } catch (const std::bad_alloc&) {
    quarry::PrintError("out of memory");
  } catch (const std::exception& error) {  // unexpected: a message and status 1, not an abort
    quarry::PrintError(error.what());
  }
  return 1;
}
