#include "indexing/HtmlTextFilter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

#include "io/PageFile.h"
#include "model/TextOrder.h"
#include "model/Utf8Class.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quarry {

namespace {

// A tag is kept as at most 2047 bytes ('<', 2045 characters, '>'), as a 2048-byte buffer with its
// NUL holds; an entity name as at most 1023 characters.
constexpr std::size_t kTagLimit = 2047;
constexpr std::size_t kEntityNameLimit = 1023;

// ---- The tag table ------------------------------------------------------------------------------

enum class TagMatch : std::uint8_t {
  kExact,    // the whole tag equals a form, case-sensitive
  kPrefix,   // the tag's first form.size() bytes equal a form, case-sensitive
  kAnyCase,  // the whole tag equals a form, ignoring the case of ASCII letters
};

struct TagRow {
  std::string_view forms[2];  // an empty form matches nothing
  TagMatch match;
  std::string_view appends;
  int weight;
  std::size_t onlyAtLength = 0;  // appends only when the whole tag has this length; 0: always
};

constexpr TagRow kTagRows[] = {
    {{"<HTML>", "<html>"}, TagMatch::kExact, "", 1},
    {{"<BODY>", "<body>"}, TagMatch::kExact, "", 1},
    {{"</HEAD>", "</head>"}, TagMatch::kExact, "\n", 1},
    {{"<CENTER>", "<center>"}, TagMatch::kExact, "\n", 1},
    {{"</CENTER>", "</center>"}, TagMatch::kExact, "\n", 1},
    {{"<P>", "<p>"}, TagMatch::kExact, "\n\n", -1},
    {{"<BR>", "<br>"}, TagMatch::kExact, "\n", -1},
    {{"<H", "<h"}, TagMatch::kPrefix, "\n", 1, 4},
    {{"</H", "</h"}, TagMatch::kPrefix, "\n", 1, 5},
    {{"<DL>", "<dl>"}, TagMatch::kExact, "", 1},
    {{"</DL>", "</dl>"}, TagMatch::kExact, "\n", 1},
    {{"<DD>", "<dd>"}, TagMatch::kExact, "\n\t\t", 0},
    {{"<DT>", "<dt>"}, TagMatch::kExact, "\t", 0},
    {{"<LI>", "<li>"}, TagMatch::kExact, "\n\t\t", 0},
    {{"<UL>", "<ul>"}, TagMatch::kExact, "", 1},
    {{"</UL>", "</ul>"}, TagMatch::kExact, "\n", 1},
    {{"<OL>", "<ol>"}, TagMatch::kExact, "", 1},
    {{"</OL>", "</ol>"}, TagMatch::kExact, "\n", 1},
    {{"<TABLE>", "<table>"}, TagMatch::kExact, "\n", 1},
    {{"</TABLE>", "</table>"}, TagMatch::kExact, "\n", 1},
    {{"<TH", "<th"}, TagMatch::kPrefix, "\n\t", 1},
    {{"</TH>", "</th>"}, TagMatch::kExact, "\n", 1},
    {{"<TR", "<tr"}, TagMatch::kPrefix, "\n\t", 1},
    {{"</TR>", "</tr>"}, TagMatch::kExact, "\n", 1},
    {{"<BLINK>", "<blink>"}, TagMatch::kExact, "", 1},
    {{"</BLINK>", "</blink>"}, TagMatch::kExact, "", 1},
    {{"<HR", "<hr"}, TagMatch::kPrefix, "\n", 1},
    {{"<IMG", "<img"}, TagMatch::kPrefix, "", 1},
    {{"<A HREF", ""}, TagMatch::kPrefix, "", 1},
    {{"<FORM", "<form"}, TagMatch::kPrefix, "", 1},
    {{"</FORM", "</form"}, TagMatch::kPrefix, "\n", 1},
    {{"<b>", "</b>"}, TagMatch::kAnyCase, " ", 1},
    {{"<i>", "</i>"}, TagMatch::kAnyCase, " ", 1},
};
constexpr std::size_t kTagRowCount = std::size(kTagRows);
static_assert(kTagRowCount == 33 && kTagRowCount <= 64);

bool RowMatches(const TagRow& row, std::string_view tag) {
  for (std::string_view form : row.forms) {
    if (form.empty()) continue;
    switch (row.match) {
      case TagMatch::kExact:
        if (tag == form) return true;
        break;
      case TagMatch::kPrefix:
        if (tag.starts_with(form)) return true;
        break;
      case TagMatch::kAnyCase:
        if (EqualsFoldingCase(tag, form)) return true;
        break;
    }
  }
  return false;
}

// Which rows are worth trying for a tag, found without comparing: trying only those, in order,
// gives what trying all does.
//
// By its key: the tag's second byte, or for a tag that starts "</" 256 + its third byte. Every
// form is at least two bytes long and a form that starts "</" at least three, so a row can
// match only tags whose key is the key of one of its forms (either case for the any-case rows).
constexpr std::size_t kKeyCount = 512;

// REQUIRES: tag.size() >= 2.
constexpr std::size_t KeyOf(std::string_view tag) {
  return tag[1] == '/' && tag.size() > 2 ? 256 + static_cast<unsigned char>(tag[2])
                                         : static_cast<unsigned char>(tag[1]);
}

constexpr std::array<std::uint64_t, kKeyCount> MakeRowsByKey() {
  std::array<std::uint64_t, kKeyCount> rows{};
  for (std::size_t i = 0; i < kTagRowCount; ++i) {
    for (std::string_view form : kTagRows[i].forms) {
      if (form.empty()) continue;
      const std::uint64_t bit = std::uint64_t{1} << i;
      const std::size_t at = form[1] == '/' ? 2 : 1;
      const std::size_t base = form[1] == '/' ? 256 : 0;
      rows[base + static_cast<unsigned char>(form[at])] |= bit;
      if (kTagRows[i].match == TagMatch::kAnyCase) {
        rows[base + static_cast<unsigned char>(ToLowerAscii(form[at]))] |= bit;
        rows[base + static_cast<unsigned char>(ToUpperAscii(form[at]))] |= bit;
      }
    }
  }
  return rows;
}
constexpr std::array<std::uint64_t, kKeyCount> kRowsByKey = MakeRowsByKey();

// By its length: a whole-tag row only matches tags as long as one of its forms, a prefix row
// only tags at least as long as one. Index: the length, or the last index for every longer tag.
constexpr std::size_t kLengthCount = 16;

constexpr std::array<std::uint64_t, kLengthCount> MakeRowsByLength() {
  std::array<std::uint64_t, kLengthCount> rows{};
  for (std::size_t i = 0; i < kTagRowCount; ++i) {
    for (std::string_view form : kTagRows[i].forms) {
      if (form.empty()) continue;
      for (std::size_t length = 0; length < kLengthCount; ++length) {
        const bool fits =
            kTagRows[i].match == TagMatch::kPrefix ? length >= form.size() : length == form.size();
        if (fits) rows[length] |= std::uint64_t{1} << i;
      }
    }
  }
  return rows;
}
constexpr std::array<std::uint64_t, kLengthCount> kRowsByLength = MakeRowsByLength();

constexpr bool WholeTagFormsAreShort() {
  for (const TagRow& row : kTagRows) {
    for (std::string_view form : row.forms) {
      if (row.match != TagMatch::kPrefix && form.size() >= kLengthCount - 1) return false;
    }
  }
  return true;
}
static_assert(WholeTagFormsAreShort());

constexpr bool SlashFormsHaveThreeBytes() {
  for (const TagRow& row : kTagRows) {
    for (std::string_view form : row.forms) {
      if (!form.empty() && form[1] == '/' && form.size() < 3) return false;
    }
  }
  return true;
}
static_assert(SlashFormsHaveThreeBytes());

constexpr bool EveryFormHasTwoBytes() {
  for (const TagRow& row : kTagRows) {
    for (std::string_view form : row.forms) {
      if (!form.empty() && form.size() < 2) return false;
    }
  }
  return true;
}
static_assert(EveryFormHasTwoBytes());

constexpr std::size_t SumOfTagAppends() {
  std::size_t sum = 0;
  for (const TagRow& row : kTagRows) sum += row.appends.size();
  return sum;
}
constexpr std::size_t kMaxTagAppend = 48;
static_assert(SumOfTagAppends() + 1 <= kMaxTagAppend);  // and the blank of a block tag

// Rows append only blanks, tabs and line feeds: a tag that matched rows without appending
// anything appended none of them.
constexpr bool AppendsAreWhiteSpace() {
  for (const TagRow& row : kTagRows) {
    for (char c : row.appends) {
      if (c != ' ' && c != '\t' && c != '\n') return false;
    }
  }
  return true;
}
static_assert(AppendsAreWhiteSpace());

// ---- Block and cell tags ------------------------------------------------------------------------

// The tags that end a word even when no row appends anything for them: a tag whose name (the
// bytes after '<' or '</' up to a blank, tab, LF, CR, FF, '/' or '>') is one of these, ignoring
// ASCII case.
constexpr std::string_view kBlockTagNames[] = {
    "address", "article", "aside",  "blockquote", "br",       "caption",    "dd",     "details",
    "dialog",  "div",     "dl",     "dt",         "fieldset", "figcaption", "figure", "footer",
    "form",    "h1",      "h2",     "h3",         "h4",       "h5",         "h6",     "header",
    "hgroup",  "hr",      "legend", "li",         "main",     "menu",       "nav",    "ol",
    "option",  "p",       "pre",    "search",     "section",  "summary",    "table",  "tbody",
    "td",      "tfoot",   "th",     "thead",      "tr",       "ul"};

// The names as a trie over lower-cased bytes, walked one tag byte at a time. A byte's class:
// kNameEnd for the bytes that end a name, kNoName for a byte that stands in no listed name
// (a lower-case letter or digit of the names, upper-case letters alike, has a class of its own).
constexpr std::uint8_t kNameEnd = 0;
constexpr std::uint8_t kNoName = 1;
constexpr std::size_t kNameClassCount = 2 + 26 + 10;
// A trie row holds a power of two of entries, so that a step of the walk is a shift and an add.
constexpr std::size_t kNameRowWidth = std::bit_ceil(kNameClassCount);

constexpr std::array<std::uint8_t, 256> MakeNameClasses() {
  std::array<std::uint8_t, 256> classes{};
  classes.fill(kNoName);
  for (char c : {' ', '\t', '\n', '\r', '\f', '/', '>'})
    classes[static_cast<unsigned char>(c)] = kNameEnd;
  std::uint8_t next = 2;
  for (std::string_view name : kBlockTagNames) {
    for (char c : name) {
      if (classes[static_cast<unsigned char>(c)] != kNoName) continue;
      classes[static_cast<unsigned char>(c)] = next;
      classes[static_cast<unsigned char>(ToUpperAscii(c))] = next;
      ++next;
    }
  }
  return classes;
}
constexpr std::array<std::uint8_t, 256> kNameClasses = MakeNameClasses();

// A walk stops in kNotName or kName; kRoot is where it starts, and every other state is the
// prefix of a name that led to it. A name-ending byte leads to kName from a whole name.
constexpr std::uint8_t kNotName = 0;
constexpr std::uint8_t kName = 1;
constexpr std::uint8_t kRoot = 2;
constexpr std::size_t kNameStateLimit = 256;
using NameTrie = std::array<std::array<std::uint8_t, kNameRowWidth>, kNameStateLimit>;

constexpr std::size_t NameTrieStates() {
  std::size_t states = kRoot + 1;
  for (std::string_view name : kBlockTagNames) states += name.size();
  return states;  // at most: no two names share a prefix
}
static_assert(NameTrieStates() <= kNameStateLimit);

constexpr NameTrie MakeNameTrie() {
  NameTrie next{};
  std::size_t states = kRoot + 1;
  for (std::string_view name : kBlockTagNames) {
    std::size_t state = kRoot;
    for (char c : name) {
      std::uint8_t& to = next[state][kNameClasses[static_cast<unsigned char>(c)]];
      if (to == kNotName) to = static_cast<std::uint8_t>(states++);
      state = to;
    }
    next[state][kNameEnd] = kName;
  }
  return next;
}
constexpr NameTrie kNameTrie = MakeNameTrie();

constexpr bool NamesAreLowerCaseLettersAndDigits() {
  for (std::string_view name : kBlockTagNames) {
    if (name.empty()) return false;
    for (char c : name) {
      if (c != ToLowerAscii(c) || kNameClasses[static_cast<unsigned char>(c)] <= kNoName)
        return false;
    }
  }
  return true;
}
static_assert(NamesAreLowerCaseLettersAndDigits());

// Whether tag (from '<' to '>', at least two bytes) is a block or cell tag.
bool IsBlockTag(std::string_view tag) {
  std::size_t state = kRoot;
  for (std::size_t i = tag[1] == '/' ? 2 : 1; i < tag.size(); ++i) {
    state = kNameTrie[state][kNameClasses[static_cast<unsigned char>(tag[i])]];
    if (state < kRoot) return state == kName;
  }
  return kNameTrie[state][kNameEnd] == kName;  // the name ends with the tag
}

// ---- The entity table ---------------------------------------------------------------------------

struct EntityRow {
  std::string_view names[2];  // an empty name matches nothing
  std::string_view appends;
};

// Group A: the first row that names the entity appends its replacement.
constexpr EntityRow kGroupA[] = {
    {{"& ", ""}, "& "},
    {{"lt", "#60"}, "<"},
    {{"gt", "#62"}, ">"},
    {{"amp", "#38"}, "&"},
    {{"nbsp", ""}, " "},
    {{"quot", "#34"}, "\""},
    {{"copy", "#169"}, " Copyright "},
    {{"reg", "#174"}, " Registered "},
};
// Group B, always tried: the trademark row, or else one blank.
constexpr EntityRow kTrademark = {{"trade", "#153"}, " Trademark "};
constexpr std::string_view kOtherEntity = " ";
constexpr std::size_t kMaxEntityAppend = 24;

constexpr bool EntityAppendsFit() {
  std::size_t longest = 0;
  for (const EntityRow& row : kGroupA) longest = std::max(longest, row.appends.size());
  return longest + std::max(kTrademark.appends.size(), kOtherEntity.size()) <= kMaxEntityAppend &&
         kMaxUtf8Length <= kMaxEntityAppend;  // a character of a name or a number
}
static_assert(EntityAppendsFit());

// Beyond the table: libxml2's HTML entity names (tools/entity-names), case-sensitive.
struct NamedEntity {
  std::string_view name;
  std::int32_t codePoint;
};
constexpr NamedEntity kNamedEntities[] = {
#include "indexing/HtmlEntityNames.inc"
};
static_assert(std::size(kNamedEntities) == 253);
static_assert(std::ranges::is_sorted(kNamedEntities, {}, &NamedEntity::name));

// The code point of a numeric reference's name: '#' and decimal digits, or "#x" or "#X" and hex
// digits. Values above U+10FFFF give 0x110000; none (-1) for any other name.
std::int32_t NumericReference(std::string_view name) {
  if (name.size() < 2 || name[0] != '#') return -1;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  if (digits.empty()) return -1;
  constexpr std::int32_t kBeyond = 0x110000;
  std::int32_t value = 0;
  for (const char c : digits) {
    int digit = 0;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && ToLowerAscii(c) >= 'a' && ToLowerAscii(c) <= 'f') {
      digit = ToLowerAscii(c) - 'a' + 10;
    } else {
      return -1;
    }
    value = std::min(value * (hex ? 16 : 10) + digit, kBeyond);
  }
  return value;
}

