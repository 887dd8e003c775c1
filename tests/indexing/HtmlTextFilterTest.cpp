#include "indexing/HtmlTextFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "io/PageFile.h"
#include "model/TrimWord.h"
#include "model/Utf8Class.h"
#include "model/WordSplitter.h"
#include "support/CaseTable.h"

namespace quarry {

// Reaches the filter's text and its tag and entity tables.
class HtmlTextFilterPeer {
 public:
  static std::string Text(const HtmlTextFilter& filter) {
    return std::string(filter.text_.get(), filter.textSize_);
  }

  struct TagResult {
    int weight;
    std::string appended;
    bool operator==(const TagResult&) const = default;
  };
  static TagResult HandleTag(std::string_view tag) {
    char buffer[128];
    char* out = buffer;
    const int weight = HtmlTextFilter::HandleTag(tag, out);
    return {weight, std::string(buffer, out)};
  }
};

namespace {

using Peer = HtmlTextFilterPeer;

std::string Filter(std::string_view page) {
  HtmlTextFilter filter;
  const int length = filter.LoadText(page);
  EXPECT_EQ(static_cast<std::size_t>(length), Peer::Text(filter).size());
  return Peer::Text(filter);
}

struct Case {
  std::string page;
  std::string text;
};

void ExpectTexts(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(Filter(c.page), c.text) << "page: " << c.page;
}

std::vector<std::string> Lines(HtmlTextFilter& filter, int size = 512) {
  std::vector<std::string> lines;
  std::vector<char> buffer(static_cast<std::size_t>(size), 'Z');
  while (const char* line = filter.ReadLine(buffer.data(), size)) {
    EXPECT_EQ(line, buffer.data());
    lines.emplace_back(line);
  }
  EXPECT_EQ(filter.ReadLine(buffer.data(), size), nullptr);  // the end stays the end
  return lines;
}

std::vector<std::string> Lines(std::string_view page, int size = 512) {
  HtmlTextFilter filter;
  filter.LoadText(page);
  return Lines(filter, size);
}

// The UTF-8 of a code point (not a surrogate).
std::string Utf8(std::int32_t cp) {
  const auto byte = [](std::int32_t b) { return static_cast<char>(b); };
  if (cp < 0x80) return {byte(cp)};
  if (cp < 0x800) return {byte(0xC0 | (cp >> 6)), byte(0x80 | (cp & 0x3F))};
  if (cp < 0x10000) {
    return {byte(0xE0 | (cp >> 12)), byte(0x80 | ((cp >> 6) & 0x3F)), byte(0x80 | (cp & 0x3F))};
  }
  return {byte(0xF0 | (cp >> 18)), byte(0x80 | ((cp >> 12) & 0x3F)),
          byte(0x80 | ((cp >> 6) & 0x3F)), byte(0x80 | (cp & 0x3F))};
}

// ---- Text --------------------------------------------------------------------------------------

TEST(HtmlTextFilterTest, WhiteSpaceCollapsesToOneBlank) {
  ExpectTexts({
      {"Hello   world", "Hello world"},
      {" \t\n\v\f\rx", " x"},
      {"a\r\nb", "a b"},  // LoadText takes CR LF as it stands: two white space bytes
      {"\xe9t\xe9 \x80", "\xe9t\xe9 \x80"},
      {"", ""},
      // Unicode spaces in UTF-8 count as white space bytes do, one each
      {"prev\xc2\xa0up\xe2\x80\x83\xe2\x80\x83next", "prev up next"},
      {"a \xc2\xa0\t\xe3\x80\x80\xc2\x85 b\xe2\x80\xa8", "a b "},
      {"\xc2\xa0x", " x"},
      {"caf\xa0x \xe9\xa0\xa0", "caf\xa0x \xe9\xa0\xa0"},   // a lone 0xA0 is text
      {"a\xc2\xc2\xa0\xe2\x80\x8b", "a\xc2 \xe2\x80\x8b"},  // as are 0xC2 alone and U+200B
  });
}

TEST(HtmlTextFilterTest, SharedSpaceTable) {
  // The words of a text without tags and entities, as the page scanner takes them.
  for (const test::CaseRow& row : test::ReadCaseTable("space-cases.tsv")) {
    std::string words;
    for (const std::string& line : Lines(row.in)) {
      WordSplitter splitter;
      splitter.SetLine(line.c_str());
      char word[kWordBufferSize];
      while (!splitter.AtEndOfLine()) {
        splitter.NextWord(word);
        if (word[0] != '\0') words.append(words.empty() ? "" : " ").append(word);
      }
    }
    EXPECT_EQ(words, row.out) << "space-cases.tsv:" << row.line;
  }
}

TEST(HtmlTextFilterTest, EveryCodePointIsWhiteSpaceAsUtf8ClassSays) {
  std::string page;
  std::string expected;
  for (std::int32_t cp = 1; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    const std::string encoded = Utf8(cp);
    const bool space = WhiteSpaceLength(encoded.data(), encoded.size()) == encoded.size();
    page.append("x").append(encoded);
    if (cp == '<' || cp == '&') {
      page.append(cp == '<' ? ">" : ";");
      expected.append(cp == '<' ? "x" : "x ");
    } else {
      expected.append("x").append(space ? " " : encoded);
    }
  }
  EXPECT_TRUE(Filter(page) == expected);  // megabytes: no dump of both
}

TEST(HtmlTextFilterTest, WhiteSpaceAfterTagsDependsOnTheirWeight) {
  ExpectTexts({
      // weight -1: the first white space byte is dropped, the second becomes a blank
      {"one<BR>two", "one\ntwo"},
      {"one<BR> two", "one\ntwo"},
      {"one<BR>  two", "one\n two"},
      {"one<P>   two", "one\n\n two"},
      // weight 0: the first white space byte becomes a blank
      {"x<font size=2>y", "xy"},
      {"x <font size=2> y", "x  y"},
      {"<DT>  x", "\t x"},
      {"<Br>\n\nx", " x"},  // mixed case matches no exact row
      // weight 1 or more: white space adds nothing until the next text byte
      {"a<B>b</B>c", "a b c"},
      {"a <b>b", "a  b"},
      {"<TR>   x", "\n\tx"},
      {"<HTML> \n x", "x"},
      {"<i> x</I>  y", " x y"},
      // Unicode spaces, alone or mixed with ASCII white space, follow the same counter
      {"one<BR>\xc2\xa0two", "one\ntwo"},
      {"one<BR>\xe3\x80\x80\ttwo", "one\n two"},
      {"x <font size=2>\xe2\x80\x89\xc2\xa0y", "x  y"},
      {"<DT>\xc2\xa0 x", "\t x"},
      {"<TR>\xc2\xa0\n\xe2\x80\x83x", "\n\tx"},
      {"a<B>\xe1\x9a\x80x", "a x"},
  });
}

TEST(HtmlTextFilterTest, BlockAndCellTagsSeparateWords) {
  ExpectTexts({
      {"<td>a</td><td>b</td>", " a  b "},
      {"1<td>operator", "1 operator"},
      {"a<br/>b<br>c", "a b\nc"},
      {"a<DIV class=x>b</div>c", "a b c"},
      {"a <div>  b", "a  b"},  // the counter is 1 after the tag: white space adds nothing
      {"a<p class=x>\xc2\xa0\tb", "a b"},
      {"<dd class=x> x", " x"},
      // inline tags still join what stands on either side
      {"a<span>b</span>c<a href=x>d</a>e<em>f</em>", "abcdef"},
      {"<DD>x", "\n\t\tx"},  // rows that append keep their weight
  });
}

TEST(HtmlTextFilterTest, TagTableRows) {
  const struct {
    std::string tag;
    int weight;
    std::string appended;
  } rows[] = {
      {"<HR>", 2, "\n\n"},  // rows <H (4 long) and <HR
      {"<HR noshade>", 2, "\n"},
      {"<Hr>", 1, "\n"},  // <H only: the <HR row is case-sensitive
      {"<HTML>", 2, ""},
      {"<Html>", 1, ""},
      {"</HTML>", 1, ""},
      {"<HEAD>", 1, ""},
      {"</HEAD>", 2, "\n"},
      {"<H1>", 1, "\n"},
      {"</H1>", 1, "\n"},
      {"<H1 align=center>", 1, " "},  // no line feed: too long; a block tag
      {"<CENTER>", 1, "\n"},
      {"<P>", -1, "\n\n"},
      {"<BR>", -1, "\n"},
      {"</dl>", 1, "\n"},
      {"<DD>", 0, "\n\t\t"},
      {"<dt>", 0, "\t"},
      {"<LI>", 0, "\n\t\t"},
      {"</ol>", 1, "\n"},
      {"<TABLE>", 1, "\n"},
      {"<TH colspan=2>", 1, "\n\t"},
      {"</TH>", 1, "\n"},  // not a </H tag
      {"<tr>", 1, "\n\t"},
      {"<IMG src=a.gif>", 1, ""},
      {"<A HREF=\"x.htm\">", 1, ""},
      {"<FORM action=x>", 1, " "},
      {"</FORM>", 1, "\n"},
      {"<B>", 1, " "},
      {"</i>", 1, " "},
      // unlisted or not in a listed form: weight 0, nothing appended
      {"<a href=\"x.htm\">", 0, ""},
      {"<A href=x>", 0, ""},
      {"<TITLE>", 0, ""},
      {"<FONT size=2>", 0, ""},
      {"<B >", 0, ""},
      {"<span class=x>", 0, ""},
      {"<!-- div -->", 0, ""},
      {"<>", 0, ""},
      // block and cell tags that no row appends for: one blank, weight at least 1
      {"<TD>", 1, " "},
      {"</td>", 1, " "},
      {"</P>", 1, " "},
      {"<p/>", 1, " "},
      {"<table border=1>", 1, " "},
      {"<p align=center>", 1, " "},
      {"<DIV class=x>", 1, " "},
      {"<br/>", 1, " "},
      {"<br />", 1, " "},
      {"<li\nclass=x>", 1, " "},
      {"<DD class=x>", 1, " "},  // weight 0 without the blank
      {"<tbody>", 1, " "},
      {"<header>", 1, " "},  // the <H row weighs 1 and appends nothing at this length
      {"</BlockQuote>", 1, " "},
      {"<figcaption\tid=x>", 1, " "},
      {"<thead>", 1, "\n\t"},  // the <TH row appends: nothing more
      {"<hr/>", 2, "\n"},
      // not a listed name
      {"<tdx>", 0, ""},
      {"<blockquot>", 0, ""},
      {"<figcaptions>", 0, ""},
      {"<div\v>", 0, ""},
      {"<//div>", 0, ""},
      {"<dir>", 0, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Peer::HandleTag(row.tag), (Peer::TagResult{row.weight, row.appended})) << row.tag;
  }
}

TEST(HtmlTextFilterTest, Entities) {
  ExpectTexts({
      {"R&D department", "R department"},
      {"AT&T ", "AT "},
      {"&trade;", " Trademark "},
      {"&#153;", " Trademark "},
      {"&copy;", " Copyright  "},
      {"x&copy; abc", "x Copyright   abc"},  // the entity leaves the counter at 0
      {"&#174;", " Registered  "},
      {"&lt;b&gt;", "< b> "},
      {"&amp;&#38;", "& & "},
      {"&nbsp;", "  "},
      {"&quot;&#34;", "\" \" "},
      {"a & b", "a &  b"},
      {"&;", " "},
      {"&LT;", " "},
      {"&LT;&AMP;&Lt;&check;", "    "},  // no such name, in any case
      {"&a<B>\nc;d", " d"},              // only ';' and the blank end a name
      {"x&lt; y", "x<  y"},
      {"<BR>&lt; y", "\n< y"},  // after a weight -1 tag the entity's counter stays at -1
  });
}

TEST(HtmlTextFilterTest, EntitiesBeyondTheTableGiveTheirCharacter) {
  ExpectTexts({
      {"caf&eacute; don&rsquo;t &apos;x&quot;", "caf\xc3\xa9 don\xe2\x80\x99t 'x\" "},
      {"&#233;&#xE9;&#Xe9;&#00233;&#x3C;", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9<"},
      {"&#X1F600;&#x10FFFF;&#xA1;&#x7E;", "\xf0\x9f\x98\x80\xf4\x8f\xbf\xbf\xc2\xa1~"},
      {"&eacute;&mdash;&Omega;&zwnj;", "\xc3\xa9\xe2\x80\x94\xce\xa9\xe2\x80\x8c"},
      // the character sets the counter to 0, as a page byte does
      {"caf&eacute;  x", "caf\xc3\xa9 x"},
      {"<BR>&eacute; x", "\n\xc3\xa9 x"},
      {"<HR>&#x41;\xc2\xa0x", "\n\nA x"},
      // one blank, the counter left alone: NUL, controls, the blank, surrogates, values beyond
      // U+10FFFF, Unicode spaces, names outside the list, names that a blank ended
      {"a&#0;&#1;&#x20;&#9;&#127;&#128;&#x9F;b", "a       b"},
      {"a&#xD800;&#xDFFF;&#x110000;&#99999999999999999999;b", "a    b"},
      {"a&#160;&ensp;&thinsp;&#x3000;&#x85;b", "a     b"},
      {"a&#;&#x;&#12a;&#xg;&#-1;&eacute b", "a      b"},
      {"<BR>&#0; x", "\n x"},
      // the table keeps its rows: a blank after them, the trademark alone
      {"&#60;&#38;&nbsp;&#153;&#0153;", "< &    Trademark  "},
  });
}

TEST(HtmlTextFilterTest, ScriptsAndComments) {
  ExpectTexts({
      {"<SCRIPT language=x>var a=1;</SCRIPT>after", "after"},
      {"<script>a=b<c; d=e>f;</script>", "f;"},
      {"<Script>code</Script>x", "codex"},  // only the two listed forms skip
      {"<scriptx>code<b>", " "},
      {"a<!-- note -->b", "ab"},
      {"<!-- a > b -->", " b -->"},
      {"<style>p {}</style>", "p {}"},
  });
}

TEST(HtmlTextFilterTest, PageEndingInsideAConstructEndsTheText) {
  ExpectTexts({
      {"abc <b", "abc "},
      {"abc<", "abc"},
      {"abc&amp", "abc"},
      {"abc&", "abc"},
      {"abc<script>var x", "abc"},
      {"abc<script>", "abc"},
      {"abc<P>&copy", "abc\n\n"},
  });
}

TEST(HtmlTextFilterTest, OverlongTagsAndEntityNamesAreReadToTheirEnd) {
  const std::string longAttributes(3000, 'x');
  ExpectTexts({
      {"<IMG " + longAttributes + ">  a", "a"},                        // the start still matches
      {"<H" + longAttributes + "> a", "a"},                            // no line feed: too long
      {"<b" + longAttributes + "> a", " a"},                           // matches nothing
      {"<SCRIPT " + longAttributes + ">code</SCRIPT>a", "a"},          // still a script
      {"&copy" + longAttributes + "; a", "  a"},                       // matches nothing
      {std::string("&").append(1021, 'y') + " a", " a"},               // 1021 + "& " fits
      {std::string("&").append(1022, 'y') + " a", " a"},               // one over
      {std::string("&").append(5000, 'y') + ";" + "<HR>z", " \n\nz"},  // the page goes on after
  });
}

TEST(HtmlTextFilterTest, NulReadsAsABlank) {
  ExpectTexts({
      {std::string("a\0b", 3), "a b"},
      {std::string("&amp\0x", 6), " x"},  // a blank ends the name: "amp& " names nothing
      {std::string("<A\0HREF=x>y", 11), "y"},
  });
}

TEST(HtmlTextFilterTest, TextGrowsPastThePageLengthForEntities) {
  std::string page;
  for (int i = 0; i < 5000; ++i) page += "&reg;";
  std::string expected;
  for (int i = 0; i < 5000; ++i) expected += " Registered  ";
  EXPECT_EQ(Filter(page), expected);
}

// ---- Lines -------------------------------------------------------------------------------------

TEST(HtmlTextFilterTest, ReadLineSequences) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines("one<P>two<BR>"), (V{"one", "", "two"}));
  EXPECT_EQ(Lines("first<BR>last paragraph"), (V{"first", "last paragraph"}));
  EXPECT_EQ(Lines("<HR>"), (V{"", ""}));
  EXPECT_EQ(Lines(""), V{});
  EXPECT_EQ(Lines("   "), V{" "});
  EXPECT_EQ(Lines("abcdefg", 4), (V{"abc", "def", "g"}));
  EXPECT_EQ(Lines("ab<BR>cdef<BR>", 3), (V{"ab", "", "cd", "ef", ""}));
}

TEST(HtmlTextFilterTest, LongLinesArriveIn511BytePiecesWithNothingLost) {
  const std::string a(600, 'a'), b(1022, 'b'), c(511, 'c');
  using V = std::vector<std::string>;
  EXPECT_EQ(Lines(a + "<BR>x"), (V{a.substr(0, 511), a.substr(511), "x"}));
  EXPECT_EQ(Lines(b), (V{b.substr(0, 511), b.substr(511)}));
  EXPECT_EQ(Lines(c + "<BR>" + c), (V{c, "", c}));  // the break after a full piece: empty line
}

TEST(HtmlTextFilterTest, LoadPageReadsThroughThePageFile) {
  namespace fs = std::filesystem;
  const fs::path path = fs::path(QUARRY_BINARY_DIR) / "html-text-filter-test.htm";
  std::ofstream(path, std::ios::binary) << std::string("<html>\r\none<P>\r\ntwo\0three\r\n", 27);
  PageFile file;
  ASSERT_TRUE(file.Open(path.string()));
  char piece[512];
  ASSERT_GT(file.ReadPiece(piece, sizeof piece), 0u);
  file.Rewind();
  HtmlTextFilter filter;
  EXPECT_EQ(filter.LoadPage(file), 15);
  EXPECT_EQ(Peer::Text(filter), "one\n\ntwo three ");  // CR LF after <P> is one dropped LF
  EXPECT_EQ(Lines(filter), (std::vector<std::string>{"one", "", "two three "}));
  file.Close();
  fs::remove(path);
}

// ---- Against straightforward reference code ----------------------------------------------------

// The tag table tried row by row, as listed, with no shortcuts.
Peer::TagResult ReferenceHandleTag(const std::string& tag) {
  struct Row {
    std::vector<std::string> forms;
    char match;  // 'e' exact, 'p' prefix of the form's length, 'a' any case
    std::string appends;
    int weight;
    std::size_t onlyAtLength;
  };
  static const std::vector<Row> rows = {
      {{"<HTML>", "<html>"}, 'e', "", 1, 0},
      {{"<BODY>", "<body>"}, 'e', "", 1, 0},
      {{"</HEAD>", "</head>"}, 'e', "\n", 1, 0},
      {{"<CENTER>", "<center>"}, 'e', "\n", 1, 0},
      {{"</CENTER>", "</center>"}, 'e', "\n", 1, 0},
      {{"<P>", "<p>"}, 'e', "\n\n", -1, 0},
      {{"<BR>", "<br>"}, 'e', "\n", -1, 0},
      {{"<H", "<h"}, 'p', "\n", 1, 4},
      {{"</H", "</h"}, 'p', "\n", 1, 5},
      {{"<DL>", "<dl>"}, 'e', "", 1, 0},
      {{"</DL>", "</dl>"}, 'e', "\n", 1, 0},
      {{"<DD>", "<dd>"}, 'e', "\n\t\t", 0, 0},
      {{"<DT>", "<dt>"}, 'e', "\t", 0, 0},
      {{"<LI>", "<li>"}, 'e', "\n\t\t", 0, 0},
      {{"<UL>", "<ul>"}, 'e', "", 1, 0},
      {{"</UL>", "</ul>"}, 'e', "\n", 1, 0},
      {{"<OL>", "<ol>"}, 'e', "", 1, 0},
      {{"</OL>", "</ol>"}, 'e', "\n", 1, 0},
      {{"<TABLE>", "<table>"}, 'e', "\n", 1, 0},
      {{"</TABLE>", "</table>"}, 'e', "\n", 1, 0},
      {{"<TH", "<th"}, 'p', "\n\t", 1, 0},
      {{"</TH>", "</th>"}, 'e', "\n", 1, 0},
      {{"<TR", "<tr"}, 'p', "\n\t", 1, 0},
      {{"</TR>", "</tr>"}, 'e', "\n", 1, 0},
      {{"<BLINK>", "<blink>"}, 'e', "", 1, 0},
      {{"</BLINK>", "</blink>"}, 'e', "", 1, 0},
      {{"<HR", "<hr"}, 'p', "\n", 1, 0},
      {{"<IMG", "<img"}, 'p', "", 1, 0},
      {{"<A HREF"}, 'p', "", 1, 0},
      {{"<FORM", "<form"}, 'p', "", 1, 0},
      {{"</FORM", "</form"}, 'p', "\n", 1, 0},
      {{"<b>", "</b>"}, 'a', " ", 1, 0},
      {{"<i>", "</i>"}, 'a', " ", 1, 0},
  };
  const auto lower = [](std::string s) {
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return s;
  };
  static const std::vector<std::string> blockNames = {
      "address", "article", "aside",  "blockquote", "br",       "caption",    "dd",     "details",
      "dialog",  "div",     "dl",     "dt",         "fieldset", "figcaption", "figure", "footer",
      "form",    "h1",      "h2",     "h3",         "h4",       "h5",         "h6",     "header",
      "hgroup",  "hr",      "legend", "li",         "main",     "menu",       "nav",    "ol",
      "option",  "p",       "pre",    "search",     "section",  "summary",    "table",  "tbody",
      "td",      "tfoot",   "th",     "thead",      "tr",       "ul"};
  Peer::TagResult result{0, ""};
  for (const Row& row : rows) {
    bool matched = false;
    for (const std::string& form : row.forms) {
      if (row.match == 'e') matched |= tag == form;
      if (row.match == 'p') matched |= tag.compare(0, form.size(), form) == 0;
      if (row.match == 'a') matched |= lower(tag) == lower(form);
    }
    if (!matched) continue;
    if (row.onlyAtLength == 0 || tag.size() == row.onlyAtLength) result.appended += row.appends;
    result.weight += row.weight;
  }
  // A block or cell tag: its name after "<" or "</" up to the first blank, tab, LF, CR, FF, "/"
  // or ">" is listed, and the rows appended no blank, tab or line feed.
  const std::size_t start = tag.compare(0, 2, "</") == 0 ? 2 : 1;
  const std::string name =
      tag.size() < start
          ? ""
          : lower(tag.substr(start, tag.find_first_of(" \t\n\r\f/>", start) - start));
  const bool block = std::find(blockNames.begin(), blockNames.end(), name) != blockNames.end();
  if (block && result.appended.find_first_of(" \t\n") == std::string::npos) {
    result.appended += ' ';
    result.weight = std::max(result.weight, 1);
  }
  return result;
}

// The entity table: group A's first match, then group B; beyond it a few names and numeric
// references give their character. Returns true for a character.
bool ReferenceEntity(const std::string& name, std::string& text) {
  static const std::vector<std::pair<std::vector<std::string>, std::string>> groupA = {
      {{"& "}, "& "},
      {{"lt", "#60"}, "<"},
      {{"gt", "#62"}, ">"},
      {{"amp", "#38"}, "&"},
      {{"nbsp"}, " "},
      {{"quot", "#34"}, "\""},
      {{"copy", "#169"}, " Copyright "},
      {{"reg", "#174"}, " Registered "},
  };
  bool inTable = false;
  for (const auto& [names, appends] : groupA) {
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      text += appends;
      inTable = true;
      break;
    }
  }
  if (name == "trade" || name == "#153") {
    text += " Trademark ";
    return false;
  }
  static const std::vector<std::pair<std::string, std::int32_t>> named = {
      {"eacute", 0xE9}, {"rsquo", 0x2019}, {"apos", 0x27}, {"ensp", 0x2002}, {"shy", 0xAD}};
  std::int32_t cp = -1;
  for (const auto& [entity, value] : named) {
    if (name == entity) cp = value;
  }
  if (name.size() > 1 && name[0] == '#' && name.size() < 9) {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits = name.substr(hex ? 2 : 1);
    const char* const allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    if (!digits.empty() && digits.find_first_not_of(allowed) == std::string::npos) {
      cp = static_cast<std::int32_t>(std::stol(digits, nullptr, hex ? 16 : 10));
    }
  }
  const bool character = !inTable && cp > 0x20 && (cp < 0x7F || cp > 0x9F) &&
                         (cp < 0xD800 || cp > 0xDFFF) && cp <= 0x10FFFF && cp != 0x85 &&
                         cp != 0xA0 && cp != 0x2002 && cp != 0x3000;
  text += character ? Utf8(cp) : " ";
  return character;
}

