// Reads a table of cases shared with the search page's tests: tests/data/*-cases.tsv.
//
// One case per line: input, a TAB, the expected output (or more columns, ReadCaseFields). Lines
// starting with # and empty lines are comments. In both columns \xNN stands for that byte, \t for a
// TAB and \\ for a backslash; every other byte is taken as it is.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <string>
#include <utility>
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

// A row of a table with more columns: its fields, unescaped.
struct CaseFields {
  int line = 0;
  std::vector<std::string> fields;
};

// The rows of tests/data/<name>, each of at least fewest and at most most columns, unescaped; a
// malformed line fails the test that reads it.
inline std::vector<CaseFields> ReadCaseFields(const std::string& name, std::size_t fewest,
                                              std::size_t most) {
  std::ifstream in(std::string(QUARRY_TEST_DATA_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << name;
  std::vector<CaseFields> rows;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line[0] == '#') continue;
    CaseFields row{number, {}};
    for (std::size_t start = 0;;) {
      const std::size_t tab = line.find('\t', start);
      row.fields.push_back(UnescapeCase(line.substr(start, tab - start)));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (row.fields.size() < fewest || row.fields.size() > most) {
      ADD_FAILURE() << name << ":" << number << ": not " << fewest << " to " << most << " columns";
      continue;
    }
    rows.push_back(std::move(row));
  }
  EXPECT_FALSE(rows.empty()) << name;
  return rows;
}

// The rows of tests/data/<name>, two columns each, unescaped.
inline std::vector<CaseRow> ReadCaseTable(const std::string& name) {
  std::vector<CaseRow> rows;
  for (CaseFields& row : ReadCaseFields(name, 2, 2)) {
    rows.push_back({row.line, std::move(row.fields[0]), std::move(row.fields[1])});
  }
  return rows;
}

}  // namespace quarry::test