// The code point an entity name beyond the table stands for, or -1.
std::int32_t NamedCodePoint(std::string_view name) {
  const auto* found = std::ranges::lower_bound(kNamedEntities, name, {}, &NamedEntity::name);
  return found != std::end(kNamedEntities) && found->name == name ? found->codePoint : -1;
}

std::int32_t EntityCodePoint(std::string_view name) {
  return name.starts_with('#') ? NumericReference(name) : NamedCodePoint(name);
}

// Whether an entity's code point becomes its character: not for NUL, the controls, the blank,
// the surrogates, values beyond U+10FFFF and the Unicode spaces, which give one blank.
bool IsEntityCharacter(std::int32_t cp) {
  return cp > 0x20 && (cp < 0x7F || cp > 0x9F) && (cp < 0xD800 || cp > 0xDFFF) && cp <= 0x10FFFF &&
         !IsUnicodeSpace(cp);
}

// Whether a name as read (bytes, then "& " when a blank ended it) equals form.
bool NameIs(std::string_view bytes, bool endedByBlank, std::string_view form) {
  if (form.empty()) return false;
  if (!endedByBlank) return bytes == form;
  return form.size() == bytes.size() + 2 && form.starts_with(bytes) && form.ends_with("& ");
}

bool RowNames(const EntityRow& row, std::string_view bytes, bool endedByBlank) {
  return NameIs(bytes, endedByBlank, row.names[0]) || NameIs(bytes, endedByBlank, row.names[1]);
}

