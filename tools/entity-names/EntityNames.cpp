// Writes the HTML entity names of libxml2's htmlEntityLookup with their code points, as rows
// of a C++ array initialiser in byte order of the names, for the text filter.
// Usage: entity-names OUT-FILE
// Fails when libxml2 knows other than the 253 names of HTML 4.01 and apos: a different table
// would change the words of pages.
#include <libxml/HTMLparser.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kNameCount = 253;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: entity-names OUT-FILE\n");
    return 2;
  }
  // htmlEntityLookup has no list; every name is found by the code point it stands for.
  std::vector<std::pair<std::string, unsigned>> names;
  for (unsigned value = 0; value <= 0x10FFFF; ++value) {
    const htmlEntityDesc* entity = htmlEntityValueLookup(value);
    if (entity == nullptr || entity->value != value) continue;
    const htmlEntityDesc* byName = htmlEntityLookup(reinterpret_cast<const xmlChar*>(entity->name));
    if (byName == nullptr || byName->value != value) {
      std::fprintf(stderr, "entity-names: libxml2 does not find &%s; by its name\n", entity->name);
      return 1;
    }
    names.emplace_back(entity->name, value);
  }
  const bool hasApos = std::any_of(names.begin(), names.end(),
                                   [](const auto& name) { return name.first == "apos"; });
  if (names.size() != kNameCount || !hasApos) {
    std::fprintf(stderr,
                 "entity-names: libxml2 %s knows %zu entity names, not the %zu of HTML "
                 "4.01 and apos\n",
                 LIBXML_DOTTED_VERSION, names.size(), kNameCount);
    return 1;
  }
  std::sort(names.begin(), names.end());

  std::ostringstream out;
  out << "// Made by tools/entity-names from libxml2 " << LIBXML_DOTTED_VERSION
      << "'s htmlEntityLookup; do not edit.\n"
         "// The HTML entity names (HTML 4.01's and apos) and their code points, in byte order.\n";
  for (const auto& [name, value] : names) {
    char row[64];
    std::snprintf(row, sizeof row, "{\"%s\", 0x%X},\n", name.c_str(), value);
    out << row;
  }
  const std::filesystem::path path = argv[1];
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary);
  file << out.str();
  if (!file) {
    std::fprintf(stderr, "entity-names: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
