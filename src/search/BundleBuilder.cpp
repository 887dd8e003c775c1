#include "search/BundleBuilder.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "indexing/BuildEngine.h"
#include "indexing/OrderedReader.h"
#include "indexing/PageScanner.h"
#include "indexing/PageText.h"
#include "io/FileError.h"
#include "io/PageFile.h"
#include "model/TextList.h"
#include "model/TextOrder.h"
#include "model/TrimWord.h"
#include "model/Utf8Class.h"
#include "model/WordEntry.h"
#include "model/WordHash.h"
#include "model/WordList.h"
#include "search/JsonText.h"
#include "search/PageOutline.h"
#include "search/Ranking.h"
#include "search/SearchTerms.h"
#include "search/WordStemmer.h"

namespace quarry {

namespace {

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();
// Key pieces close once their content compresses to about this size, whatever their words: a
// query fetches the key piece of each word, so on a site whose words are on many pages (long
// postings, which hardly compress) a piece holds fewer keys. At most the raw size.
constexpr std::size_t kKeysCompressedTarget = std::size_t{20} * 1000;
constexpr std::size_t kKeysRawLimit = std::size_t{256} * 1024;
// Prefix pieces close once their content reaches this size, which compresses to about 40 kB.
constexpr std::size_t kPrefixesRawTarget = std::size_t{80} * 1024;
constexpr std::size_t kMaxPrefixKeys = 50;
// zlib's levels: the pieces a search fetches are made small; fragments, many and read once per
// result, a little faster; positions hardly compress at all.
constexpr int kIndexLevel = 6;
constexpr int kFragmentLevel = 4;
constexpr int kPositionsLevel = 1;
// Pages read ahead per thread.
constexpr std::size_t kAheadPerThread = 4;
// A form on no page of a stemmed language.
constexpr std::uint16_t kNoLanguage = std::numeric_limits<std::uint16_t>::max();
// Forms stemmed per task of a stemming thread.
constexpr std::size_t kStemsPerTask = 4096;

// ---- One page's terms ---------------------------------------------------------------------------

struct LocalTerm {
  std::uint64_t hash = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t count = 0;  // positions
  std::uint32_t lastPosition = kNoPosition;
  std::uint32_t firstPosition = 0;  // into PageTerms::positions, once grouped
  std::uint32_t encodedAt = 0;      // its positions as varints in PageTerms::encoded
  std::uint32_t encodedLength = 0;
  std::uint8_t fields = 0;
  bool isWord = false;  // a word of the page, not only a run or a field's term
};

// The distinct terms of one page with their positions and fields.
class PageTerms {
 public:
  void Clear() {
    bytes_.clear();
    terms_.clear();
    occurrences_.clear();
    positions_.clear();
    encoded_.clear();
    constexpr std::size_t kKeptSlots = 4096;
    if (slots_.size() > kKeptSlots) {
      std::vector<std::uint32_t>().swap(slots_);
    } else {
      std::fill(slots_.begin(), slots_.end(), 0);
    }
  }

  // Records term at position (a term of a word at that position).
  void Occurs(std::string_view term, std::uint32_t position, bool isWord) {
    const std::uint32_t index = Find(term);
    LocalTerm& t = terms_[index];
    if (isWord) t.isWord = true;
    if (t.lastPosition == position) return;
    t.lastPosition = position;
    ++t.count;
    occurrences_.push_back({index, position});
  }

  void InField(std::string_view term, unsigned field) {
    LocalTerm& t = terms_[Find(term)];
    t.fields = static_cast<std::uint8_t>(t.fields | field);
  }

  // Puts the positions of each term together, in order (after the last Occurs).
  void Group() {
    std::uint32_t at = 0;
    for (LocalTerm& t : terms_) {
      t.firstPosition = at;
      at += t.count;
    }
    positions_.resize(at);
    std::vector<std::uint32_t> fill(terms_.size());
    for (std::size_t i = 0; i < terms_.size(); ++i) fill[i] = terms_[i].firstPosition;
    for (const auto& [term, position] : occurrences_) positions_[fill[term]++] = position;
    occurrences_.clear();
    // Each term's positions as the bundle stores them: the first, then the differences.
    encoded_.clear();
    for (LocalTerm& t : terms_) {
      t.encodedAt = static_cast<std::uint32_t>(encoded_.size());
      const std::uint32_t* p = positions_.data() + t.firstPosition;
      for (std::uint32_t k = 0; k < t.count; ++k)
        PutVarint(encoded_, k == 0 ? p[0] : p[k] - p[k - 1]);
      t.encodedLength = static_cast<std::uint32_t>(encoded_.size()) - t.encodedAt;
    }
  }

  const std::vector<LocalTerm>& Terms() const { return terms_; }
  std::string_view Text(const LocalTerm& t) const {
    return std::string_view(bytes_).substr(t.offset, t.length);
  }
  std::string_view EncodedPositions(const LocalTerm& t) const {
    return std::string_view(encoded_).substr(t.encodedAt, t.encodedLength);
  }

 private:
  std::uint32_t Find(std::string_view term) {
    const std::uint64_t hash = HashWord(term);
    if ((terms_.size() + 1) * 2 > slots_.size()) Grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    for (; slots_[i] != 0; i = (i + 1) & mask) {
      const LocalTerm& t = terms_[slots_[i] - 1];
      if (t.hash == hash && SameWord(Text(t), term)) return slots_[i] - 1;
    }
    LocalTerm& t = terms_.emplace_back();
    t.hash = hash;
    t.offset = static_cast<std::uint32_t>(bytes_.size());
    t.length = static_cast<std::uint32_t>(term.size());
    bytes_.append(term);
    slots_[i] = static_cast<std::uint32_t>(terms_.size());
    return slots_[i] - 1;
  }