// ---- Bytes --------------------------------------------------------------------------------------

enum ByteClass : std::uint8_t { kText, kSpace, kTagStart, kEntityStart };

constexpr std::array<ByteClass, 256> MakeByteClasses() {
  std::array<ByteClass, 256> classes{};  // all kText
  for (char c : {' ', '\t', '\n', '\v', '\f', '\r'})
    classes[static_cast<unsigned char>(c)] = kSpace;
  classes['<'] = kTagStart;
  classes['&'] = kEntityStart;
  return classes;
}
constexpr std::array<ByteClass, 256> kByteClasses = MakeByteClasses();

// The text bytes that can begin the UTF-8 of a Unicode space (IsUnicodeSpace): U+0085 and
// U+00A0 begin with 0xC2, U+1680 with 0xE1, U+2000 to U+205F with 0xE2 and U+3000 with 0xE3.
// They begin many other characters too.
constexpr std::array<bool, 256> MakeUnicodeSpaceStarts() {
  std::array<bool, 256> starts{};
  for (std::size_t b : {0xC2u, 0xE1u, 0xE2u, 0xE3u}) starts[b] = true;
  return starts;
}
constexpr std::array<bool, 256> kUnicodeSpaceStarts = MakeUnicodeSpaceStarts();

bool MayStartUnicodeSpace(char c) { return kUnicodeSpaceStarts[static_cast<unsigned char>(c)]; }

