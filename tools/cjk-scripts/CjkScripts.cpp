// Writes the code point ranges of ICU's Script property that the search bundle needs, as rows
// of a C++ array initialiser in ascending order: {first, last, kind}, kind 1 for Han, Hiragana,
// Katakana and Hangul, 2 for Common and Inherited. Code points of other scripts have no row.
// Usage: cjk-scripts OUT-FILE
#include <unicode/uchar.h>
#include <unicode/uscript.h>
#include <unicode/uversion.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

int KindOf(UChar32 codePoint) {
  UErrorCode status = U_ZERO_ERROR;
  const UScriptCode script = uscript_getScript(codePoint, &status);
  if (U_FAILURE(status)) return 0;
  switch (script) {
    case USCRIPT_HAN:
    case USCRIPT_HIRAGANA:
    case USCRIPT_KATAKANA:
    case USCRIPT_HANGUL:
      return 1;
    case USCRIPT_COMMON:
    case USCRIPT_INHERITED:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cjk-scripts OUT-FILE\n");
    return 2;
  }
  std::ostringstream out;
  out << "// Made by tools/cjk-scripts from ICU " << U_ICU_VERSION << " (Unicode "
      << U_UNICODE_VERSION << "); do not edit.\n"
      << "// {first, last, kind}: 1 Han, Hiragana, Katakana or Hangul; 2 Common or Inherited.\n";
  int kind = 0;
  UChar32 first = 0;
  for (UChar32 cp = 0; cp <= 0x110000; ++cp) {
    const int now = cp <= 0x10FFFF ? KindOf(cp) : 0;
    if (now == kind) continue;
    if (kind != 0) {
      char row[64];
      std::snprintf(row, sizeof row, "{0x%X, 0x%X, %d},\n", static_cast<unsigned>(first),
                    static_cast<unsigned>(cp - 1), kind);
      out << row;
    }
    kind = now;
    first = cp;
  }
  const std::filesystem::path path = argv[1];
  std::filesystem::create_directories(path.parent_path());
  std::ofstream file(path, std::ios::binary);
  file << out.str();
  if (!file) {
    std::fprintf(stderr, "cjk-scripts: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
