// The program's arguments: help, PATHs kept byte for byte, "--", unknown options.
#include <QtTest>
#include <string>
#include <vector>

#include "StartupArguments.h"

using quarry::StartupArguments;

class StartupArgumentsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void ReadsHelpPathsAndErrors() {
    struct Row {
      std::vector<const char*> arguments;  // after the program's name
      bool help;
      std::vector<std::string> paths;
      std::string error;
    };
    const std::vector<Row> rows = {
        {{}, false, {}, ""},
        {{"site", "-", "./a b.html", "caf\xe9"}, false, {"site", "-", "./a b.html", "caf\xe9"}, ""},
        {{"site", "--help"}, true, {"site"}, ""},
        {{"-h"}, true, {}, ""},
        {{"--", "-h", "--x"}, false, {"-h", "--x"}, ""},
        {{"-x", "site", "--y"}, false, {"site"}, "unknown option -x"},
    };
    for (const Row& row : rows) {
      std::vector<const char*> argv = {"quarry"};
      argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
      const StartupArguments arguments(static_cast<int>(argv.size()), argv.data());
      QCOMPARE(arguments.HelpWanted(), row.help);
      QCOMPARE(arguments.Paths(), row.paths);
      QCOMPARE(arguments.Error(), row.error);
    }
  }
};

QTEST_MAIN(StartupArgumentsTest)
#include "StartupArgumentsTest.moc"