ByteClass ClassOf(char c) { return kByteClasses[static_cast<unsigned char>(c)]; }

// Copies the text bytes at the input's next byte to out, up to the first byte that is not a
// text byte, or may start a Unicode space, or the end of the input. REQUIRES: out has room for as
// many bytes as the input has left (16 bytes are copied at a time, and out moves only past the text
// bytes among them).
void CopyText(const char*& in, const char* end, char*& out) {
#if defined(__SSE2__)
  const __m128i lessThan = _mm_set1_epi8('<');
  const __m128i ampersand = _mm_set1_epi8('&');
  const __m128i blank = _mm_set1_epi8(' ');
  const __m128i tab = _mm_set1_epi8('\t');  // tab to CR are 9 to 13
  const __m128i four = _mm_set1_epi8(4);
  const __m128i c2 = _mm_set1_epi8(static_cast<char>(0xC2));  // kUnicodeSpaceStarts: 0xC2,
  const __m128i e1 = _mm_set1_epi8(static_cast<char>(0xE1));  // and 0xE1 to 0xE3
  const __m128i two = _mm_set1_epi8(2);
  while (end - in >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    const __m128i fromTab = _mm_sub_epi8(bytes, tab);
    const __m128i controlSpace = _mm_cmpeq_epi8(_mm_min_epu8(fromTab, four), fromTab);
    __m128i other = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, lessThan), _mm_cmpeq_epi8(bytes, ampersand)),
        _mm_or_si128(_mm_cmpeq_epi8(bytes, blank), controlSpace));
    if (_mm_movemask_epi8(bytes) != 0) {  // bytes 0x80-0xFF: look for Unicode space starts too
      const __m128i fromE1 = _mm_sub_epi8(bytes, e1);
      other = _mm_or_si128(other, _mm_or_si128(_mm_cmpeq_epi8(bytes, c2),
                                               _mm_cmpeq_epi8(_mm_min_epu8(fromE1, two), fromE1)));
    }
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(other));
    if (mask != 0) {
      const int n = std::countr_zero(mask);
      in += n;
      out += n;
      return;
    }
    in += 16;
    out += 16;
  }
