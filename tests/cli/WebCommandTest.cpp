#include "cli/WebCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/CaseTable.h"

namespace quarry {
namespace {

// A prefix of the settings' strip list as the page reads it: %XX decoded.
std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The page's links and quarry-cli web's count of pages without one follow the same rule.
TEST(WebCommandTest, LinksAsTheSharedTableSays) {
  for (const test::CaseFields& row : test::ReadCaseFields("link-cases.tsv", 3, 4)) {
    std::vector<std::string> strip;
    for (std::size_t start = 0; start <= row.fields[1].size();) {
      std::size_t end = row.fields[1].find(' ', start);
      if (end == std::string::npos) end = row.fields[1].size();
      const std::string prefix = row.fields[1].substr(start, end - start);
      strip.push_back(prefix == "\"\"" ? std::string() : PercentDecoded(prefix));
      start = end + 1;
    }
    const bool windows = row.fields.size() == 4;
    EXPECT_TRUE(!windows || row.fields[3] == "windows") << "link-cases.tsv:" << row.line;
    const auto below = WebCommand::PathBelowRoot(row.fields[0], strip, windows);
    EXPECT_EQ(below ? WebCommand::PercentEncode(*below) : "", row.fields[2])
        << "link-cases.tsv:" << row.line;
  }
}

}  // namespace
}  // namespace quarry