  void Grow() {
    slots_.assign(slots_.empty() ? std::size_t{256} : slots_.size() * 2, 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t t = 0; t < terms_.size(); ++t) {
      std::size_t i = terms_[t].hash & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = static_cast<std::uint32_t>(t + 1);
    }
  }

  std::string bytes_;
  std::vector<LocalTerm> terms_;
  std::vector<std::uint32_t> slots_;  // 1 + term index, 0 when free
  std::vector<std::pair<std::uint32_t, std::uint32_t>> occurrences_;
  std::vector<std::uint32_t> positions_;
  std::string encoded_;
};

// What reading one page gives, on a reading thread.
struct BundlePage {
  enum class Status { kRead, kSkipped, kCannotOpen, kNotHtml };
  Status status = Status::kSkipped;
  std::string error;       // kCannotOpen: the system's reason
  std::string indexTitle;  // as the index finds it (lower case, "" when none)
  std::uint64_t wordSum = 0;
  std::uint32_t wordCount = 0;
  std::uint32_t bodyLength = 0;
  std::uint32_t titleLength = 0;
  bool redirect = false;
  bool noindex = false;
  std::string lang;
  std::string title;  // as a reader sees it
  PageTerms terms;
  PageOutline outline;  // kept with the item, so that its buffers serve the next page
  std::optional<BundleBuilder::Piece> fragment;
};

// Calls word(std::string_view) for each word of text (a title or heading as shown), cut at white
// space as the word stream is (ASCII and the Unicode spaces), trimmed and ASCII-lowercased as the
// index stores words. Returns how many there are.
template <class WordCallback>
std::uint32_t ForEachShownWord(std::string_view text, WordCallback&& word) {
  std::uint32_t count = 0;
  char folded[kWordBufferSize];
  for (const std::string_view piece : CutAtWhiteSpace(text)) {
    const std::string_view trimmed = TrimWord(piece);
    if (trimmed.empty()) continue;
    for (std::size_t k = 0; k < trimmed.size(); ++k) folded[k] = ToLowerAscii(trimmed[k]);
    word(std::string_view(folded, trimmed.size()));
    ++count;
  }
  return count;
}

std::string PercentDecoded(std::string_view url) {
  std::string out;
  for (std::size_t i = 0; i < url.size(); ++i) {
    const auto hex = [](char c) {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      return -1;
    };
    if (url[i] == '%' && i + 2 < url.size() && hex(url[i + 1]) >= 0 && hex(url[i + 2]) >= 0) {
      out += static_cast<char>(hex(url[i + 1]) * 16 + hex(url[i + 2]));
      i += 2;
    } else {
      out += url[i];
    }
  }
  return out;
}

// The URL's part that its terms come from: decoded, without the last part's extension.
std::string UrlText(std::string_view url) {
  std::string text = PercentDecoded(url);
  const std::size_t slash = text.rfind('/');
  const std::size_t dot = text.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
    const std::string extension = LowerAscii(std::string_view(text).substr(dot));
    if (extension == ".html" || extension == ".htm") text.resize(dot);
  }
  return text;
}

std::string FragmentJson(const PageOutline& outline, std::string_view title, std::string_view url) {
  std::string json = "{\"title\":";
  AppendJsonString(json, title);
  json += ",\"url\":";
  AppendJsonString(json, url);
  json += ",\"headings\":[";
  for (std::size_t i = 0; i < outline.headings.size(); ++i) {
    if (i > 0) json += ',';
    json += '[';
    AppendJsonString(json, DisplayUtf8(outline.headings[i].anchor));
    json += ',';
    AppendJsonString(json, DisplayUtf8(outline.headings[i].text));
    json += ']';
  }
  json += "],\"text\":";
  AppendJsonString(json, DisplayUtf8(outline.text));
  json += "}";
  return json;
}

// Reads page path (URL url) into page; a page outside the site root is not read.
void ReadPage(const std::string& path, const std::string& url, int level, BundlePage& page) {
  PageOutline& outline = page.outline;
  page.status = BundlePage::Status::kSkipped;
  page.error.clear();
  page.indexTitle.clear();
  page.wordSum = 0;
  page.wordCount = 0;
  page.bodyLength = 0;
  page.titleLength = 0;
  page.terms.Clear();
  page.fragment.reset();
  if (url.empty()) return;

  PageFile file;
  if (!file.Open(path)) {
    page.status = BundlePage::Status::kCannotOpen;
    page.error = file.OpenError();
    return;
  }
  const std::string_view contents = file.ReadRest();
  if (!PageScanner::IsHtmlPage(contents)) {
    page.status = BundlePage::Status::kNotHtml;
    return;
  }
  page.status = BundlePage::Status::kRead;
  page.indexTitle = PageScanner::FindTitle(contents);

  // The word stream: each word and its terms, at the word's position.
  std::uint32_t position = 0;
  char folded[kWordBufferSize];
  ForEachPageWord(contents, [&](std::string_view raw) {
    const std::string_view trimmed = TrimWord(raw);
    if (trimmed.empty()) return;
    for (std::size_t i = 0; i < trimmed.size(); ++i) folded[i] = ToLowerAscii(trimmed[i]);
    const std::string_view word(folded, trimmed.size());
    bool first = true;
    ForEachTerm(word, [&](std::string_view term) {
      page.terms.Occurs(term, position, first);
      first = false;
    });
    ++position;
  });
  page.bodyLength = position;
  for (const LocalTerm& t : page.terms.Terms()) {
    if (!t.isWord) continue;
    page.wordSum += t.hash;
    ++page.wordCount;
  }

  outline.Scan(contents);
  page.redirect = outline.redirect;
  page.noindex = outline.noindex;
  page.lang = outline.lang;
  page.title = outline.title.empty() ? PercentDecoded(url) : outline.title;
  const auto inField = [&](unsigned field) {
    return [&page, field](std::string_view word) {
      ForEachTerm(word, [&](std::string_view term) { page.terms.InField(term, field); });
    };
  };
  page.titleLength = ForEachShownWord(outline.title, inField(ranking::kInTitle));
  // The word the title begins with, section numbers ("8.14.", "F.41.") passed over: the word
  // itself and its first run.
  bool started = false;
  ForEachShownWord(outline.title, [&](std::string_view word) {
    if (started) return;
    bool lettered = false;
    std::size_t firstRun = std::string_view::npos;
    std::size_t firstLength = 0;
    ForEachRun(word, [&](const WordRun& run) {
      if (run.codePoints < 2) return;
      if (firstRun == std::string_view::npos) {
        firstRun = run.offset;
        firstLength = run.length;
      }
      char32_t cp = 0;
      if (DecodeCodePoint(word.data() + run.offset, run.length, cp) > 0 &&
          !(cp >= '0' && cp <= '9')) {
        lettered = true;
      }
    });
    if (!lettered) return;
    started = true;
    page.terms.InField(word, ranking::kAtTitleStart);
    if (firstRun != std::string_view::npos) {
      page.terms.InField(word.substr(firstRun, firstLength), ranking::kAtTitleStart);
    }
  });
  bool mainHeading = false;
  for (const PageOutline::Heading& heading : outline.headings) {
    ForEachShownWord(heading.text, inField(ranking::kInHeadings));
    if (heading.level == 1 && !mainHeading) {
      mainHeading = true;
      ForEachShownWord(heading.text, inField(ranking::kInMainHeading));
    }
  }
  const std::string urlText = LowerAscii(UrlText(url));
  ForEachRun(urlText, [&](const WordRun& run) {
    if (run.codePoints >= 2) {
      page.terms.InField(std::string_view(urlText).substr(run.offset, run.length), ranking::kInUrl);
    }
  });
  page.terms.Group();

  const std::string shownTitle = DisplayUtf8(page.title);
  const std::string json = FragmentJson(outline, shownTitle, url);
  page.title = shownTitle;
  page.fragment =
      BundleBuilder::Piece{PieceKind::kFragment, ContentHash(json), Compressed(json, level)};
}

// ---- The bundle's forms -------------------------------------------------------------------------

struct Form {
  std::uint64_t hash = 0;
  std::uint32_t offset = 0;  // of its text in Forms::bytes
  std::uint32_t length = 0;
  std::int32_t lastPage = -1;
  std::uint32_t df = 0;
  std::uint32_t index = 0;               // in Forms::All
  std::uint16_t language = kNoLanguage;  // the stemmer language of its first page that has one
  std::string postings;   // per page: varint page difference, varint count * 32 + fields
  std::string positions;  // per page: its positions, the first then differences
};

class Forms {
 public:
  Form& Get(std::string_view text, std::uint64_t hash) {
    if ((forms_.size() + 1) * 2 > slots_.size()) Grow();
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    for (; slots_[i] != 0; i = (i + 1) & mask) {
      Form& f = forms_[slots_[i] - 1];
      if (f.hash == hash && SameWord(Text(f), text)) return f;
    }
    Form& form = forms_.emplace_back();
    form.index = static_cast<std::uint32_t>(forms_.size() - 1);
    form.hash = hash;
    form.offset = static_cast<std::uint32_t>(bytes_.size());
    form.length = static_cast<std::uint32_t>(text.size());
    bytes_.append(text);
    slots_[i] = static_cast<std::uint32_t>(forms_.size());
    return forms_.back();
  }
  std::string_view Text(const Form& f) const {
    return std::string_view(bytes_).substr(f.offset, f.length);
  }
  std::deque<Form>& All() { return forms_; }
  void ReleaseTable() { std::vector<std::uint32_t>().swap(slots_); }