#endif
  while (in < end && ClassOf(*in) == kText && !MayStartUnicodeSpace(*in)) *out++ = *in++;
}

void Append(std::string_view bytes, char*& out) {
  std::memcpy(out, bytes.data(), bytes.size());
  out += bytes.size();
}

// Room kept free beyond the input still to read: the most one tag or entity appends.
constexpr std::size_t kSlack = std::max(kMaxTagAppend, kMaxEntityAppend);

// Appends what the rows (a set of kTagRows, by bit) that match tag append, then the blank of a
// block or cell tag when they appended none; returns the tag's weight.
// Kept out of line, so that HandleTag's common path saves no registers.
[[gnu::noinline]] int AppendTagRows(std::uint64_t rows, std::string_view tag, char*& out) {
  const char* const start = out;
  int weight = 0;
  for (; rows != 0; rows &= rows - 1) {
    const TagRow& row = kTagRows[std::countr_zero(rows)];
    if (!RowMatches(row, tag)) continue;
    if (row.onlyAtLength == 0 || tag.size() == row.onlyAtLength) Append(row.appends, out);
    weight += row.weight;
  }
  if (out == start && IsBlockTag(tag)) {  // the rows appended no blank, tab or line feed
    *out++ = ' ';
    weight = std::max(weight, 1);
  }
  return weight;
}

}  // namespace