// The length of the Unicode space whose UTF-8 begins at page[pos] less one, or 0.
std::size_t UnicodeSpaceAt(const std::string& page, std::size_t pos) {
  static const char* const spaces[] = {
      "\xc2\x85",     "\xc2\xa0",     "\xe1\x9a\x80", "\xe2\x80\x80", "\xe2\x80\x81",
      "\xe2\x80\x82", "\xe2\x80\x83", "\xe2\x80\x84", "\xe2\x80\x85", "\xe2\x80\x86",
      "\xe2\x80\x87", "\xe2\x80\x88", "\xe2\x80\x89", "\xe2\x80\x8a", "\xe2\x80\xa8",
      "\xe2\x80\xa9", "\xe2\x80\xaf", "\xe2\x81\x9f", "\xe3\x80\x80"};
  for (const char* space : spaces) {
    if (page.compare(pos, std::strlen(space), space) == 0) return std::strlen(space) - 1;
  }
  return 0;
}

// The whole filter, byte by byte, with a tag buffer of 2048 and an entity buffer of 1024 bytes.
std::string ReferenceFilter(std::string page) {
  std::replace(page.begin(), page.end(), '\0', ' ');
  std::string text;
  std::size_t pos = 0;
  int blanks = 0;
  const auto atEnd = [&] { return pos >= page.size(); };
  while (!atEnd()) {
    const char c = page[pos++];
    if (c == '<') {
      std::string tag = "<";
      bool closed = false;
      while (!atEnd() && !closed) {
        const char t = page[pos++];
        if (tag.size() < 2047) tag += t;
        closed = t == '>';
      }
      if (!closed) break;
      if (tag.rfind("<script", 0) == 0 || tag.rfind("<SCRIPT", 0) == 0) {
        while (!atEnd() && page[pos] != '<') ++pos;
        if (atEnd()) break;
      }
      const Peer::TagResult result = ReferenceHandleTag(tag);
      text += result.appended;
      blanks = result.weight;
    } else if (c == '&') {
      std::string name;
      bool complete = false;
      while (!atEnd() && !complete) {
        const char e = page[pos++];
        if (e == ';') {
          complete = true;
        } else if (e == ' ') {
          name += "& ";
          complete = true;
        } else {
          name += e;
        }
      }
      if (!complete) break;
      if (name.size() > 1023) name.resize(1023);
      if (ReferenceEntity(name, text)) blanks = 0;
    } else if (std::strchr(" \t\n\v\f\r", c) != nullptr || UnicodeSpaceAt(page, pos - 1)) {
      pos += UnicodeSpaceAt(page, pos - 1);
      if (++blanks == 1) text += ' ';
    } else {
      blanks = 0;
      text += c;
    }
  }
  return text;
}

