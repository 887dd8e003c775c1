// Holds the index in a directory open until its standard input ends, then exits.
// Usage: index_holder DIRECTORY   (prints "ready" once the files are held)
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "database/IndexDatabase.h"

int main(int argc, char** argv) {
  if (argc != 2 || chdir(argv[1]) != 0) return 2;
  quarry::IndexDatabase database;
  database.Open();
  if (!database.IsOpen()) return 1;
  std::cout << "ready" << std::endl;
  std::string line;
  while (std::getline(std::cin, line)) {
  }
  return 0;
}