std::int32_t HtmlEntityNameCodePoint(std::string_view name) { return NamedCodePoint(name); }

int HtmlTextFilter::LoadPage(PageFile& file) {
  Filter(file.ReadRest());  // PageFile has turned NUL bytes into blanks
  return static_cast<int>(std::min<std::size_t>(textSize_, INT_MAX));
}

int HtmlTextFilter::LoadText(std::string_view page) {
  if (page.empty() || std::memchr(page.data(), '\0', page.size()) == nullptr) {
    Filter(page);
  } else {
    std::string blanked(page);
    std::replace(blanked.begin(), blanked.end(), '\0', ' ');
    Filter(blanked);
  }
  return static_cast<int>(std::min<std::size_t>(textSize_, INT_MAX));
}

void HtmlTextFilter::Filter(std::string_view page) {
  readPosition_ = 0;
  textSize_ = 0;
  // Text bytes and white space append at most one byte for each byte they take; a tag or an
  // entity appends at most kSlack bytes. So the text fits while the room left holds the input
  // still to read, with kSlack more made before each tag or entity (only entities outgrow it).
  std::size_t capacity = page.size() + kSlack;
  text_ = std::make_unique_for_overwrite<char[]>(capacity);
  char* out = text_.get();
  const auto makeRoom = [&](std::size_t rest) {
    const auto used = static_cast<std::size_t>(out - text_.get());
    if (capacity - used < rest + kSlack) {
      capacity = std::max(capacity + capacity / 2, used + rest + kSlack);
      auto grown = std::make_unique_for_overwrite<char[]>(capacity);
      std::memcpy(grown.get(), text_.get(), used);
      text_ = std::move(grown);
      out = text_.get() + used;
    }
  };

  Input in{page.data(), page.data() + page.size()};
  int blanks = 0;  // white space since the last text byte, offset by the last tag's weight
  const auto addWhiteSpace = [&] {
    // Once at 1 or more, the counter cannot come back to exactly 1, so it stops at 2.
    if (blanks < 2 && ++blanks == 1) *out++ = ' ';
  };
  while (in.next < in.end) {
    const char c = *in.next++;
    switch (ClassOf(c)) {
      case kText:
        if (MayStartUnicodeSpace(c)) {
          const std::size_t space =
              WhiteSpaceLength(in.next - 1, static_cast<std::size_t>(in.end - in.next) + 1);
          if (space > 0) {
            in.next += space - 1;
            addWhiteSpace();
            break;
          }
        }
        *out++ = c;
        CopyText(in.next, in.end, out);
        blanks = 0;
        break;
      case kSpace:
        addWhiteSpace();
        break;
      case kTagStart: {
        const std::optional<std::string_view> tag = ReadTag(in);
        if (!tag || !SkipScript(*tag, in)) break;  // the page ended inside: all input taken
        makeRoom(static_cast<std::size_t>(in.end - in.next));
        blanks = HandleTag(*tag, out);
        break;
      }
      case kEntityStart: {
        const std::optional<EntityName> name = ReadEntityName(in);
        if (!name) break;  // the page ended inside: all input taken
        makeRoom(static_cast<std::size_t>(in.end - in.next));
        if (AppendEntity(*name, out)) blanks = 0;  // a character, as a page byte
        break;
      }
    }
  }
  textSize_ = static_cast<std::size_t>(out - text_.get());
}