// What ReadLine hands out for a text: each line in pieces of at most limit bytes; a line break
// right after a full piece gives an empty line; the text after the last break is a last line
// when it is not empty.
std::vector<std::string> ReferenceLines(const std::string& text, std::size_t limit) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t n = 0;
    while (n < limit && pos + n < text.size() && text[pos + n] != '\n') ++n;
    lines.push_back(text.substr(pos, n));
    pos += n;
    if (n < limit && pos < text.size()) ++pos;  // the line feed
  }
  return lines;
}

std::string RandomTag(std::mt19937& random) {
  static const char* const starts[] = {
      "<HTML>",  "<BODY>",      "</HEAD>",     "<CENTER>", "</CENTER>", "<P>",      "<BR>",
      "<H",      "</H",         "<DL>",        "</DL>",    "<DD>",      "<DT>",     "<LI>",
      "<UL>",    "</UL>",       "<OL>",        "</OL>",    "<TABLE>",   "</TABLE>", "<TH",
      "</TH>",   "<TR",         "</TR>",       "<BLINK>",  "</BLINK>",  "<HR",      "<IMG",
      "<A HREF", "<FORM",       "</FORM",      "<b>",      "</b>",      "<i>",      "</i>",
      "<",       "</",          "<SCRIPT>",    "<!--",     "",          "<td",      "</td",
      "<div",    "</DIV",       "<br/",        "<p ",      "</p",       "<LI",      "<tbody",
      "<thead",  "<blockquote", "<Figcaption", "<dd ",     "<header",   "</th",     "<span"};
  static const std::string alphabet = "<>/ =\"HhTtRrBbIiAaEeFfOoMmPpLlDdUuCcNnGgKkYy1x\t\n\v";
  std::string tag = starts[random() % std::size(starts)];
  for (char& c : tag) {
    if (random() % 6 == 0 && std::isalpha(static_cast<unsigned char>(c))) c ^= 0x20;
  }
  const auto extra = random() % 4;
  for (unsigned i = 0; i < extra; ++i) tag += alphabet[random() % alphabet.size()];
  if (random() % 2) tag += '>';
  if (random() % 5 == 0) tag.resize(random() % (tag.size() + 1));
  return tag;
}

