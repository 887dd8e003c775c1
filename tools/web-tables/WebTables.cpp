// Writes the two tables of the search page that JavaScript cannot compute by itself, from the
// libraries the C++ side uses:
//   quarry-search-fold.js      utf8proc's full case fold of every code point whose fold is not
//                              its simple lowercase mapping (what String.toLowerCase gives), so
//                              that the page folds keys exactly as src/search does (ß to ss);
//   quarry-search-entities.js  the HTML 4.01 character reference names libxml2 knows, for the
//                              titles of the three index files, which hold them undecoded.
// Usage: web-tables OUT-DIR        writes both files into OUT-DIR (web/ of the source tree)
//        web-tables --check DIR    exits 1 when DIR's files differ from what would be written
#include <libxml/HTMLparser.h>
#include <utf8proc.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kMark = "// quarry web: generated file; quarry-cli web replaces it\n";

std::string Hex(long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

// A JavaScript string literal of code points, every one outside printable ASCII escaped.
std::string Literal(const std::vector<utf8proc_int32_t>& codePoints) {
  std::string out = "\"";
  for (const utf8proc_int32_t cp : codePoints) {
    char text[16];
    if (cp >= 0x20 && cp < 0x7f && cp != '"' && cp != '\\') {
      out += static_cast<char>(cp);
    } else if (cp < 0x10000) {
      std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(cp));
      out += text;
    } else {
      std::snprintf(text, sizeof text, "\\u{%x}", static_cast<unsigned>(cp));
      out += text;
    }
  }
  return out + "\"";
}

std::string FoldModule() {
  std::ostringstream out;
  out << kMark << "//\n// Made by tools/web-tables from utf8proc " << utf8proc_version()
      << " (Unicode " << utf8proc_unicode_version()
      << "); do not edit.\n"
         "// The full case fold of every code point whose fold is not its simple lowercase "
         "mapping\n// (toLowerCase), as code point -> text.\n\n"
         "/** @type {Map<number, string>} */\n"
         "export const FOLD = new Map([\n";
  std::string line;
  for (utf8proc_int32_t cp = 0; cp <= 0x10ffff; ++cp) {
    if (cp >= 0xd800 && cp <= 0xdfff) continue;
    utf8proc_int32_t folded[32];
    int boundclass = 0;
    const utf8proc_ssize_t n =
        utf8proc_decompose_char(cp, folded, 32, UTF8PROC_CASEFOLD, &boundclass);
    if (n <= 0) continue;
    const std::vector<utf8proc_int32_t> fold(folded, folded + n);
    if (n == 1 && fold[0] == utf8proc_tolower(cp)) continue;
    const std::string entry = "[" + Hex(cp) + ", " + Literal(fold) + "],";
    if (!line.empty() && line.size() + 1 + entry.size() > 100) {
      out << line << "\n";
      line.clear();
    }
    line += (line.empty() ? "  " : " ") + entry;
  }
  if (!line.empty()) out << line << "\n";
  out << "]);\n";
  return out.str();
}

std::string EntityModule() {
  std::ostringstream out;
  out << kMark << "//\n// Made by tools/web-tables from libxml2 " << LIBXML_DOTTED_VERSION
      << "'s htmlEntityValueLookup; do not edit.\n"
         "// The character reference names of HTML 4.01 (and apos), as name -> code point.\n\n"
         "/** @type {Map<string, number>} */\n"
         "export const ENTITIES = new Map([\n";
  std::string line;
  for (unsigned value = 0; value < 0x10000; ++value) {
    const htmlEntityDesc* entity = htmlEntityValueLookup(value);
    if (entity == nullptr || entity->value != value) continue;
    const std::string entry =
        std::string("[\"") + entity->name + "\", " + std::to_string(value) + "],";
    if (!line.empty() && line.size() + 1 + entry.size() > 100) {
      out << line << "\n";
      line.clear();
    }
    line += (line.empty() ? "  " : " ") + entry;
  }
  if (!line.empty()) out << line << "\n";
  out << "]);\n";
  return out.str();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::string(argv[1]) == "--check";
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: web-tables OUT-DIR | web-tables --check DIR\n");
    return 2;
  }
  const std::string dir = argv[argc - 1];
  const std::pair<const char*, std::string> files[] = {
      {"quarry-search-fold.js", FoldModule()}, {"quarry-search-entities.js", EntityModule()}};
  int status = 0;
  for (const auto& [name, text] : files) {
    const std::string path = dir + "/" + name;
    if (check) {
      if (ReadFile(path) != text) {
        std::fprintf(stderr, "%s differs from what tools/web-tables makes: run web-tables %s\n",
                     path.c_str(), dir.c_str());
        status = 1;
      }
    } else {
      std::ofstream(path, std::ios::binary) << text;
    }
  }
  return status;
}
