#include "search/PageOutline.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "model/TextOrder.h"
#include "search/SearchTerms.h"

namespace quarry {

namespace {

// Open elements kept for finding a heading's enclosing anchor; deeper nesting is not tracked.
constexpr std::size_t kStackLimit = 256;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool IsNameByte(char c) {
  return c != '\0' && !IsSpace(c) && c != '/' && c != '>' && c != '=' && c != '<';
}

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

struct NamedReference {
  std::string_view name;
  char32_t codePoint;
};
constexpr NamedReference kNamedReferences[] = {
    {"amp", '&'},      {"lt", '<'},       {"gt", '>'},        {"quot", '"'},
    {"apos", '\''},    {"nbsp", 0xA0},    {"copy", 0xA9},     {"reg", 0xAE},
    {"trade", 0x2122}, {"mdash", 0x2014}, {"ndash", 0x2013},  {"hellip", 0x2026},
    {"rsquo", 0x2019}, {"lsquo", 0x2018}, {"rdquo", 0x201D},  {"ldquo", 0x201C},
    {"laquo", 0xAB},   {"raquo", 0xBB},   {"middot", 0xB7},   {"bull", 0x2022},
    {"rarr", 0x2192},  {"larr", 0x2190},  {"uarr", 0x2191},   {"darr", 0x2193},
    {"times", 0xD7},   {"divide", 0xF7},  {"sect", 0xA7},     {"para", 0xB6},
    {"eacute", 0xE9},  {"egrave", 0xE8},  {"agrave", 0xE0},   {"aacute", 0xE1},
    {"ouml", 0xF6},    {"uuml", 0xFC},    {"auml", 0xE4},     {"szlig", 0xDF},
    {"ccedil", 0xE7},  {"iacute", 0xED},  {"oacute", 0xF3},   {"uacute", 0xFA},
    {"ntilde", 0xF1},  {"Eacute", 0xC9},  {"deg", 0xB0},      {"plusmn", 0xB1},
    {"le", 0x2264},    {"ge", 0x2265},    {"ne", 0x2260},     {"minus", 0x2212},
    {"lambda", 0x3BB}, {"alpha", 0x3B1},  {"beta", 0x3B2},    {"pi", 0x3C0},
    {"zwj", 0x200D},   {"zwnj", 0x200C},  {"shy", 0xAD},      {"thinsp", 0x2009},
    {"ensp", 0x2002},  {"emsp", 0x2003},  {"dagger", 0x2020}, {"euro", 0x20AC},
};

char32_t LookupName(std::string_view name) {
  for (const NamedReference& r : kNamedReferences) {
    if (r.name == name) return r.codePoint;
  }
  return 0;
}

bool IsBlockTag(std::string_view name) {
  static constexpr std::array<std::string_view, 48> kBlocks = {
      "address", "article", "aside",  "blockquote", "br",       "caption",    "dd",     "details",
      "dialog",  "div",     "dl",     "dt",         "fieldset", "figcaption", "figure", "footer",
      "form",    "h1",      "h2",     "h3",         "h4",       "h5",         "h6",     "header",
      "hgroup",  "hr",      "legend", "li",         "main",     "menu",       "nav",    "ol",
      "option",  "p",       "pre",    "search",     "section",  "summary",    "table",  "tbody",
      "td",      "tfoot",   "th",     "thead",      "tr",       "ul",         "body",   "html"};
  return std::find(kBlocks.begin(), kBlocks.end(), name) != kBlocks.end();
}

bool IsVoidTag(std::string_view name) {
  static constexpr std::array<std::string_view, 14> kVoid = {
      "area",  "base", "br",   "col",    "embed", "hr",  "img",
      "input", "link", "meta", "source", "track", "wbr", "param"};
  return std::find(kVoid.begin(), kVoid.end(), name) != kVoid.end();
}

// Elements whose content is never visible text and is skipped to their end tag.
bool IsSkippedTag(std::string_view name) {
  return name == "script" || name == "style" || name == "template" || name == "noscript" ||
         name == "svg" || name == "math" || name == "iframe" || name == "object" ||
         name == "textarea" || name == "select";
}

int HeadingLevel(std::string_view name) {
  if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') return name[1] - '0';
  return 0;
}

// Case-insensitive search for needle (lower case) in text from position from.
std::size_t FindFolded(std::string_view text, std::string_view needle, std::size_t from) {
  if (needle.empty()) return from;
  const char first = needle[0];
  const char firstUpper = ToUpperAscii(first);
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
    const char c = text[i];
    if (c != first && c != firstUpper) continue;
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
    for (const char c : bytes) {
      if (IsSpace(c)) {
        Space();
        continue;
      }
      if (full_) return;
      if (text_.size() + (pendingSpace_ ? 1 : 0) >= limit_) {
        full_ = true;
        return;
      }
      if (pendingSpace_) {
        text_ += ' ';
        pendingSpace_ = false;
      }
      text_ += c;
    }
  }
  bool Empty() const { return text_.empty(); }
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
    Reset();
    return taken;
  }
  void Reset() {
    text_.clear();
    pendingSpace_ = false;
    full_ = false;
  }

