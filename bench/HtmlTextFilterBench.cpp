// Throughput of reading and filtering pages, ASCII and UTF-8. The filter runs over every byte of
// every page, so together with the word splitter it must keep the indexer within about twice the
// time that `wc -w` takes over the same site (bench/index-site.sh measures that end to end).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "indexing/HtmlTextFilter.h"
#include "io/PageFile.h"

namespace {

// A page shaped like a typical site's: words, paragraphs, links, emphasis, entities, a script.
std::string MakePage(std::size_t bytes) {
  std::mt19937 random(1);
  const char* const words[] = {"index", "search",        "the", "of",      "page",  "Quarry",
                               "words", "documentation", "a",   "release", "notes", "2024"};
  std::string page = "<html><head><title>Sample</title></head><body>\r\n";
  for (int i = 0; page.size() < bytes; ++i) {
    switch (random() % 20) {
      case 0:
        page += "<P>\r\n";
        break;
      case 1:
        page += "<A HREF=\"page" + std::to_string(i) + ".htm\">";
        break;
      case 2:
        page += "</A> ";
        break;
      case 3:
        page += "<b>";
        break;
      case 4:
        page += "&amp; ";
        break;
      case 5:
        page += "<td class=\"cell\">";
        break;
      case 6:
        if (i % 50 == 0) page += "<script>var x = 1; if (a) b();</script>\r\n";
        break;
      default:
        page += words[random() % std::size(words)];
        page += random() % 8 == 0 ? "\r\n" : " ";
    }
  }
  return page + "</body></html>\r\n";
}

// A page of UTF-8 text in the manner of generated documentation: no-break spaces, typographic
// quotes and dashes, Cyrillic and Japanese runs, named and numeric entities, table cells, blocks.
std::string MakeUtf8Page(std::size_t bytes) {
  std::mt19937 random(2);
  const char* const words[] = {"café",  "поиск", "検索のページ", "“quoted”",
                               "don’t", "index", "the",          "documentation"};
  std::string page = "<html><head><title>Sample</title></head><body>\n";
  while (page.size() < bytes) {
    switch (random() % 24) {
      case 0:
        page += "<div class=\"section\">";
        break;
      case 1:
        page += "</div>\n";
        break;
      case 2:
        page += "<td>";
        break;
      case 3:
        page += "</td>";
        break;
      case 4:
        page += "&nbsp;";
        break;
      case 5:
        page += "&eacute;";
        break;
      case 6:
        page += "&rsquo;";
        break;
      case 7:
        page += "&#233;";
        break;
      case 8:
        page += "<br/>";
        break;
      case 9:
        page += "\u00a0";
        break;
      case 10:
        page += " — ";
        break;
      default:
        page += words[random() % std::size(words)];
        page += random() % 8 == 0 ? "\n" : " ";
    }
  }
  return page + "</body></html>\n";
}

void BM_LoadTextUtf8(benchmark::State& state) {
  const std::string page = MakeUtf8Page(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    quarry::HtmlTextFilter filter;
    benchmark::DoNotOptimize(filter.LoadText(page));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(page.size()));
}
BENCHMARK(BM_LoadTextUtf8)->Arg(20 << 10)->Arg(1 << 20);

void BM_LoadText(benchmark::State& state) {
  const std::string page = MakePage(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    quarry::HtmlTextFilter filter;
    benchmark::DoNotOptimize(filter.LoadText(page));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(page.size()));
}
BENCHMARK(BM_LoadText)->Arg(20 << 10)->Arg(1 << 20);

void BM_LoadTextAndReadLines(benchmark::State& state) {
  const std::string page = MakePage(static_cast<std::size_t>(state.range(0)));
  char line[512];
  for (auto _ : state) {
    quarry::HtmlTextFilter filter;
    filter.LoadText(page);
    while (filter.ReadLine(line, sizeof line) != nullptr) benchmark::DoNotOptimize(line[0]);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(page.size()));
}
BENCHMARK(BM_LoadTextAndReadLines)->Arg(20 << 10)->Arg(1 << 20);

// Open, read whole (CR LF folding, NUL blanking), filter and close, as the page scanner does.
void BM_PageFileAndFilter(benchmark::State& state) {
  const std::string page = MakePage(static_cast<std::size_t>(state.range(0)));
  char path[] = "/tmp/quarry-bench-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) {
    state.SkipWithError("cannot create a temporary file");
    return;
  }
  ::close(fd);
  std::ofstream(path, std::ios::binary) << page;
  for (auto _ : state) {
    quarry::PageFile file;
    file.Open(path);
    quarry::HtmlTextFilter filter;
    benchmark::DoNotOptimize(filter.LoadPage(file));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<long>(page.size()));
  std::remove(path);
}
BENCHMARK(BM_PageFileAndFilter)->Arg(20 << 10)->Arg(1 << 20);

}  // namespace
