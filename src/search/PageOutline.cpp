#include "search/PageOutline.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "indexing/HtmlTextFilter.h"
#include "model/TextOrder.h"

namespace quarry {

namespace {

// Open elements kept for finding a heading's enclosing anchor; deeper nesting is not tracked.
constexpr std::size_t kStackLimit = 256;
// Tag names longer than this are no name the outline knows.
constexpr std::size_t kNameLimit = 16;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsNameByte(char c) {
  return c != '\0' && !IsSpace(c) && c != '/' && c != '>' && c != '=' && c != '<';
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// What the outline knows of a tag name.
enum TagFlag : unsigned {
  kBlock = 1,    // separates the text before and after it
  kVoid = 2,     // never has content or an end tag
  kSkipped = 4,  // its content is never visible text
  kHtml = 8,
  kHead = 16,
  kBody = 32,
  kMeta = 64,
  kTitle = 128,
  kAnchor = 256,   // <a>
  kHeading = 512,  // h1 to h6
};

struct KnownName {
  std::string_view name;
  unsigned flags;
};
constexpr KnownName kKnownNames[] = {
    {"a", kAnchor},
    {"address", kBlock},
    {"area", kVoid},
    {"article", kBlock},
    {"aside", kBlock},
    {"base", kVoid},
    {"blockquote", kBlock},
    {"body", kBody | kBlock},
    {"br", kBlock | kVoid},
    {"caption", kBlock},
    {"col", kVoid},
    {"dd", kBlock},
    {"details", kBlock},
    {"dialog", kBlock},
    {"div", kBlock},
    {"dl", kBlock},
    {"dt", kBlock},
    {"embed", kVoid},
    {"fieldset", kBlock},
    {"figcaption", kBlock},
    {"figure", kBlock},
    {"footer", kBlock},
    {"form", kBlock},
    {"h1", kBlock | kHeading},
    {"h2", kBlock | kHeading},
    {"h3", kBlock | kHeading},
    {"h4", kBlock | kHeading},
    {"h5", kBlock | kHeading},
    {"h6", kBlock | kHeading},
    {"head", kHead},
    {"header", kBlock},
    {"hgroup", kBlock},
    {"hr", kBlock | kVoid},
    {"html", kHtml | kBlock},
    {"iframe", kSkipped},
    {"img", kVoid},
    {"input", kVoid},
    {"legend", kBlock},
    {"li", kBlock},
    {"link", kVoid},
    {"main", kBlock},
    {"math", kSkipped},
    {"menu", kBlock},
    {"meta", kMeta | kVoid},
    {"nav", kBlock},
    {"noscript", kSkipped},
    {"object", kSkipped},
    {"ol", kBlock},
    {"option", kBlock},
    {"p", kBlock},
    {"param", kVoid},
    {"pre", kBlock},
    {"script", kSkipped},
    {"search", kBlock},
    {"section", kBlock},
    {"select", kSkipped},
    {"source", kVoid},
    {"style", kSkipped},
    {"summary", kBlock},
    {"svg", kSkipped},
    {"table", kBlock},
    {"tbody", kBlock},
    {"td", kBlock},
    {"template", kSkipped},
    {"textarea", kSkipped},
    {"tfoot", kBlock},
    {"th", kBlock},
    {"thead", kBlock},
    {"title", kTitle},
    {"tr", kBlock},
    {"track", kVoid},
    {"ul", kBlock},
    {"wbr", kVoid},
};

// The flags of a tag name (lower case), found by its length and first letter before comparing.
unsigned FlagsOf(std::string_view lower) {
  struct Index {
    unsigned char first[27];  // per letter a-z: the first entry of kKnownNames with that letter
  };
  static const Index index = [] {
    Index built{};
    std::size_t at = 0;
    for (int letter = 0; letter < 26; ++letter) {
      while (at < std::size(kKnownNames) && kKnownNames[at].name[0] - 'a' < letter) ++at;
      built.first[letter] = static_cast<unsigned char>(at);
    }
    built.first[26] = static_cast<unsigned char>(std::size(kKnownNames));
    return built;
  }();
  if (lower.empty() || lower[0] < 'a' || lower[0] > 'z') return 0;
  const int letter = lower[0] - 'a';
  for (std::size_t i = index.first[letter]; i < index.first[letter + 1]; ++i) {
    if (kKnownNames[i].name.size() == lower.size() && kKnownNames[i].name == lower) {
      return kKnownNames[i].flags;
    }
  }
  return 0;
}

int HeadingLevel(std::string_view lower) { return lower[1] - '0'; }

// The position of the next '<' or '&' from at on, or page.size().
std::size_t NextMarkup(std::string_view page, std::size_t at) {
  const char* p = page.data() + at;
  const char* const end = page.data() + page.size();
#if defined(__SSE2__)
  const __m128i lessThan = _mm_set1_epi8('<');
  const __m128i ampersand = _mm_set1_epi8('&');
  for (; end - p >= 16; p += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, lessThan), _mm_cmpeq_epi8(bytes, ampersand))));
    if (mask != 0) {
      return static_cast<std::size_t>(p - page.data()) +
             static_cast<std::size_t>(std::countr_zero(mask));
    }
  }