 private:
  std::string text_;
  std::size_t limit_;
  bool pendingSpace_ = false;
  bool full_ = false;
};

struct Tag {
  std::string name;  // lower case
  bool end = false;
  bool selfClosing = false;
  std::string id;
  std::string nameAttribute;  // name=
  std::string lang;
  std::string httpEquiv;
  std::string metaName;
  std::string content;
  bool ignore = false;  // data-quarry-ignore
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

// Reads the tag at page[at] ('<' then a letter or '/'), through its '>'. Returns the position
// after it, or page.size() when the page ends inside.
std::size_t ReadTag(std::string_view page, std::size_t at, Tag& tag) {
  tag = Tag{};
  std::size_t i = at + 1;
  if (i < page.size() && page[i] == '/') {
    tag.end = true;
    ++i;
  }
  while (i < page.size() && IsNameByte(page[i])) tag.name += ToLowerAscii(page[i++]);
  while (i < page.size()) {
    while (i < page.size() && (IsSpace(page[i]) || page[i] == '/')) {
      if (page[i] == '/' && i + 1 < page.size() && page[i + 1] == '>') tag.selfClosing = true;
      ++i;
    }
    if (i >= page.size()) break;
    if (page[i] == '>') return i + 1;
    std::string attribute;
    while (i < page.size() && IsNameByte(page[i])) attribute += ToLowerAscii(page[i++]);
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
        const std::size_t close = page.find(quote, i);
        const std::size_t stop = close == std::string_view::npos ? page.size() : close;
        value = page.substr(i, stop - i);
        i = stop == page.size() ? stop : stop + 1;
      } else {
        const std::size_t start = i;
        while (i < page.size() && !IsSpace(page[i]) && page[i] != '>') ++i;
        value = page.substr(start, i - start);
      }
    }
    if (value.size() > 4096) value = value.substr(0, 4096);
    if (attribute == "id") {
      tag.id = DecodedValue(value);
    } else if (attribute == "name") {
      tag.nameAttribute = DecodedValue(value);
    } else if (attribute == "lang") {
      tag.lang = std::string(value);
    } else if (attribute == "http-equiv") {
      tag.httpEquiv = LowerAscii(value);
    } else if (attribute == "content") {
      tag.content = DecodedValue(value);
    } else if (attribute == "data-quarry-ignore") {
      tag.ignore = true;
    }
    if (attribute == "name" && tag.name == "meta") tag.metaName = LowerAscii(value);
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
  const char32_t cp = LookupName(text.substr(1, i - 1));
  if (cp == 0) return 0;
  AppendUtf8(cp, out);
  return i + 1;
}

