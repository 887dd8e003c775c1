// The entity names the text filter knows are libxml2's: compared with libxml2 itself. The filter
// carries a table made from libxml2 at build time and does not link it; this test does.
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <string_view>

#include "indexing/HtmlTextFilter.h"
#include "model/TextOrder.h"
#include "model/Utf8Class.h"

namespace quarry {
namespace {

struct NamedEntity {
  std::string_view name;
  std::int32_t codePoint;
};
constexpr NamedEntity kNamedEntities[] = {
#include "indexing/HtmlEntityNames.inc"
};

std::map<std::string, std::int32_t> Libxml2Names() {
  std::map<std::string, std::int32_t> names;
  for (unsigned cp = 0; cp <= 0x10FFFF; ++cp) {
    const htmlEntityDesc* entity = htmlEntityValueLookup(cp);
    if (entity != nullptr && entity->value == cp)
      names[entity->name] = static_cast<std::int32_t>(cp);
  }
  return names;
}

const htmlEntityDesc* Lookup(const std::string& name) {
  return htmlEntityLookup(reinterpret_cast<const xmlChar*>(name.c_str()));
}

std::string Filter(const std::string& page) {
  HtmlTextFilter filter;
  filter.LoadText(page);
  return std::string(filter.Text());
}

TEST(HtmlEntityLibxml2Test, TheTableIsLibxml2s) {
  std::map<std::string, std::int32_t> table;
  for (const NamedEntity& entity : kNamedEntities)
    table[std::string(entity.name)] = entity.codePoint;
  EXPECT_EQ(table.size(), 253u);
  EXPECT_EQ(table, Libxml2Names());
  for (const auto& [name, cp] : table) {
    const htmlEntityDesc* entity = Lookup(name);
    ASSERT_NE(entity, nullptr) << name;
    EXPECT_EQ(static_cast<std::int32_t>(entity->value), cp) << name;
  }
}

TEST(HtmlEntityLibxml2Test, EveryNameGivesLibxml2sCharacterAndOtherCasesOneBlank) {
  // The fixed table's names keep their rows (HtmlTextFilterTest); the spaces give one blank.
  const std::string table[] = {"lt", "gt", "amp", "nbsp", "quot", "copy", "reg", "trade"};
  for (const auto& [name, cp] : Libxml2Names()) {
    if (std::find(std::begin(table), std::end(table), name) != std::end(table)) continue;
    char encoded[kMaxUtf8Length];
    const std::string character(encoded, EncodeUtf8(cp, encoded));
    EXPECT_EQ(Filter("x&" + name + ";y"), IsUnicodeSpace(cp) ? "x y" : "x" + character + "y")
        << name;
    std::string upper = name;
    for (char& c : upper) c = ToUpperAscii(c);
    if (upper != name && Lookup(upper) == nullptr) {
      EXPECT_EQ(Filter("x&" + upper + ";y"), "x y") << upper;
    }
  }
}

}  // namespace
}  // namespace quarry