TEST(HtmlTextFilterTest, TagDispatchMatchesTryingEveryRow) {
  std::mt19937 random(2024);
  for (int i = 0; i < 200000; ++i) {
    const std::string tag = RandomTag(random);
    ASSERT_EQ(Peer::HandleTag(tag), ReferenceHandleTag(tag)) << "tag: " << tag;
  }
}

std::string RandomPage(std::mt19937& random) {
  // The pieces, each after a '|': tags, entities, white space and text.
  static const std::vector<std::string> pieces = [] {
    const std::string all =
        "|<P>|<BR>|<HR>|<b>|</B>|<DD>|<TH>|<HTML>|</HEAD>|<H1>|<A HREF=x>|<script>|</SCRIPT>"
        "|<!-- |-->|<|>|<td>|</td>|<DIV class=x>|<br/>|</p>|<span>"
        "|&copy;|&trade;|&lt;|&|;|&eacute;|&rsquo;|&apos;|&ensp;|&shy;|&#233;|&#x1F600;|&#0;"
        "|&#128;|&#xD800;|&#160;|&#x3000;|&#x3C;|&#|&#x|&check;"
        "| |  |\n|\r\n|\t|\xc2\xa0|\xe3\x80\x80|\xe2\x80\x8b"
        "|word|Zz|\xe9|\x80\xff|(x).|[|}|\xc2|\xe2\x80|\xa0";
    std::vector<std::string> split;
    for (std::size_t at = 1; at <= all.size();) {
      const std::size_t bar = std::min(all.find('|', at), all.size());
      split.push_back(all.substr(at, bar - at));
      at = bar + 1;
    }
    return split;
  }();
  std::string page;
  const auto count = random() % 120;
  for (unsigned i = 0; i < count; ++i) {
    switch (random() % 10) {
      case 0:
        page += static_cast<char>(random() % 256);
        break;
      case 1:
        if (random() % 8 == 0) page += std::string(400 + random() % 700, 'w');
        break;
      default:
        page += pieces[random() % pieces.size()];
    }
  }
  return page;
}

TEST(HtmlTextFilterTest, RandomPagesMatchReferenceAndFeedTheWordSplitter) {
  std::mt19937 random(99);
  char word[kWordBufferSize];
  char work[kWordBufferSize];
  for (int i = 0; i < 3000; ++i) {
    const std::string page = RandomPage(random);
    const std::string expected = ReferenceFilter(page);
    HtmlTextFilter filter;
    filter.LoadText(page);
    ASSERT_EQ(Peer::Text(filter), expected) << "page: " << page;
    const std::vector<std::string> lines = Lines(filter);
    ASSERT_EQ(lines, ReferenceLines(expected, 511));
    for (const std::string& line : lines) {
      ASSERT_LE(line.size(), 511u);
      WordSplitter splitter;
      splitter.SetLine(line.c_str());
      for (std::size_t words = 0; !splitter.AtEndOfLine(); ++words) {
        ASSERT_LE(words, line.size());
        splitter.NextWord(word);
        ASSERT_EQ(std::strchr(word, ' '), nullptr);
        ASSERT_LE(std::strlen(TrimWord(word, work)), 511u);
      }
    }
  }
}

}  // namespace
}  // namespace quarry
