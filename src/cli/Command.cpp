#include "cli/Command.h"

#include <sys/stat.h>

#include <cstdio>

#include "database/IndexDatabase.h"

namespace quarry {

Command::Command(CLI::App& parent, const std::string& name, const std::string& description)
    : app_(parent.add_subcommand(name, description)) {
  app_->add_option("--db", databaseDirectory_,
                   "Directory of the index files qrywDb.dat, qryfDb.dat and qryiDb.dat "
                   "(default: the current directory)")
      ->check(CLI::Validator(CLI::ExistingDirectory).description(""))
      ->type_name("DIR");
}

bool Command::OpenExisting(IndexDatabase& database) const {
  const std::string wordFile = DatabaseFile(databaseDirectory_, kWordFileName);
  struct stat info {};
  if (::stat(wordFile.c_str(), &info) != 0) {
    PrintError("No index here: " + wordFile + " is missing. Build one with 'quarry-cli index'.");
    return false;
  }
  if (database.Open() != 0 && !database.IsOpen()) {
    PrintError(OpenFailureText(database));
    return false;
  }
  return true;
}

std::string Command::DatabaseFile(const std::string& directory, const char* name) {
  if (directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + '/' + name;
}

std::string Command::OpenFailureText(const IndexDatabase& database) {
  std::string text =
      "Error opening database.  Make sure it is not being used and that it has write access.";
  if (!database.OpenError().empty()) text += " (" + database.OpenError() + ")";
  return text;
}

void Command::PrintError(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "quarry-cli: %s\n", message.c_str());
}

}  // namespace quarry
