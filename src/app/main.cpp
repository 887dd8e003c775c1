// Quarry's desktop program: builds a web site's word index in the current directory.
// Usage: quarry [PATH...]   (quarry --help)
#include <cstdio>

#include "QuarryApp.h"
#include "StartupArguments.h"

int main(int argc, char** argv) {
  // Help needs no display: it is answered before the toolkit starts.
  if (quarry::StartupArguments(argc, argv).HelpWanted()) {
    std::fputs(quarry::StartupArguments::HelpText(), stdout);
    return 0;
  }
  quarry::QuarryApp app(argc, argv);  // takes the toolkit's own options out of argv
  const quarry::StartupArguments arguments(argc, argv);
  if (!arguments.Error().empty()) {
    std::fprintf(stderr, "quarry: %s\nTry 'quarry --help' for more information.\n",
                 arguments.Error().c_str());
    return 2;
  }
  app.InitInstance(arguments.Paths());
  return 0;
}