#endif
  while (p < end && *p != '<' && *p != '&') ++p;
  return static_cast<std::size_t>(p - page.data());
}

// Case-insensitive search for needle (lower case) in text from position from.
std::size_t FindFolded(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from;
  const char first = needle[0];
  const char firstUpper = ToUpperAscii(first);
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    if (first == firstUpper) {  // '<' and the like: the quick way to the next candidate
      const void* hit = std::memchr(text.data() + i, first, text.size() - i);
      if (hit == nullptr) return std::string_view::npos;
      i = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
      if (i + needle.size() > text.size()) return std::string_view::npos;
    } else if (text[i] != first && text[i] != firstUpper) {
      continue;
    }
    if (EqualsFoldingCase(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

// A growing text with white space collapsed to single blanks, none at its start or end, cut at
// limit bytes (at a code point).
class CollapsedText {
 public:
  explicit CollapsedText(std::size_t limit) : limit_(limit) {}

  void Space() { pendingSpace_ = !text_.empty(); }
  void Append(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
      if (IsSpace(bytes[i])) {
        Space();
        ++i;
        continue;
      }
      std::size_t end = i + 1;
      while (end < bytes.size() && !IsSpace(bytes[end])) ++end;
      if (full_) return;
      if (pendingSpace_) {
        if (text_.size() + 1 >= limit_) return Stop();
        text_ += ' ';
        pendingSpace_ = false;
      }
      const std::size_t room = limit_ - text_.size();
      if (end - i > room) {
        text_.append(bytes.substr(i, room));
        return Stop();
      }
      text_.append(bytes.substr(i, end - i));
      i = end;
    }
  }
  // The text, a UTF-8 sequence that the limit cut short dropped.
  std::string Take() {
    if (full_) {
      std::size_t back = 0;
      while (back < text_.size() && back < 3 &&
             (static_cast<unsigned char>(text_[text_.size() - 1 - back]) & 0xC0) == 0x80) {
        ++back;
      }
      if (back < text_.size()) {
        const auto lead = static_cast<unsigned char>(text_[text_.size() - 1 - back]);
        const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (lead >= 0xC0 && need > back + 1) text_.resize(text_.size() - 1 - back);
      }
    }
    std::string taken = std::move(text_);
    text_.clear();
    pendingSpace_ = false;
    full_ = false;
    return taken;
  }

 private:
  void Stop() { full_ = true; }

  std::string text_;
  std::size_t limit_;
  bool pendingSpace_ = false;
  bool full_ = false;
};

// One tag as read: views into the page, the values still as written.
struct Tag {
  char lower[kNameLimit];  // the name in lower case, when it is no longer than kNameLimit
  std::string_view name;   // lower's bytes, or "" for a longer name
  unsigned flags = 0;
  bool end = false;
  bool selfClosing = false;
  bool ignore = false;  // data-quarry-ignore
  std::string_view id;
  std::string_view nameAttribute;
  std::string_view lang;
  std::string_view httpEquiv;
  std::string_view content;
};

// Decodes character references in value.
std::string DecodedValue(std::string_view value) {
  if (value.find('&') == std::string_view::npos) return std::string(value);
  std::string out;
  for (std::size_t i = 0; i < value.size();) {
    if (value[i] == '&') {
      const std::size_t taken = DecodeCharacterReference(value.substr(i), out);
      if (taken > 0) {
        i += taken;
        continue;
      }
    }
    out += value[i++];
  }
  return out;
}

bool NameIs(std::string_view attribute, std::string_view lowerName) {
  return attribute.size() == lowerName.size() && EqualsFoldingCase(attribute, lowerName);
}

// Reads the tag at page[at] ('<' then a letter, or "</" and a letter), through its '>'. Returns
// the position after it, or page.size() when the page ends inside.
std::size_t ReadTag(std::string_view page, std::size_t at, Tag& tag) {
  tag.end = false;
  tag.selfClosing = false;
  tag.ignore = false;
  tag.id = tag.nameAttribute = tag.lang = tag.httpEquiv = tag.content = {};
  std::size_t i = at + 1;
  if (page[i] == '/') {
    tag.end = true;
    ++i;
  }
  const std::size_t nameStart = i;
  while (i < page.size() && IsNameByte(page[i])) ++i;
  const std::size_t length = i - nameStart;
  if (length <= kNameLimit) {
    for (std::size_t k = 0; k < length; ++k) tag.lower[k] = ToLowerAscii(page[nameStart + k]);
    tag.name = std::string_view(tag.lower, length);
    tag.flags = FlagsOf(tag.name);
  } else {
    tag.name = {};
    tag.flags = 0;
  }
  while (i < page.size()) {
    const char c = page[i];
    if (c == '>') return i + 1;
    if (IsSpace(c) || c == '/') {
      if (c == '/' && i + 1 < page.size() && page[i + 1] == '>') tag.selfClosing = true;
      ++i;
      continue;
    }
    const std::size_t attributeStart = i;
    while (i < page.size() && IsNameByte(page[i])) ++i;
    const std::string_view attribute = page.substr(attributeStart, i - attributeStart);
    if (attribute.empty()) {  // a stray byte such as '=' or '<'
      ++i;
      continue;
    }
    while (i < page.size() && IsSpace(page[i])) ++i;
    std::string_view value;
    if (i < page.size() && page[i] == '=') {
      ++i;
      while (i < page.size() && IsSpace(page[i])) ++i;
      if (i < page.size() && (page[i] == '"' || page[i] == '\'')) {
        const char quote = page[i++];
        const void* close = std::memchr(page.data() + i, quote, page.size() - i);
        const std::size_t stop =
            close == nullptr
                ? page.size()
                : static_cast<std::size_t>(static_cast<const char*>(close) - page.data());
        value = page.substr(i, stop - i);
        i = stop == page.size() ? stop : stop + 1;
      } else {
        const std::size_t start = i;
        while (i < page.size() && !IsSpace(page[i]) && page[i] != '>') ++i;
        value = page.substr(start, i - start);
      }
    }
    if (value.size() > 4096) value = value.substr(0, 4096);
    switch (attribute.size()) {
      case 2:
        if (NameIs(attribute, "id")) tag.id = value;
        break;
      case 4:
        if (NameIs(attribute, "name")) tag.nameAttribute = value;
        if (NameIs(attribute, "lang")) tag.lang = value;
        break;
      case 7:
        if (NameIs(attribute, "content")) tag.content = value;
        break;
      case 10:
        if (NameIs(attribute, "http-equiv")) tag.httpEquiv = value;
        break;
      case 18:
        if (NameIs(attribute, "data-quarry-ignore")) tag.ignore = true;
        break;
      default:
        break;
    }
  }
  return page.size();
}

}  // namespace

std::size_t DecodeCharacterReference(std::string_view text, std::string& out) {
  if (text.size() < 3 || text[0] != '&') return 0;
  if (text[1] == '#') {
    std::size_t i = 2;
    const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
    if (hex) ++i;
    const std::size_t digits = i;
    std::uint32_t value = 0;
    while (i < text.size() && i - digits < 8) {
      const char c = text[i];
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (d < 0) break;
      value = value * (hex ? 16U : 10U) + static_cast<std::uint32_t>(d);
      ++i;
    }
    if (i == digits || i >= text.size() || text[i] != ';') return 0;
    if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      value = 0xFFFD;
    }
    AppendUtf8(static_cast<char32_t>(value), out);
    return i + 1;
  }
  std::size_t i = 1;
  while (i < text.size() && i < 40 &&
         ((text[i] >= 'a' && text[i] <= 'z') || (text[i] >= 'A' && text[i] <= 'Z') ||
          (text[i] >= '0' && text[i] <= '9'))) {
    ++i;
  }
  if (i >= text.size() || text[i] != ';') return 0;
  const std::int32_t cp = HtmlEntityNameCodePoint(text.substr(1, i - 1));
  if (cp <= 0) return 0;
  AppendUtf8(static_cast<char32_t>(cp), out);
  return i + 1;
}

