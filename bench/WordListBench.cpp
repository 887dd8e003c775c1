// AddWord, the indexer's hot path: a site-sized stream of word occurrences into one WordList.
//
// The words are made up deterministically. Each distinct word is a few random letters followed by
// its own number in letters, so all are distinct; some start with a capital or carry a trailing
// comma or full stop, as words in running text do. The stream of occurrences draws 80% of its
// words from a Zipf-like distribution (few words very often, most words rarely, as in real text)
// and 20% uniformly, so that nearly every distinct word turns up.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/WordList.h"

namespace {

struct Corpus {
  std::vector<std::string> words;     // the distinct words, as they appear in text
  std::vector<std::uint32_t> stream;  // indexes into words, page after page
  std::int64_t occurrencesPerPage = 0;
  std::int64_t bytes = 0;  // the stream's size as text, one space after each word
};

Corpus MakeCorpus(std::size_t distinct, std::size_t occurrences, std::size_t pages) {
  Corpus c;
  std::mt19937 rng(20240613);
  std::uniform_int_distribution<int> letter('a', 'z');
  std::uniform_int_distribution<int> prefix(1, 7);
  std::uniform_int_distribution<int> percent(0, 99);
  c.words.reserve(distinct);
  for (std::size_t i = 0; i < distinct; ++i) {
    std::string w;
    for (int k = prefix(rng); k > 0; --k) w += static_cast<char>(letter(rng));
    for (std::size_t n = i; n > 0; n /= 26) w += static_cast<char>('a' + n % 26);
    const int style = percent(rng);
    if (style < 10) w[0] = static_cast<char>(w[0] - 'a' + 'A');
    if (style >= 90) w += (style % 2 == 0) ? ',' : '.';
    c.words.push_back(std::move(w));
  }

  // Zipf-like ranks by inverting the cumulative weights 1/(rank+1).
  std::vector<double> cumulative(distinct);
  double sum = 0;
  for (std::size_t r = 0; r < distinct; ++r)
    cumulative[r] = sum += 1.0 / static_cast<double>(r + 1);
  std::uniform_real_distribution<double> unit(0.0, sum);
  std::uniform_int_distribution<std::size_t> any(0, distinct - 1);
  c.stream.reserve(occurrences);
  for (std::size_t i = 0; i < occurrences; ++i) {
    std::size_t pick;
    if (percent(rng) < 80) {
      pick = static_cast<std::size_t>(
          std::lower_bound(cumulative.begin(), cumulative.end(), unit(rng)) - cumulative.begin());
      if (pick >= distinct) pick = distinct - 1;
    } else {
      pick = any(rng);
    }
    c.stream.push_back(static_cast<std::uint32_t>(pick));
    c.bytes += static_cast<std::int64_t>(c.words[pick].size()) + 1;
  }
  c.occurrencesPerPage = static_cast<std::int64_t>(occurrences / pages);
  return c;
}

void RunAddWord(benchmark::State& state, const Corpus& c) {
  std::size_t entries = 0;
  for (auto _ : state) {
    auto list = std::make_unique<quarry::WordList>();
    std::int32_t page = 0;
    std::int64_t onPage = 0;
    for (const std::uint32_t w : c.stream) {
      list->AddWord(c.words[w], page);
      if (++onPage == c.occurrencesPerPage) {
        onPage = 0;
        ++page;
      }
    }
    benchmark::DoNotOptimize(list->GetFirst());  // a Build walks the list next: order it
    entries = list->Size();
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.stream.size()));
  state.SetBytesProcessed(state.iterations() * c.bytes);
  state.counters["words"] = static_cast<double>(entries);
  state.counters["s/occurrence"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(c.stream.size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// 5 million occurrences of 200,000 distinct words on 5,000 pages.
void BM_AddWordSite(benchmark::State& state) {
  static const Corpus corpus = MakeCorpus(200'000, 5'000'000, 5'000);
  RunAddWord(state, corpus);
}
BENCHMARK(BM_AddWordSite)->Unit(benchmark::kMillisecond);

// The same shape (25 occurrences per distinct word, 1,000 per page) at growing sizes. The cost per
// occurrence is constant in the number of entries; what grows it is only the memory the words
// occupy once that outgrows the processor's caches.
void BM_AddWordBySize(benchmark::State& state) {
  const auto distinct = static_cast<std::size_t>(state.range(0));
  const Corpus corpus = MakeCorpus(distinct, distinct * 25, distinct * 25 / 1000);
  RunAddWord(state, corpus);
}
BENCHMARK(BM_AddWordBySize)->Arg(20'000)->Arg(50'000)->Arg(200'000)->Unit(benchmark::kMillisecond);

// One million occurrences on a list that already holds range(0) entries, in order: range(1)% of
// them are words from a fixed set of 20,000 known words, the rest are new words; then one walk
// starts. The look-ups touch the same memory whatever the list's size, so the time per
// occurrence must not grow with it beyond the one merge of the new words into the order.
void BM_AddWordAtListSize(benchmark::State& state) {
  const auto size = static_cast<std::size_t>(state.range(0));
  constexpr std::size_t kHot = 20'000;
  constexpr std::size_t kOccurrences = 1'000'000;
  const int kHotShare = static_cast<int>(state.range(1));
  std::mt19937 rng(99);
  std::uniform_int_distribution<std::size_t> hot(0, kHot - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  auto name = [](char lead, std::size_t n) {
    std::string w(1, lead);
    for (; n > 0; n /= 26) w += static_cast<char>('a' + n % 26);
    return w;
  };
  std::vector<std::string> stream;
  stream.reserve(kOccurrences);
  for (std::size_t i = 0, fresh = 0; i < kOccurrences; ++i) {
    stream.push_back(percent(rng) < kHotShare ? name('k', hot(rng)) : name('n', fresh++));
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<quarry::WordList>();
    for (std::size_t i = 0; i < kHot; ++i) list->AddWord(name('k', i), 0);
    for (std::size_t i = kHot; i < size; ++i) list->AddWord(name('f', i), 0);
    benchmark::DoNotOptimize(list->GetFirst());
    state.ResumeTiming();
    std::int32_t page = 1;
    for (std::size_t i = 0; i < stream.size(); ++i) {
      list->AddWord(stream[i], page);
      if (i % 1000 == 999) ++page;
    }
    benchmark::DoNotOptimize(list->GetFirst());
    state.PauseTiming();
    list.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kOccurrences));
}
BENCHMARK(BM_AddWordAtListSize)
    ->ArgsProduct({{20'000, 200'000, 1'000'000}, {100, 95}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