  // Notes that form is on a page of stemmer language language.
  void OnPageOf(Form& form, std::uint16_t language) {
    if (form.language == kNoLanguage) {
      form.language = language;
    } else if (form.language != language) {
      otherLanguages_.push_back((std::uint64_t{form.index} << 16) | language);
    }
  }
  // Each (form index, language) that forms are on, once, in ascending order.
  std::vector<std::pair<std::uint32_t, std::uint16_t>> Languages() {
    std::vector<std::uint64_t> all = std::move(otherLanguages_);
    for (const Form& form : forms_) {
      if (form.language != kNoLanguage)
        all.push_back((std::uint64_t{form.index} << 16) | form.language);
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    std::vector<std::pair<std::uint32_t, std::uint16_t>> pairs;
    pairs.reserve(all.size());
    for (const std::uint64_t v : all) {
      pairs.emplace_back(static_cast<std::uint32_t>(v >> 16),
                         static_cast<std::uint16_t>(v & 0xFFFF));
    }
    return pairs;
  }

 private:
  void Grow() {
    slots_.assign(slots_.empty() ? std::size_t{1} << 16 : slots_.size() * 2, 0);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t f = 0; f < forms_.size(); ++f) {
      std::size_t i = forms_[f].hash & mask;
      while (slots_[i] != 0) i = (i + 1) & mask;
      slots_[i] = static_cast<std::uint32_t>(f + 1);
    }
  }