void PageOutline::Scan(std::string_view page) {
  title.clear();
  headings.clear();
  text.clear();
  lang.clear();
  redirect = false;
  noindex = false;

  std::vector<std::pair<std::string_view, std::string_view>> stack;  // raw name, raw id
  stack.reserve(64);
  CollapsedText body(kTextLimit);
  CollapsedText titleText(kTitleLimit);
  CollapsedText headingText(kTitleLimit);

  bool inHead = false;
  bool sawBody = false;
  bool haveTitle = false;
  bool inTitle = false;
  int headingLevel = 0;  // of the heading being read, or 0
  std::string_view headingAnchor;
  bool anchorFound = false;
  std::string_view enclosingAnchor;  // of the heading being read: the nearest id around it
  std::size_t ignoreDepth = 0;       // ignored elements of ignoredName open, or 0
  std::string ignoredName;

  const auto appendText = [&](std::string_view bytes) {
    if (inTitle) {
      titleText.Append(bytes);
      return;
    }
    if (inHead || ignoreDepth > 0) return;
    if (headingLevel > 0) headingText.Append(bytes);
    body.Append(bytes);
  };
  const auto finishHeading = [&]() {
    std::string heading = headingText.Take();
    if (!heading.empty() && headings.size() < kHeadingLimit) {
      headings.push_back({DecodedValue(anchorFound ? headingAnchor : enclosingAnchor),
                          std::move(heading), headingLevel});
    }
    headingLevel = 0;
    headingAnchor = {};
    anchorFound = false;
  };
  // The raw name of a tag, for matching an end tag with its start.
  const auto rawName = [&page](std::size_t at, const Tag& tag) {
    const std::size_t start = at + (tag.end ? 2 : 1);
    std::size_t end = start;
    while (end < page.size() && IsNameByte(page[end])) ++end;
    return page.substr(start, end - start);
  };

  std::string decoded;
  Tag tag;
  std::size_t i = 0;
  while (i < page.size()) {
    // Text up to the next '<' or '&'.
    const std::size_t next = NextMarkup(page, i);
    if (next > i) appendText(page.substr(i, next - i));
    i = next;
    if (i >= page.size()) break;

    if (page[i] == '&') {
      decoded.clear();
      const std::size_t taken = DecodeCharacterReference(page.substr(i), decoded);
      appendText(taken > 0 ? std::string_view(decoded) : page.substr(i, 1));
      i += taken > 0 ? taken : 1;
      continue;
    }

    // '<': a comment, a declaration, a tag, or a plain '<'.
    if (page.compare(i, 4, "<!--") == 0) {
      const std::size_t close = page.find("-->", i + 4);
      i = close == std::string_view::npos ? page.size() : close + 3;
      continue;
    }
    const char after = i + 1 < page.size() ? page[i + 1] : '\0';
    if (after == '!' || after == '?') {
      const void* close = std::memchr(page.data() + i, '>', page.size() - i);
      i = close == nullptr
              ? page.size()
              : static_cast<std::size_t>(static_cast<const char*>(close) - page.data()) + 1;
      continue;
    }
    if (!IsLetter(after) && !(after == '/' && i + 2 < page.size() && IsLetter(page[i + 2]))) {
      appendText(page.substr(i, 1));
      ++i;
      continue;
    }
    const std::size_t tagStart = i;
    i = ReadTag(page, i, tag);
    const unsigned flags = tag.flags;

    if (inTitle) {  // a title holds text only: everything up to </title> is its text
      if (tag.end && (flags & kTitle) != 0) {
        inTitle = false;
        haveTitle = true;
      }
      continue;
    }

    if (tag.end) {
      const std::string_view name = rawName(tagStart, tag);
      if (ignoreDepth > 0) {
        if (EqualsFoldingCase(name, ignoredName)) --ignoreDepth;
        continue;
      }
      if ((flags & kHead) != 0) inHead = false;
      if (headingLevel > 0 && (flags & kHeading) != 0) finishHeading();
      for (std::size_t k = stack.size(); k-- > 0;) {
        if (EqualsFoldingCase(stack[k].first, name)) {
          stack.resize(k);
          break;
        }
      }
      if ((flags & kBlock) != 0) {
        body.Space();
        headingText.Space();
      }
      continue;
    }

    // A start tag.
    const bool opens = !tag.selfClosing && (flags & kVoid) == 0;
    if (ignoreDepth > 0) {
      if (opens && EqualsFoldingCase(rawName(tagStart, tag), ignoredName)) ++ignoreDepth;
      continue;
    }
    if ((flags & kHtml) != 0) {
      if (lang.empty() && !tag.lang.empty()) {
        lang = LowerAscii(tag.lang.substr(0, tag.lang.find_first_of("-_")));
      }
    } else if ((flags & kHead) != 0) {
      inHead = !sawBody;
    } else if ((flags & kBody) != 0) {
      inHead = false;
      sawBody = true;
    } else if ((flags & kMeta) != 0) {
      if (NameIs(tag.httpEquiv, "refresh") &&
          FindFolded(tag.content, "url", 0) != std::string::npos) {
        redirect = true;
      }
      if (NameIs(tag.nameAttribute, "robots") &&
          FindFolded(tag.content, "noindex", 0) != std::string::npos) {
        noindex = true;
      }
    } else if ((flags & kTitle) != 0) {
      if (!tag.selfClosing) {
        if (!haveTitle) {
          inTitle = true;
        } else {  // a later title: skipped
          const std::size_t close = FindFolded(page, "</title", i);
          i = close == std::string_view::npos ? page.size() : close;
        }
      }
      continue;
    }
    if ((flags & kSkipped) != 0 && !tag.selfClosing) {
      const std::size_t close = FindFolded(page, "</" + std::string(tag.name), i);
      i = close == std::string_view::npos ? page.size() : close;
      continue;
    }
    if (tag.ignore) {
      if ((flags & kBlock) != 0) {
        body.Space();
        headingText.Space();
      }
      if (opens) {
        ignoreDepth = 1;
        ignoredName = LowerAscii(rawName(tagStart, tag));
      }
      continue;
    }
    if ((flags & kBlock) != 0) {
      body.Space();
      headingText.Space();
    }
    if ((flags & kHeading) != 0 && !inHead) {
      if (headingLevel > 0) finishHeading();
      headingLevel = HeadingLevel(tag.name);
      anchorFound = !tag.id.empty();
      headingAnchor = tag.id;
      enclosingAnchor = {};
      for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (!it->second.empty()) {
          enclosingAnchor = it->second;
          break;
        }
      }
    } else if (headingLevel > 0 && !anchorFound) {
      if (!tag.id.empty()) {
        headingAnchor = tag.id;
        anchorFound = true;
      } else if (!tag.nameAttribute.empty() && (flags & kAnchor) != 0) {
        headingAnchor = tag.nameAttribute;
        anchorFound = true;
      }
    }
    if (opens && stack.size() < kStackLimit) stack.emplace_back(rawName(tagStart, tag), tag.id);
  }
  if (headingLevel > 0) finishHeading();

  text = body.Take();
  title = titleText.Take();
  if (title.empty() && !headings.empty()) title = headings.front().text;
}

}  // namespace quarry
