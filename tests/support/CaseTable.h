// Reads a table of cases shared with the search page's tests: tests/data/*-cases.tsv.
//
// One case per line: input, a TAB, the expected output. Lines starting with # and empty lines
// are comments. In both columns \xNN stands for that byte, \t for a TAB and \\ for a backslash;
// every other byte is taken as it is.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <string>
#include <vector>

namespace quarry::test {

struct CaseRow {
  int line = 0;
  std::string in;
  std::string out;
};

inline std::string UnescapeCase(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
    } else if (text[i + 1] == 't') {
      out += '\t';
      ++i;
    } else if (text[i + 1] == '\\') {
      out += '\\';
      ++i;
    } else if (text[i + 1] == 'x' && i + 3 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      ADD_FAILURE() << "bad escape in " << text;
      out += text[i];
    }
  }
  return out;
}

// The rows of tests/data/<name>, unescaped; a malformed line fails the test that reads it.
inline std::vector<CaseRow> ReadCaseTable(const std::string& name) {
  std::ifstream in(std::string(QUARRY_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << name;
  std::vector<CaseRow> rows;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos) {
      ADD_FAILURE() << name << ":" << number << ": not two columns";
      continue;
    }
    rows.push_back({number, UnescapeCase(line.substr(0, tab)), UnescapeCase(line.substr(tab + 1))});
  }
  EXPECT_FALSE(rows.empty()) << name;
  return rows;
}

// The rows of tests/data/<name> with columns columns each (a missing last column reads as
// empty), unescaped; a line with more columns fails the test that reads it.
inline std::vector<std::vector<std::string>> ReadCaseColumns(const std::string& name,
                                                             std::size_t columns) {
  std::ifstream in(std::string(QUARRY_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << name;
  std::vector<std::vector<std::string>> rows;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> row;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      row.push_back(UnescapeCase(line.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (row.size() > columns) ADD_FAILURE() << name << ":" << number << ": too many columns";
    row.resize(columns);
    row.push_back(std::to_string(number));
    rows.push_back(std::move(row));
  }
  EXPECT_FALSE(rows.empty()) << name;
  return rows;
}

}  // namespace quarry::test