  std::string bytes_;
  std::deque<Form> forms_;  // a deque: growing it moves no form
  std::vector<std::uint32_t> slots_;
  std::vector<std::uint64_t> otherLanguages_;  // form index << 16 | language, beyond the first
};

// The stem of each (form, language) of todo whose form is stemmed ("" for the others), on threads
// threads, each with its own stemmers.
std::vector<std::string> StemAll(Forms& forms,
                                 const std::vector<std::pair<std::uint32_t, std::uint16_t>>& todo,
                                 const std::vector<std::string>& languages, unsigned threads) {
  std::vector<std::string> stems(todo.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    std::vector<std::unique_ptr<WordStemmer>> stemmers(languages.size());
    for (std::size_t start; (start = next.fetch_add(kStemsPerTask)) < todo.size();) {
      for (std::size_t i = start; i < std::min(todo.size(), start + kStemsPerTask); ++i) {
        const std::string_view text = forms.Text(forms.All()[todo[i].first]);
        if (!IsStemmed(text)) continue;
        std::unique_ptr<WordStemmer>& stemmer = stemmers[todo[i].second];
        if (!stemmer) stemmer = std::make_unique<WordStemmer>(languages[todo[i].second]);
        stems[i] = stemmer->Stem(StemInput(text));
      }
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads && t * kStemsPerTask < todo.size(); ++t)
    helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  return stems;
}

// A stem group: the stem, its member keys (indices into the keys, ascending) and its entry's body.
struct StemGroup {
  std::string_view stem;
  std::vector<std::uint32_t> members;
  std::string body;
};

// A key and its forms (indices into Forms::All), in ascending order of form.
struct Key {
  std::string_view text;
  std::uint32_t firstForm;  // into the sorted list of forms
  std::uint32_t forms;
  std::uint32_t pages = 0;
  std::uint32_t piece = 0;  // the key piece that holds it, and where its body begins there
  std::uint32_t body = 0;
};

std::string JoinedHashes(const std::vector<BundleBuilder::Piece>& pieces) {
  std::string hashes;
  for (const BundleBuilder::Piece& piece : pieces) hashes += piece.hash;
  return hashes;
}

void AppendJsonKeyList(std::string& json, const std::vector<std::string>& keys) {
  json += '[';
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i > 0) json += ',';
    AppendJsonString(json, EncodeManifestKey(keys[i]));
  }
  json += ']';
}

std::size_t SharedPrefix(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// The content of key or prefix pieces being made: entries of at most rawTarget bytes a piece,
// and, when compressedTarget is not 0, of about that many bytes once compressed.
class PieceContents {
 public:
  PieceContents(std::string_view magic, bool numbered, std::size_t rawTarget,
                std::size_t compressedTarget = 0)
      : magic_(magic),
        numbered_(numbered),
        rawTarget_(rawTarget),
        compressedTarget_(compressedTarget),
        nextCheck_(compressedTarget) {}

  // Whether the next entry should begin a new piece. The compressed size is measured now and
  // then (zlib's fastest level, a little larger than the pieces' own), the next measure taken
  // where the ratio so far says the target falls, and at least 5% further on.
  bool Full() {
    if (entries_ == 0) return false;
    if (body_.size() >= rawTarget_) return true;
    if (compressedTarget_ == 0 || body_.size() < nextCheck_) return false;
    const std::size_t compressed = std::max<std::size_t>(1, Compressed(body_, 1).size());
    if (compressed >= compressedTarget_) return true;
    nextCheck_ =
        std::max(body_.size() + body_.size() / 20, body_.size() * compressedTarget_ / compressed);
    return false;
  }

  // Adds an entry; returns where its body begins in the piece's body.
  std::size_t Add(std::string_view text, std::string_view body, int kind) {
    if (kind >= 0) PutVarint(body_, static_cast<std::uint64_t>(kind));
    const std::size_t shared = SharedPrefix(previous_, text);
    PutVarint(body_, shared);
    PutBytes(body_, text.substr(shared));
    PutVarint(body_, body.size());
    const std::size_t at = body_.size();
    body_ += body;
    previous_.assign(text);
    ++entries_;
    return at;
  }

  // Ends the piece under way; its content is Contents().back().
  void Close() {
    std::string content(magic_);
    PutVarint(content, kBundleFormat);
    if (numbered_) PutVarint(content, contents_.size());
    PutVarint(content, entries_);
    headers_.push_back(content.size());
    content += body_;
    contents_.push_back(std::move(content));
    body_.clear();
    previous_.clear();
    entries_ = 0;
    nextCheck_ = compressedTarget_;
  }

  std::size_t Count() const { return contents_.size(); }
  // The bytes of piece i from its body's offset at on.
  std::string_view BodyAt(std::size_t piece, std::size_t at) const {
    return std::string_view(contents_[piece]).substr(headers_[piece] + at);
  }
  std::vector<std::string>& Contents() { return contents_; }

 private:
  std::string_view magic_;
  bool numbered_;
  std::size_t rawTarget_;
  std::size_t compressedTarget_;
  std::size_t nextCheck_;
  std::string body_;
  std::string previous_;
  std::size_t entries_ = 0;
  std::vector<std::string> contents_;
  std::vector<std::size_t> headers_;
};

// Compresses contents into pieces of kind, on threads threads, in order.
void CompressInto(std::vector<std::string>& contents, PieceKind kind, int level, unsigned threads,
                  std::vector<BundleBuilder::Piece>& pieces) {
  const std::size_t first = pieces.size();
  pieces.resize(first + contents.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i; (i = next++) < contents.size();) {
      pieces[first + i] = {kind, ContentHash(contents[i]), Compressed(contents[i], level)};
      std::string().swap(contents[i]);
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned t = 1; t < threads && t < contents.size(); ++t) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
}

}  // namespace