void PageOutline::Scan(std::string_view page) {
  title.clear();
  headings.clear();
  text.clear();
  lang.clear();
  redirect = false;
  noindex = false;

  struct Open {
    std::string name;
    std::string id;
  };
  std::vector<Open> stack;
  CollapsedText body(kTextLimit);
  CollapsedText titleText(kTitleLimit);
  CollapsedText headingText(kTitleLimit);

  bool inHead = false;
  bool sawBody = false;
  bool haveTitle = false;
  bool inTitle = false;
  int headingLevel = 0;  // of the heading being read, or 0
  std::string headingAnchor;
  bool anchorFound = false;
  std::string enclosingAnchor;  // of the heading being read: the nearest id around it
  std::size_t ignoreDepth = 0;  // ignored elements of ignoredName open, or 0
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
      headings.push_back({anchorFound ? headingAnchor : enclosingAnchor, std::move(heading)});
    }
    headingLevel = 0;
    headingAnchor.clear();
    anchorFound = false;
  };

  Tag tag;
  std::size_t i = 0;
  while (i < page.size()) {
    // Text up to the next '<' or '&'.
    std::size_t next = i;
    while (next < page.size() && page[next] != '<' && page[next] != '&') ++next;
    if (next > i) appendText(page.substr(i, next - i));
    i = next;
    if (i >= page.size()) break;

    if (page[i] == '&') {
      std::string decoded;
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
      const std::size_t close = page.find('>', i);
      i = close == std::string_view::npos ? page.size() : close + 1;
      continue;
    }
    const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isLetter(after) && !(after == '/' && i + 2 < page.size() && isLetter(page[i + 2]))) {
      appendText(page.substr(i, 1));
      ++i;
      continue;
    }
    i = ReadTag(page, i, tag);
    const std::string& name = tag.name;

    if (inTitle) {  // a title holds text only: everything up to </title> is its text
      if (tag.end && name == "title") {
        inTitle = false;
        haveTitle = true;
      }
      continue;
    }

    if (tag.end) {
      if (ignoreDepth > 0) {
        if (name == ignoredName) --ignoreDepth;
        continue;
      }
      if (name == "head") inHead = false;
      if (headingLevel > 0 && HeadingLevel(name) > 0) finishHeading();
      for (std::size_t k = stack.size(); k-- > 0;) {
        if (stack[k].name == name) {
          stack.resize(k);
          break;
        }
      }
      if (IsBlockTag(name)) {
        body.Space();
        headingText.Space();
      }
      continue;
    }

    // A start tag.
    const bool opens = !tag.selfClosing && !IsVoidTag(name);
    if (ignoreDepth > 0) {
      if (name == ignoredName && opens) ++ignoreDepth;
      continue;
    }
    if (name == "html") {
      if (lang.empty() && !tag.lang.empty()) {
        lang = LowerAscii(std::string_view(tag.lang).substr(0, tag.lang.find_first_of("-_")));
      }
    } else if (name == "head") {
      inHead = !sawBody;
    } else if (name == "body") {
      inHead = false;
      sawBody = true;
    } else if (name == "meta") {
      if (tag.httpEquiv == "refresh" && FindFolded(tag.content, "url", 0) != std::string::npos) {
        redirect = true;
      }
      if (tag.metaName == "robots" && FindFolded(tag.content, "noindex", 0) != std::string::npos) {
        noindex = true;
      }
    } else if (name == "title") {
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
    if (IsSkippedTag(name) && !tag.selfClosing) {
      const std::size_t close = FindFolded(page, "</" + name, i);
      i = close == std::string_view::npos ? page.size() : close;
      continue;
    }
    if (tag.ignore) {
      if (opens) {
        ignoreDepth = 1;
        ignoredName = name;
      }
      continue;
    }
    if (IsBlockTag(name)) {
      body.Space();
      headingText.Space();
    }
    if (HeadingLevel(name) > 0 && !inHead) {
      if (headingLevel > 0) finishHeading();
      headingLevel = HeadingLevel(name);
      anchorFound = !tag.id.empty();
      headingAnchor = tag.id;
      enclosingAnchor.clear();
      for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (!it->id.empty()) {
          enclosingAnchor = it->id;
          break;
        }
      }
    } else if (headingLevel > 0 && !anchorFound) {
      if (!tag.id.empty()) {
        headingAnchor = tag.id;
        anchorFound = true;
      } else if (!tag.nameAttribute.empty() && name == "a") {
        headingAnchor = tag.nameAttribute;
        anchorFound = true;
      }
    }
    if (opens && stack.size() < kStackLimit) stack.push_back({name, tag.id});
  }
  if (headingLevel > 0) finishHeading();

  text = body.Take();
  title = titleText.Take();
  if (title.empty() && !headings.empty()) title = headings.front().text;
}

}  // namespace quarry
