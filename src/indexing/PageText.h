// The words of a page's visible text, one occurrence at a time: the text filter's lines (at most
// 511 bytes each) cut at blanks, as the text filter's line reader and the word splitter hand them
// to the word list. The page scanner and the search bundle's builder both read pages this way, so
// the bundle holds exactly the words the index holds.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "indexing/HtmlTextFilter.h"

namespace quarry {

namespace page_text {

// A line buffer of 512 bytes holds 511 bytes of a line and its NUL.
inline constexpr std::size_t kLineLimit = 511;

// Hands every run of bytes between blanks in [p, end) to word, in order: the words the splitter
// gives for a line, blanks next to each other giving empty words, which are passed over.
template <class WordCallback>
void ForEachBlankSeparated(const char* p, const char* end, WordCallback& word) {
  const char* start = p;  // of the word under way
  const auto add = [&](const char* blank) {
    if (blank > start) word(std::string_view(start, static_cast<std::size_t>(blank - start)));
    start = blank + 1;
  };
#if defined(__SSE2__)
  const __m128i blank = _mm_set1_epi8(' ');
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, blank)));
         mask != 0; mask &= mask - 1) {
      add(p + std::countr_zero(mask));
    }
  }
#endif
  for (; p < end; ++p) {
    if (*p == ' ') add(p);
  }
  add(end);
}

}  // namespace page_text

// Calls word(std::string_view) for every word of the visible text of contents (a page's bytes as
// PageFile reads them), untrimmed, in page order, each occurrence.
template <class WordCallback>
void ForEachPageWord(std::string_view contents, WordCallback&& word) {
  HtmlTextFilter filter;
  filter.LoadText(contents);
  // The filter's text holds no CR (white space becomes blanks), so only LF breaks lines.
  const std::string_view text = filter.Text();
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    // A line as the line reader gives it: up to the next LF, at most 511 bytes; the LF itself
    // is passed over, a cut is not.
    const std::size_t most = std::min(static_cast<std::size_t>(end - p), page_text::kLineLimit);
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', most));
    const char* lineEnd = lf != nullptr ? lf : p + most;
    page_text::ForEachBlankSeparated(p, lineEnd, word);
    p = lf != nullptr ? lf + 1 : lineEnd;
  }
}

}  // namespace quarry
