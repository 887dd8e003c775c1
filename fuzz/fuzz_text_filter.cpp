// Page bytes through the text filter, the word splitter and the word trimming, as the page
// scanner drives them, with the invariants each step promises checked on the way.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "indexing/HtmlTextFilter.h"
#include "model/TrimWord.h"
#include "model/WordSplitter.h"

namespace quarry::fuzz {
namespace {

constexpr int kLineSize = 512;

void CheckWords(const char* line, std::size_t lineLength) {
  WordSplitter splitter;
  splitter.SetLine(line);
  std::string rebuilt;
  std::size_t calls = 0;
  char word[kLineSize];
  char work[kWordBufferSize];
  // Every call consumes at least one byte until the end of the line: at most length + 1 calls.
  do {
    FUZZ_CHECK(++calls <= lineLength + 1);
    std::memset(word, 0x5a, sizeof word);
    splitter.NextWord(word);
    const std::size_t n = std::strlen(word);
    FUZZ_CHECK(n <= lineLength);
    FUZZ_CHECK(std::memchr(word, ' ', n) == nullptr);
    if (calls > 1) rebuilt.push_back(' ');
    rebuilt.append(word, n);

    const std::string expected = ReferenceTrim(std::string_view(word, n));
    std::memset(work, 0x5a, sizeof work);
    const char* trimmed = TrimWord(word, work);
    FUZZ_CHECK(trimmed >= work && trimmed < work + sizeof work);
    FUZZ_CHECK(std::string_view(trimmed) == expected);
  } while (!splitter.AtEndOfLine());
  // The words, joined again by the one space each call consumed, give back the line (a space
  // that ends the line is consumed by the last word's call).
  const std::string_view whole(line, lineLength);
  FUZZ_CHECK(whole == rebuilt || whole == rebuilt + ' ');
  char after[kLineSize];
  splitter.NextWord(after);
  FUZZ_CHECK(after[0] == '\0' && splitter.AtEndOfLine());
}

}  // namespace
}  // namespace quarry::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarry;
  using namespace quarry::fuzz;
  const std::string page =
      AsPageFileReads(std::string_view(reinterpret_cast<const char*>(data), size));

  HtmlTextFilter filter;
  const int textLength = filter.LoadText(page);
  FUZZ_CHECK(textLength >= 0);
  const auto total = static_cast<std::size_t>(textLength);

  // Each line hands out its bytes and consumes at most one line break more, so the lines cover
  // the whole text with nothing lost: total - lines <= sum of lengths <= total.
  char line[kLineSize];
  std::size_t lines = 0;
  std::size_t bytes = 0;
  for (;;) {
    std::memset(line, 0x5a, sizeof line);
    char* got = filter.ReadLine(line, kLineSize);
    if (got == nullptr) break;
    FUZZ_CHECK(got == line);
    FUZZ_CHECK(++lines <= total + 1);
    const void* end = std::memchr(line, '\0', sizeof line);
    FUZZ_CHECK(end != nullptr);
    const auto n = static_cast<std::size_t>(static_cast<const char*>(end) - line);
    FUZZ_CHECK(n <= kLineSize - 1);
    FUZZ_CHECK(std::memchr(line, '\n', n) == nullptr && std::memchr(line, '\r', n) == nullptr);
    bytes += n;
    quarry::fuzz::CheckWords(line, n);
  }
  FUZZ_CHECK(bytes <= total && bytes + lines >= total);
  FUZZ_CHECK(filter.ReadLine(line, kLineSize) == nullptr);

  // A two-byte buffer hands the text out one byte at a time, and still ends.
  HtmlTextFilter small;
  small.LoadText(page);
  char two[2];
  std::size_t smallLines = 0;
  while (small.ReadLine(two, 2) != nullptr) {
    FUZZ_CHECK(std::strlen(two) <= 1);
    FUZZ_CHECK(++smallLines <= total + 1);
  }
  return 0;
}
