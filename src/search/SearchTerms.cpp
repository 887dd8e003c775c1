#include "search/SearchTerms.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "model/TextOrder.h"

namespace quarry {

namespace {

// Folds the well-formed UTF-8 text (no ASCII-only fast path here) and appends its key.
void AppendFoldedUtf8(std::string_view text, std::string& out) {
  utf8proc_uint8_t* mapped = nullptr;
  const auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPAT |
                                                      UTF8PROC_DECOMPOSE | UTF8PROC_CASEFOLD);
  const utf8proc_ssize_t length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                   static_cast<utf8proc_ssize_t>(text.size()), &mapped, options);
  if (length < 0) {  // cannot happen for well-formed text; keep the bytes then
    out.append(text);
    return;
  }
  const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
  // Drop U+0300-U+036F (UTF-8 CC 80 to CD AF), then compose.
  std::string stripped;
  stripped.reserve(static_cast<std::size_t>(length));
  for (utf8proc_ssize_t i = 0; i < length;) {
    const utf8proc_uint8_t b = mapped[i];
    const bool mark = i + 1 < length && (b == 0xCC || (b == 0xCD && mapped[i + 1] <= 0xAF));
    if (mark) {
      i += 2;
      continue;
    }
    stripped += static_cast<char>(b);
    ++i;
  }
  utf8proc_uint8_t* composed = nullptr;
  const utf8proc_ssize_t composedLength =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(stripped.data()),
                   static_cast<utf8proc_ssize_t>(stripped.size()), &composed,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (composedLength < 0) {
    out += stripped;
    return;
  }
  const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> composedOwner(composed, &std::free);
  out.append(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(composedLength));
}

}  // namespace

std::size_t DecodeCodePoint(const char* text, std::size_t size, char32_t& codePoint) {
  utf8proc_int32_t cp = 0;
  const utf8proc_ssize_t n =
      utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text),
                       static_cast<utf8proc_ssize_t>(size < 4 ? size : 4), &cp);
  if (n <= 0) return 0;
  codePoint = static_cast<char32_t>(cp);
  return static_cast<std::size_t>(n);
}

bool IsLetterMarkOrNumber(char32_t codePoint) {
  const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
  return category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_NO;
}

bool IsLetterOrMark(char32_t codePoint) {
  const utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(codePoint));
  return category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_ME;
}

namespace {

struct ScriptRange {
  char32_t first;
  char32_t last;
  int kind;  // 1 Han, Hiragana, Katakana or Hangul; 2 Common or Inherited
};
constexpr ScriptRange kScriptRanges[] = {
#include "search/CjkScripts.inc"
};
static_assert(std::ranges::is_sorted(kScriptRanges, {}, &ScriptRange::first));

}  // namespace

int CjkClass(char32_t codePoint) {
  const auto* range =
      std::upper_bound(std::begin(kScriptRanges), std::end(kScriptRanges), codePoint,
                       [](char32_t cp, const ScriptRange& r) { return cp < r.first; });
  if (range == std::begin(kScriptRanges)) return 0;
  --range;
  if (codePoint > range->last) return 0;
  if (range->kind == 1) return 1;
  return IsLetterOrMark(codePoint) ? 2 : 0;
}

bool IsAsciiAlphanumeric(std::string_view text) {
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (!((b >= '0' && b <= '9') || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'))) {
      return false;
    }
  }
  return true;
}

void AppendSearchKey(std::string_view text, std::string& out) {
  // Well-formed stretches fold as a whole, so that a combining mark meets its base; a byte
  // outside well-formed UTF-8 stays as it is and ends a stretch.
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    bool ascii = true;
    while (end < text.size()) {
      if (static_cast<unsigned char>(text[end]) < 0x80) {
        ++end;
        continue;
      }
      char32_t cp = 0;
      const std::size_t length = DecodeCodePoint(text.data() + end, text.size() - end, cp);
      if (length == 0) break;
      ascii = false;
      end += length;
    }
    if (ascii) {
      for (std::size_t k = i; k < end; ++k) out += ToLowerAscii(text[k]);
    } else {
      AppendFoldedUtf8(text.substr(i, end - i), out);
    }
    if (end < text.size()) out += text[end++];
    i = end;
  }
}

std::string SearchKey(std::string_view text) {
  std::string key;
  key.reserve(text.size());
  AppendSearchKey(text, key);
  return key;
}

}  // namespace quarry