IndexPageWords IndexPageWords::Of(WordList& words, std::size_t pages) {
  IndexPageWords sums;
  sums.sum.assign(pages, 0);
  sums.count.assign(pages, 0);
  for (const WordEntry* entry = words.GetFirst(); entry != nullptr; entry = words.GetNext()) {
    const std::uint64_t hash = HashWord(entry->GetText());
    for (const std::int32_t page : entry->GetPages()) {
      if (page < 0 || static_cast<std::size_t>(page) >= pages) continue;
      sums.sum[static_cast<std::size_t>(page)] += hash;
      ++sums.count[static_cast<std::size_t>(page)];
    }
  }
  return sums;
}

BundleBuilder::Bundle BundleBuilder::Build(const IndexPageWords& indexWords, const TextList& titles,
                                           const std::vector<Page>& pages,
                                           const std::string& source) {
  const std::size_t pageCount = pages.size();
  Bundle bundle;
  Forms forms;
  std::vector<ranking::PageLengths> lengths(pageCount, {0, 0});
  std::vector<bool> entered(pageCount, false);
  std::vector<std::string> shownTitles(pageCount);
  std::vector<std::string> fragmentHashes(pageCount);
  std::map<std::string, std::size_t> languages;
  // The stemmer language of each <html lang> met, and the languages by number.
  std::map<std::string, std::uint16_t> stemmerOf;
  std::vector<std::string> stemmerLanguages;
  const auto stemmerFor = [&](const std::string& lang) {
    const auto found = stemmerOf.find(lang);
    if (found != stemmerOf.end()) return found->second;
    std::uint16_t number = kNoLanguage;
    if (const std::optional<std::string> name = StemmerLanguage(lang)) {
      const auto same = std::find(stemmerLanguages.begin(), stemmerLanguages.end(), *name);
      number = static_cast<std::uint16_t>(same - stemmerLanguages.begin());
      if (same == stemmerLanguages.end()) stemmerLanguages.push_back(*name);
    }
    stemmerOf.emplace(lang, number);
    return number;
  };

  const unsigned threads = BuildEngine::ThreadsFor(jobs_);
  OrderedReader<BundlePage>::Run(
      pageCount, threads, kAheadPerThread * threads,
      [&](std::size_t i, BundlePage& page) {
        ReadPage(pages[i].path, pages[i].url, kFragmentLevel, page);
      },
      [&](std::size_t i, BundlePage& page) {
        const std::string& path = pages[i].path;
        switch (page.status) {
          case BundlePage::Status::kSkipped:
            bundle.outside.push_back(path);
            break;
          case BundlePage::Status::kCannotOpen:
            throw BundleError("cannot read " + path + " (" + page.error +
                              "); run quarry-cli index again");
          case BundlePage::Status::kNotHtml:
            throw BundleError(path + " is no longer an HTML page; run quarry-cli index again");
          case BundlePage::Status::kRead: {
            const std::string_view indexed = i < titles.Size() ? titles.At(i) : std::string_view();
            const std::string_view title =
                page.indexTitle.empty() ? std::string_view(path) : page.indexTitle;
            if (page.wordSum != indexWords.sum[i] || page.wordCount != indexWords.count[i] ||
                title != indexed) {
              throw BundleError(path + " changed since it was indexed; run quarry-cli index again");
            }
            if (page.redirect) {
              bundle.redirects.push_back(path);
              break;
            }
            if (page.noindex) {
              bundle.noindex.push_back(path);
              break;
            }
            const auto number = static_cast<std::int32_t>(i);
            const std::uint16_t language = stemmerFor(page.lang);
            for (const LocalTerm& t : page.terms.Terms()) {
              Form& form = forms.Get(page.terms.Text(t), t.hash);
              if (language != kNoLanguage) forms.OnPageOf(form, language);
              PutVarint(form.postings, static_cast<std::uint64_t>(number - form.lastPage));
              PutVarint(form.postings, std::uint64_t{t.count} * ranking::kFieldsScale + t.fields);
              form.positions += page.terms.EncodedPositions(t);
              form.lastPage = number;
              ++form.df;
            }
            entered[i] = true;
            ++bundle.entered;
            lengths[i] = {static_cast<double>(page.bodyLength),
                          static_cast<double>(page.titleLength)};
            shownTitles[i] = std::move(page.title);
            fragmentHashes[i] = page.fragment->hash;
            bundle.pieces.push_back(std::move(*page.fragment));
            if (!page.lang.empty()) ++languages[page.lang];
            break;
          }
        }
        if (progress_) progress_(i + 1);
      });
  forms.ReleaseTable();

  // The means the lengths are measured against.
  ranking::PageLengths average{0, 0};
  for (std::size_t i = 0; i < pageCount; ++i) {
    if (!entered[i]) continue;
    average.body += lengths[i].body;
    average.title += lengths[i].title;
  }
  const double n = static_cast<double>(bundle.entered);
  average.body = std::max(1.0, bundle.entered > 0 ? average.body / n : 1.0);
  average.title = std::max(1.0, bundle.entered > 0 ? average.title / n : 1.0);

  // Keys: the forms grouped by their key, in ascending order of key, then form. Most forms are
  // their own key (ASCII lower case); the others' keys are kept apart.
  std::vector<Form*> all;
  for (Form& form : forms.All()) all.push_back(&form);
  std::vector<std::string> folded;
  std::vector<std::uint32_t> foldedOf(all.size(), 0);  // 1 + index into folded, or 0
  for (std::size_t f = 0; f < all.size(); ++f) {
    const std::string_view text = forms.Text(*all[f]);
    if (IsAsciiAlphanumeric(text) &&
        std::none_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
      continue;
    }
    std::string key = SearchKey(text);
    if (key == text) continue;
    folded.push_back(std::move(key));
    foldedOf[f] = static_cast<std::uint32_t>(folded.size());
  }
  const auto keyOf = [&](std::size_t f) -> std::string_view {
    return foldedOf[f] != 0 ? std::string_view(folded[foldedOf[f] - 1]) : forms.Text(*all[f]);
  };
  // Sorted by the first eight bytes of the key as a number first, then by the rest of the key
  // and the form only where those agree.
  const auto head = [](std::string_view text) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      value = (value << 8) | (i < text.size() ? static_cast<unsigned char>(text[i]) : 0U);
    }
    return value;
  };
  std::vector<std::pair<std::uint64_t, std::uint32_t>> sorted(all.size());
  for (std::size_t f = 0; f < all.size(); ++f) {
    sorted[f] = {head(keyOf(f)), static_cast<std::uint32_t>(f)};
  }
  std::sort(sorted.begin(), sorted.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    if (const int c = keyOf(a.second).compare(keyOf(b.second)); c != 0) return c < 0;
    return forms.Text(*all[a.second]).compare(forms.Text(*all[b.second])) < 0;
  });
  std::vector<std::uint32_t> order(all.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = sorted[i].second;
  std::vector<std::pair<std::uint64_t, std::uint32_t>>().swap(sorted);
  std::vector<Key> keys;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::string_view key = keyOf(order[i]);
    if (keys.empty() || keys.back().text != key) {
      keys.push_back(Key{key, static_cast<std::uint32_t>(i), 0});
    }
    ++keys.back().forms;
  }

  // A form's stored impact on page, from its posting's count and fields.
  const auto impactOf = [&](const Form& form, std::int32_t page, std::uint64_t countFields) {
    return ranking::StoredImpact(static_cast<std::uint32_t>(countFields / ranking::kFieldsScale),
                                 static_cast<unsigned>(countFields % ranking::kFieldsScale),
                                 lengths[static_cast<std::size_t>(page)], average, form.df, n);
  };

  // Stem groups: the stem of each form in each stemmer language of the pages it is on, once;
  // a stem that two keys or more have is a group of those keys.
  std::vector<std::uint32_t> keyOfForm(all.size());
  for (std::size_t k = 0; k < keys.size(); ++k) {
    for (std::uint32_t f = keys[k].firstForm; f < keys[k].firstForm + keys[k].forms; ++f) {
      keyOfForm[order[f]] = static_cast<std::uint32_t>(k);
    }
  }
  const std::vector<std::pair<std::uint32_t, std::uint16_t>> stemmed = forms.Languages();
  const std::vector<std::string> stemOf = StemAll(forms, stemmed, stemmerLanguages, threads);
  std::vector<std::pair<std::string_view, std::uint32_t>> stemKeys;
  for (std::size_t i = 0; i < stemmed.size(); ++i) {
    if (!stemOf[i].empty()) stemKeys.emplace_back(stemOf[i], keyOfForm[stemmed[i].first]);
  }
  std::sort(stemKeys.begin(), stemKeys.end());
  stemKeys.erase(std::unique(stemKeys.begin(), stemKeys.end()), stemKeys.end());
  std::vector<StemGroup> groups;
  for (std::size_t i = 0; i < stemKeys.size();) {
    std::size_t end = i + 1;
    while (end < stemKeys.size() && stemKeys[end].first == stemKeys[i].first) ++end;
    if (end - i >= 2) {
      StemGroup& group = groups.emplace_back();
      group.stem = stemKeys[i].first;
      for (std::size_t m = i; m < end; ++m) group.members.push_back(stemKeys[m].second);
    }
    i = end;
  }
  std::vector<std::pair<std::string_view, std::uint32_t>>().swap(stemKeys);
  // Each key's groups, in order of stem (groups are in that order).
  std::vector<std::pair<std::uint32_t, std::uint32_t>> keyGroups;
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (const std::uint32_t k : groups[g].members) {
      keyGroups.emplace_back(k, static_cast<std::uint32_t>(g));
    }
  }
  std::sort(keyGroups.begin(), keyGroups.end());
  {
    // A group's entry: its members, then for each page the highest impact of a member's form.
    std::vector<std::uint32_t> bestOnPage(pageCount, 0);  // 0 when not touched yet
    std::vector<std::int32_t> pagesTouched;
    for (StemGroup& group : groups) {
      pagesTouched.clear();
      for (const std::uint32_t k : group.members) {
        for (std::uint32_t f = keys[k].firstForm; f < keys[k].firstForm + keys[k].forms; ++f) {
          const Form& form = *all[order[f]];
          PieceReader postings(form.postings);
          std::int32_t page = -1;
          for (std::uint32_t p = 0; p < form.df; ++p) {
            page += static_cast<std::int32_t>(postings.Varint());
            const std::uint32_t impact = impactOf(form, page, postings.Varint());
            std::uint32_t& best = bestOnPage[static_cast<std::size_t>(page)];
            if (best == 0) pagesTouched.push_back(page);
            best = std::max(best, impact);
          }
        }
      }
      std::sort(pagesTouched.begin(), pagesTouched.end());
      PutVarint(group.body, group.members.size());
      for (const std::uint32_t k : group.members) PutBytes(group.body, keys[k].text);
      PutVarint(group.body, pagesTouched.size());
      std::int32_t previous = 0;
      for (const std::int32_t page : pagesTouched) {
        PutVarint(group.body, static_cast<std::uint64_t>(page - previous));
        PutVarint(group.body, bestOnPage[static_cast<std::size_t>(page)]);
        bestOnPage[static_cast<std::size_t>(page)] = 0;
        previous = page;
      }
    }
  }

  // Key pieces and their position pieces: the keys and stem groups in order of (text, kind).
  // A piece closes only between entries of different texts, so that the shard a text falls in
  // holds every entry of that text.
  std::vector<std::string> shardFirst;
  PieceContents keyContents(kKeysMagic, true, kKeysRawLimit, kKeysCompressedTarget);
  std::vector<std::string> positionContents;
  std::string positionBody;
  std::size_t positionKeys = 0;
  const auto closePositions = [&] {
    std::string content(kPositionsMagic);
    PutVarint(content, kBundleFormat);
    PutVarint(content, positionContents.size());
    PutVarint(content, positionKeys);
    content += positionBody;
    positionContents.push_back(std::move(content));
    positionBody.clear();
    positionKeys = 0;
  };
  bool opened = false;
  std::string_view lastText;
  const auto open = [&](std::string_view text) {
    if (!opened) {
      shardFirst.emplace_back();
      opened = true;
    } else if (keyContents.Full() && text != lastText) {
      keyContents.Close();
      closePositions();
      shardFirst.emplace_back(text);
    }
    lastText = text;
  };
  std::size_t nextGroup = 0;
  const auto addGroup = [&] {
    StemGroup& group = groups[nextGroup++];
    open(group.stem);
    keyContents.Add(group.stem, group.body, 1);
    std::string().swap(group.body);
  };
  std::size_t nextKeyGroup = 0;
  std::string body;
  std::string formsBody;
  std::string keyPositions;
  std::vector<std::int32_t> keyPages;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    Key& key = keys[k];
    while (nextGroup < groups.size() && groups[nextGroup].stem < key.text) addGroup();
    open(key.text);
    formsBody.clear();
    keyPositions.clear();
    keyPages.clear();
    for (std::uint32_t f = key.firstForm; f < key.firstForm + key.forms; ++f) {
      Form& form = *all[order[f]];
      const std::string_view text = forms.Text(form);
      PutBytes(formsBody, text == key.text ? std::string_view() : text);
      PutVarint(formsBody, form.df);
      PieceReader postings(form.postings);
      std::int32_t page = -1;
      for (std::uint32_t p = 0; p < form.df; ++p) {
        const auto delta = static_cast<std::int32_t>(postings.Varint());
        const std::uint64_t countFields = postings.Varint();
        page += delta;
        const std::uint32_t impact = impactOf(form, page, countFields);
        PutVarint(formsBody,
                  p == 0 ? static_cast<std::uint64_t>(page) : static_cast<std::uint64_t>(delta));
        PutVarint(formsBody, countFields);
        PutVarint(formsBody, impact);
        if (key.forms > 1) keyPages.push_back(page);
      }
      keyPositions += form.positions;
      std::string().swap(form.postings);
      std::string().swap(form.positions);
    }
    if (key.forms > 1) {
      std::sort(keyPages.begin(), keyPages.end());
      key.pages = static_cast<std::uint32_t>(std::unique(keyPages.begin(), keyPages.end()) -
                                             keyPages.begin());
    } else {
      key.pages = all[order[key.firstForm]]->df;
    }
    body.clear();
    PutVarint(body, key.pages);
    PutVarint(body, key.forms);
    body += formsBody;
    std::size_t stems = 0;
    while (nextKeyGroup + stems < keyGroups.size() && keyGroups[nextKeyGroup + stems].first == k) {
      ++stems;
    }
    PutVarint(body, stems);
    for (; stems > 0; --stems) PutBytes(body, groups[keyGroups[nextKeyGroup++].second].stem);
    key.piece = static_cast<std::uint32_t>(keyContents.Count());
    key.body = static_cast<std::uint32_t>(keyContents.Add(key.text, body, 0));
    PutVarint(positionBody, keyPositions.size());
    positionBody += keyPositions;
    ++positionKeys;
    while (nextGroup < groups.size() && groups[nextGroup].stem == key.text) addGroup();
  }
  while (nextGroup < groups.size()) addGroup();
  if (!opened) shardFirst.emplace_back();  // a bundle without words: one empty shard
  keyContents.Close();
  closePositions();

  // Prefix entries: every prefix of a shard's first key whose keys may reach past its shard.
  std::vector<std::string> prefixes;
  for (std::size_t s = 1; s < shardFirst.size(); ++s) {
    const std::string& first = shardFirst[s];
    for (std::size_t end = 1; end <= first.size(); ++end) {
      if (end < first.size() && (static_cast<unsigned char>(first[end]) & 0xC0) == 0x80) continue;
      const std::string_view p(first.data(), end);
      if (ShardOf(shardFirst, p) != LastShardOfPrefix(shardFirst, p)) prefixes.emplace_back(p);
    }
  }
  std::sort(prefixes.begin(), prefixes.end());
  prefixes.erase(std::unique(prefixes.begin(), prefixes.end()), prefixes.end());

  std::vector<std::string> prefixFirst;
  PieceContents prefixContents(kPrefixesMagic, false, kPrefixesRawTarget);
  std::vector<std::size_t> chosen;
  std::vector<std::pair<std::int32_t, std::uint32_t>> best;
  std::vector<std::uint32_t> bestImpact(pageCount, 0);  // per page, 0 when not touched yet
  std::vector<std::int32_t> touched;
  for (const std::string& p : prefixes) {
    const auto lo = std::lower_bound(keys.begin(), keys.end(), p,
                                     [](const Key& k, const std::string& t) { return k.text < t; });
    const std::optional<std::string> end = PrefixEnd(p);
    const auto hi =
        end ? std::lower_bound(lo, keys.end(), *end,
                               [](const Key& k, const std::string& t) { return k.text < t; })
            : keys.end();
    chosen.clear();
    for (auto it = lo; it != hi; ++it)
      chosen.push_back(static_cast<std::size_t>(it - keys.begin()));
    const std::size_t take = std::min(chosen.size(), kMaxPrefixKeys);
    std::partial_sort(chosen.begin(), chosen.begin() + static_cast<std::ptrdiff_t>(take),
                      chosen.end(), [&](std::size_t a, std::size_t b) {
                        if (keys[a].pages != keys[b].pages) return keys[a].pages > keys[b].pages;
                        return keys[a].text < keys[b].text;
                      });
    chosen.resize(take);
    body.clear();
    PutVarint(body, chosen.size());
    touched.clear();
    for (const std::size_t k : chosen) {
      PutBytes(body, keys[k].text);
      PutVarint(body, keys[k].pages);
      // The key's postings, read back from its entry in its key piece.
      PieceReader entry(keyContents.BodyAt(keys[k].piece, keys[k].body));
      entry.Varint();  // pages
      const std::uint64_t formCount = entry.Varint();
      for (std::uint64_t f = 0; f < formCount; ++f) {
        entry.Bytes();
        const std::uint64_t df = entry.Varint();
        std::uint64_t page = 0;
        for (std::uint64_t i = 0; i < df; ++i) {
          page = i == 0 ? entry.Varint() : page + entry.Varint();
          entry.Varint();  // count and fields
          const auto impact = static_cast<std::uint32_t>(entry.Varint());
          if (page >= pageCount) continue;
          std::uint32_t& b = bestImpact[page];
          if (b == 0) touched.push_back(static_cast<std::int32_t>(page));
          if (impact > b) b = impact;
        }
      }
    }
    std::sort(touched.begin(), touched.end());
    best.clear();
    for (const std::int32_t page : touched) {
      best.push_back({page, bestImpact[static_cast<std::size_t>(page)]});
      bestImpact[static_cast<std::size_t>(page)] = 0;
    }
    PutVarint(body, best.size());
    std::int32_t previous = 0;
    for (std::size_t b = 0; b < best.size(); ++b) {
      PutVarint(body,
                static_cast<std::uint64_t>(b == 0 ? best[b].first : best[b].first - previous));
      PutVarint(body, best[b].second);
      previous = best[b].first;
    }
    if (prefixFirst.empty() || prefixContents.Full()) {
      if (!prefixFirst.empty()) prefixContents.Close();
      prefixFirst.push_back(prefixFirst.empty() ? std::string() : p);
    }
    prefixContents.Add(p, body, -1);
  }
  if (!prefixFirst.empty()) prefixContents.Close();

  // Directory pieces.
  std::vector<std::string> directoryContents;
  for (std::size_t start = 0; start < pageCount; start += kDirectoryPages) {
    std::string json = "[";
    for (std::size_t i = start; i < std::min(pageCount, start + kDirectoryPages); ++i) {
      if (i > start) json += ',';
      if (!entered[i]) {
        json += "null";
        continue;
      }
      json += '[';
      AppendJsonString(json, fragmentHashes[i]);
      json += ',';
      AppendJsonString(json, shownTitles[i]);
      json += ',';
      AppendJsonString(json, pages[i].url);
      json += ']';
    }
    json += ']';
    directoryContents.push_back(std::move(json));
  }

  std::vector<Piece> keyPieces;
  std::vector<Piece> positionPieces;
  std::vector<Piece> prefixPieces;
  std::vector<Piece> directoryPieces;
  CompressInto(keyContents.Contents(), PieceKind::kKeys, kIndexLevel, threads, keyPieces);
  CompressInto(positionContents, PieceKind::kPositions, kPositionsLevel, threads, positionPieces);
  CompressInto(prefixContents.Contents(), PieceKind::kPrefixes, kIndexLevel, threads, prefixPieces);
  CompressInto(directoryContents, PieceKind::kDirectory, kIndexLevel, threads, directoryPieces);

  // The manifest's "bundle" object.
  std::string lang;
  std::size_t most = 0;
  for (const auto& [name, count] : languages) {
    if (count > most) {
      most = count;
      lang = name;
    }
  }
  std::string& json = bundle.manifest;
  json = "{\n    \"format\": " + std::to_string(kBundleFormat) + ",\n    \"folder\": \"" +
         std::string(kBundleFolderName) + "/\",\n    \"source\": \"" + source +
         "\",\n    \"pages\": " + std::to_string(pageCount) +
         ",\n    \"entered\": " + std::to_string(bundle.entered) + ",\n    \"lang\": ";
  AppendJsonString(json, DisplayUtf8(lang));
  json += ",\n    \"shards\": {\"first\": ";
  AppendJsonKeyList(json, shardFirst);
  json += ", \"keys\": \"" + JoinedHashes(keyPieces) + "\", \"positions\": \"" +
          JoinedHashes(positionPieces) + "\"},\n    \"prefixes\": {\"first\": ";
  AppendJsonKeyList(json, prefixFirst);
  json += ", \"hashes\": \"" + JoinedHashes(prefixPieces) +
          "\"},\n    \"directory\": {\"size\": " + std::to_string(kDirectoryPages) +
          ", \"hashes\": \"" + JoinedHashes(directoryPieces) + "\"}\n  }";

  for (std::vector<Piece>* group : {&keyPieces, &positionPieces, &prefixPieces, &directoryPieces}) {
    for (Piece& piece : *group) bundle.pieces.push_back(std::move(piece));
  }
  return bundle;
}

}  // namespace quarry
