#include "StartupArguments.h"

#include <string_view>

namespace quarry {

StartupArguments::StartupArguments(int argc, const char* const* argv) {
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && (argument == "-h" || argument == "--help")) {
      helpWanted_ = true;
    } else if (options && argument.size() > 1 && argument.front() == '-') {
      if (error_.empty()) error_ = "unknown option " + std::string(argument);
    } else {
      paths_.emplace_back(argument);
    }
  }
}

const char* StartupArguments::HelpText() {
  return R"(Usage: quarry [PATH...]
Builds the word index of a web site's pages: qrywDb.dat, qryfDb.dat and qryiDb.dat in the
current folder.

Without PATHs the window starts with no index open: press Open, add pages with "..." or by
dropping files and folders on the page list, press Build, then Save.

With PATHs the window opens the index in the current folder (creating it when there is none)
and adds the PATHs to the page list as a drop would: a folder adds every page below it that
`quarry-cli index` takes from it (*.htm and *.html files in any case, none whose name begins
with '.', links to folders below it not followed, links to pages outside it left out); any
other PATH is added as given. Paths keep their
bytes: a relative PATH stays relative. Then press Build and Save.

Options:
  -h, --help   Show this help and end.
  --           Take every argument after it as a PATH.
The toolkit's own options (-platform NAME, -style NAME, ...) are also understood.
)";
}

}  // namespace quarry