std::optional<std::string_view> HtmlTextFilter::ReadTag(Input& in) {
  const char* start = in.next - 1;  // the '<'
  const void* close = std::memchr(in.next, '>', static_cast<std::size_t>(in.end - in.next));
  if (close == nullptr) {
    in.next = in.end;
    return std::nullopt;
  }
  in.next = static_cast<const char*>(close) + 1;
  return std::string_view(start, static_cast<std::size_t>(in.next - start)).substr(0, kTagLimit);
}

bool HtmlTextFilter::SkipScript(std::string_view tag, Input& in) {
  if (!tag.starts_with("<script") && !tag.starts_with("<SCRIPT")) return true;
  const void* next = std::memchr(in.next, '<', static_cast<std::size_t>(in.end - in.next));
  in.next = next != nullptr ? static_cast<const char*>(next) : in.end;
  return next != nullptr;
}

int HtmlTextFilter::HandleTag(std::string_view tag, char*& out) {
  if (tag.size() < 2) return 0;  // every form has two bytes or more
  const std::uint64_t rows =
      kRowsByKey[KeyOf(tag)] & kRowsByLength[std::min(tag.size(), kLengthCount - 1)];
  // Most tags (<span>, <a>, <code>) have no row: kept apart, they cost a table look-up and a
  // short walk of the block names.
  if (rows == 0) {
    if (!IsBlockTag(tag)) return 0;
    *out++ = ' ';
    return 1;
  }
  return AppendTagRows(rows, tag, out);
}

std::optional<HtmlTextFilter::EntityName> HtmlTextFilter::ReadEntityName(Input& in) {
  for (const char* p = in.next; p < in.end; ++p) {
    if (*p == ';' || *p == ' ') {
      const EntityName name{std::string_view(in.next, static_cast<std::size_t>(p - in.next)),
                            *p == ' '};
      in.next = p + 1;
      return name;
    }
  }
  in.next = in.end;
  return std::nullopt;
}

bool HtmlTextFilter::AppendEntity(const EntityName& name, char*& out) {
  const std::size_t length = name.bytes.size() + (name.endedByBlank ? 2 : 0);
  if (length > kEntityNameLimit) {  // a longer name is kept cut, and names nothing
    Append(kOtherEntity, out);
    return false;
  }
  bool inTable = false;
  for (const EntityRow& row : kGroupA) {
    if (RowNames(row, name.bytes, name.endedByBlank)) {
      Append(row.appends, out);
      inTable = true;
      break;
    }
  }
  if (RowNames(kTrademark, name.bytes, name.endedByBlank)) {
    Append(kTrademark.appends, out);
    return false;
  }
  if (!inTable && !name.endedByBlank) {
    const std::int32_t cp = EntityCodePoint(name.bytes);
    if (cp >= 0 && IsEntityCharacter(cp)) {
      out += EncodeUtf8(cp, out);
      return true;
    }
  }
  Append(kOtherEntity, out);
  return false;
}

char* HtmlTextFilter::ReadLine(char* buffer, int size) {
  if (buffer == nullptr || size < 1) return nullptr;
  const std::size_t limit = static_cast<std::size_t>(size) - 1;
  buffer[0] = '\0';
  if (readPosition_ >= textSize_) return nullptr;  // the end, or no text loaded
  const std::size_t rest = textSize_ - readPosition_;
  const char* start = text_.get() + readPosition_;
  const std::size_t most = std::min(rest, limit);
  std::size_t n = 0;
  while (n < most && start[n] != '\n' && start[n] != '\r') ++n;
  std::memcpy(buffer, start, n);
  buffer[n] = '\0';
  // Stopped at a line break: take it too. Stopped at size - 1 bytes, or at the end of the text
  // (the last line, which has no line break): the next call goes on from the next byte.
  readPosition_ += n < most ? n + 1 : n;
  return buffer;
}

}  // namespace quarry
