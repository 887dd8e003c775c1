#include "search/PageOutline.h"

#include <gtest/gtest.h>

#include <string>

namespace quarry::test {

// The outline as one line: title | headings (level anchor:text, ...) | text | lang, flags.
std::string Outline(const std::string& page) {
  PageOutline o;
  o.Scan(page);
  std::string headings;
  for (const PageOutline::Heading& h : o.headings) {
    if (!headings.empty()) headings += ", ";
    headings += std::to_string(h.level) + " " + h.anchor + ":" + h.text;
  }
  return o.title + " | " + headings + " | " + o.text + " | " + o.lang +
         (o.redirect ? " redirect" : "") + (o.noindex ? " noindex" : "");
}

TEST(PageOutlineTest, TitleHeadingsAndTextAsAReaderSeesThem) {
  const struct {
    const char* page;
    const char* outline;
  } rows[] = {
      {"<html lang=de-AT><title> Java SE 17 &amp;\n JDK </title><body>Hi</body>",
       "Java SE 17 & JDK |  | Hi | de"},
      {"<h2>First</h2><h1>Main</h1>", "First | 2 :First, 1 :Main | First Main | "},
      {"<title></title><TITLE>Second</TITLE><h1>H</h1>", "H | 1 :H | H | "},
      // Anchors: the heading's id, else one inside it, else the nearest id around it.
      {"<h2 id=own>A</h2><h2><a name=\"in\"></a>B</h2><section id=s><div><h3>C</h3></div></section>"
       "<h4>D</h4>",
       "A | 2 own:A, 2 in:B, 3 s:C, 4 :D | A B C D | "},
      {"<h2 id=\"a&amp;b\">Q &lt;x&gt; <code>f()</code></h2>",
       "Q <x> f() | 2 a&b:Q <x> f() | Q <x> f() | "},
      // Never visible text: head, scripts, styles, comments, ignored elements and all they hold.
      {"<head><style>h1{}</style><meta name=robots content='NOINDEX'></head><body>a<!-- b -->c"
       "<script>d</script><div data-quarry-ignore><div>e</div>f</div>g<template>h</template>",
       " |  | ac g |  noindex"},
      {"<p>one</p><p>two</p>x<b>y</b>z<td>1</td><td>2</td>", " |  | one two xyz 1 2 | "},
      {"<meta http-equiv=refresh content=\"0;URL=../x.html\">", " |  |  |  redirect"},
      {"<meta http-equiv=refresh content=\"30\">", " |  |  | "},
      // Unfinished constructs end cleanly.
      {"text <h1>unclosed", "unclosed | 1 :unclosed | text unclosed | "},
      {"a <script>never ends", " |  | a | "},
      {"a <div data-quarry-ignore>to the end", " |  | a | "},
      {"a <!-- open comment", " |  | a | "},
      {"a <tag attr=\"open", " |  | a | "},
      {"a & b &#x41; &#0; &bogus; &lt", " |  | a & b A \xEF\xBF\xBD &bogus; &lt | "},
      // HTML's entity names, as the text filter knows them: case counts, later names do not.
      {"<title>&hearts; &Oslash;&thetasym; &AMP; &check;</title>",
       "\xE2\x99\xA5 \xC3\x98\xCF\x91 &AMP; &check; |  |  | "},
  };
  for (const auto& row : rows) EXPECT_EQ(Outline(row.page), row.outline) << row.page;
}

TEST(PageOutlineTest, LimitsHold) {
  std::string nested;
  for (int i = 0; i < 10000; ++i) nested += "<div id=d" + std::to_string(i) + ">";
  nested += "<h2>deep</h2>";
  PageOutline o;
  o.Scan(nested);
  ASSERT_EQ(o.headings.size(), 1U);
  EXPECT_EQ(o.headings[0].anchor, "d255");  // nesting is followed 256 deep

  o.Scan("<title>" + std::string(5000, 'x') + "</title>" + std::string(100000, 'y') + " \xC3\xA9");
  EXPECT_EQ(o.title.size(), PageOutline::kTitleLimit);
  EXPECT_EQ(o.text.size(), PageOutline::kTextLimit);

  // A limit that falls inside a UTF-8 sequence drops the sequence.
  std::string accents;
  for (std::size_t i = 0; i < PageOutline::kTextLimit; ++i) accents += "\xC3\xA9";
  o.Scan(accents);
  EXPECT_LE(o.text.size(), PageOutline::kTextLimit);
  EXPECT_EQ(o.text.size() % 2, 0U);

  std::string headings;
  for (int i = 0; i < 2000; ++i) headings += "<h3>h</h3>";
  o.Scan(headings);
  EXPECT_EQ(o.headings.size(), PageOutline::kHeadingLimit);
}

}  // namespace quarry::test
