// Save and Load of a site-sized index: 200,000 words, 5 million occurrences, 5,000 pages.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "database/IndexDatabase.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry {
namespace {

constexpr int kWords = 200000;
constexpr int kOccurrences = 5000000;
constexpr int kPages = 5000;

struct SiteIndex {
  WordList words;
  TextList pages;
  TextList titles;

  SiteIndex() {
    std::mt19937 random(42);
    for (int p = 0; p < kPages; ++p) {
      pages.Add("site/section" + std::to_string(p % 40) + "/page" + std::to_string(p) + ".htm");
      titles.Add("a page title of some length, number " + std::to_string(p));
    }
    // Distinct words in descending byte order, as a Build leaves them; each gets
    // kOccurrences / kWords distinct pages in increasing order.
    std::uniform_int_distribution<int> letter('a', 'z');
    std::set<std::string, std::greater<>> texts;
    while (texts.size() < kWords) {
      std::string text;
      const int length = 4 + letter(random) % 6;
      for (int i = 0; i < length; ++i) text += static_cast<char>(letter(random));
      texts.insert(std::move(text));
    }
    const int perWord = kOccurrences / kWords;
    std::uniform_int_distribution<int> step(1, kPages / perWord);
    for (const std::string& text : texts) {
      int page = step(random) - 1;
      auto entry = std::make_unique<WordEntry>(text, page);
      for (int i = 1; i < perWord; ++i) {
        page += step(random);
        entry->AddPage(page);
      }
      words.Append(std::move(entry));
    }
  }
};

SiteIndex& Index() {
  static SiteIndex index;
  return index;
}

std::string MakeDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quarry-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

std::int64_t FilesSize(const std::string& directory) {
  std::uintmax_t size = 0;
  for (const char* name : {kWordFileName, kPageFileName, kTitleFileName}) {
    size += std::filesystem::file_size(std::filesystem::path(directory) / name);
  }
  return static_cast<std::int64_t>(size);
}

void BM_Save(benchmark::State& state) {
  SiteIndex& index = Index();
  const std::string directory = MakeDirectory();
  {
    IndexDatabase db(directory);
    db.Open();
    for (auto _ : state) db.Save(index.words, index.pages, index.titles);
  }
  const std::int64_t bytes = FilesSize(directory);
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_bytes"] = static_cast<double>(bytes);
  std::filesystem::remove_all(directory);
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_Load(benchmark::State& state) {
  SiteIndex& index = Index();
  const std::string directory = MakeDirectory();
  {
    IndexDatabase db(directory);
    db.Open();
    db.Save(index.words, index.pages, index.titles);
  }
  {
    IndexDatabase db(directory);
    db.Open();
    WordList words;
    TextList pages;
    TextList titles;
    for (auto _ : state) db.Load(words, pages, titles);
    state.counters["words"] = static_cast<double>(words.Size());
  }
  state.SetBytesProcessed(state.iterations() * FilesSize(directory));
  std::filesystem::remove_all(directory);
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

}  // namespace
}  // namespace quarry

BENCHMARK_MAIN();
