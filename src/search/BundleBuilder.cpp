#include "search/BundleBuilder.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
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
#include "model/WordEntry.h"
#include "model/WordHash.h"
#include "model/WordList.h"
#include "search/JsonText.h"
#include "search/PageOutline.h"
#include "search/Ranking.h"
#include "search/SearchTerms.h"

namespace quarry {

namespace {

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();
// A key piece (and a prefix piece) closes once its content is estimated to compress to this.
constexpr std::size_t kPieceTarget = 40 * 1024;
constexpr std::size_t kMaxPrefixKeys = 50;
// Pages read ahead per thread.
constexpr std::size_t kAheadPerThread = 4;

// ---- One page's terms ---------------------------------------------------------------------------

struct LocalTerm {
  std::uint64_t hash = 0;
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  std::uint32_t count = 0;  // positions
  std::uint32_t lastPosition = kNoPosition;
  std::uint32_t firstPosition = 0;  // into PageTerms::positions, once grouped
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
  }

  const std::vector<LocalTerm>& Terms() const { return terms_; }
  std::string_view Text(const LocalTerm& t) const {
    return std::string_view(bytes_).substr(t.offset, t.length);
  }
  const std::uint32_t* Positions(const LocalTerm& t) const {
    return positions_.data() + t.firstPosition;
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

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// Calls word(std::string_view) for each word of text (a title or heading as shown), trimmed and
// ASCII-lowercased as the index stores words. Returns how many there are.
template <class WordCallback>
std::uint32_t ForEachShownWord(std::string_view text, WordCallback&& word) {
  std::uint32_t count = 0;
  std::size_t i = 0;
  char folded[kWordBufferSize];
  while (i < text.size()) {
    while (i < text.size() && IsAsciiSpace(text[i])) ++i;
    std::size_t end = i;
    while (end < text.size() && !IsAsciiSpace(text[end])) ++end;
    if (end > i) {
      const std::string_view trimmed = TrimWord(text.substr(i, end - i));
      if (!trimmed.empty()) {
        for (std::size_t k = 0; k < trimmed.size(); ++k) folded[k] = ToLowerAscii(trimmed[k]);
        word(std::string_view(folded, trimmed.size()));
        ++count;
      }
    }
    i = end;
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
  for (const PageOutline::Heading& heading : outline.headings) {
    ForEachShownWord(heading.text, inField(ranking::kInHeadings));
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
  std::string postings;   // per page: varint page difference, varint count * 16 + fields
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
  std::vector<Form>& All() { return forms_; }
  void ReleaseTable() { std::vector<std::uint32_t>().swap(slots_); }

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
  std::vector<Form> forms_;
  std::vector<std::uint32_t> slots_;
};

// A key and the forms it groups (indices into Forms::All), in ascending order of form.
struct Key {
  std::string text;
  std::vector<std::uint32_t> forms;
  std::uint32_t pages = 0;
};

// ---- Writing pieces -----------------------------------------------------------------------------

std::string JoinedHashes(const std::vector<BundleBuilder::Piece>& pieces, std::size_t first,
                         std::size_t count) {
  std::string hashes;
  for (std::size_t i = first; i < first + count; ++i) hashes += pieces[i].hash;
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

// Entries of a key or prefix piece, cut into pieces of about kPieceTarget compressed bytes.
class PieceCutter {
 public:
  PieceCutter(std::string_view magic, PieceKind kind, int level, bool numbered)
      : magic_(magic), kind_(kind), level_(level), numbered_(numbered) {}

  // Whether the next entry should start a new piece.
  bool Full() const { return entries_ > 0 && body_.size() >= rawTarget_; }

  void Add(std::string_view text, std::string_view body) {
    const std::size_t shared = SharedPrefix(previous_, text);
    PutVarint(body_, shared);
    PutBytes(body_, text.substr(shared));
    PutVarint(body_, body.size());
    body_ += body;
    previous_.assign(text);
    ++entries_;
  }
  void AddKind(unsigned kind) { PutVarint(body_, kind); }

  // Closes the piece under way (when it has entries) into pieces.
  void Close(std::vector<BundleBuilder::Piece>& pieces) {
    if (entries_ == 0 && !numbered_) return;
    std::string content(magic_);
    PutVarint(content, kBundleFormat);
    if (numbered_) PutVarint(content, number_++);
    PutVarint(content, entries_);
    content += body_;
    std::string gzip = Compressed(content, level_);
    // Aim the next piece at the target from what this one compressed to.
    if (!gzip.empty() && content.size() > 1024) {
      const double ratio = static_cast<double>(content.size()) / static_cast<double>(gzip.size());
      rawTarget_ = static_cast<std::size_t>(
          std::clamp(ratio * kPieceTarget, 1.0 * kPieceTarget, 12.0 * kPieceTarget));
    }
    pieces.push_back({kind_, ContentHash(content), std::move(gzip)});
    body_.clear();
    previous_.clear();
    entries_ = 0;
  }

  std::size_t Entries() const { return entries_; }

 private:
  std::string_view magic_;
  PieceKind kind_;
  int level_;
  bool numbered_;
  std::size_t number_ = 0;
  std::string body_;
  std::string previous_;
  std::size_t entries_ = 0;
  std::size_t rawTarget_ = 3 * kPieceTarget;
};

// The position piece of one key piece: per key, its positions' bytes.
class PositionPiece {
 public:
  explicit PositionPiece(int level) : level_(level) {}

  void Add(std::string_view positions) {
    PutVarint(body_, positions.size());
    body_ += positions;
    ++keys_;
  }
  void Close(std::vector<BundleBuilder::Piece>& pieces) {
    std::string content(kPositionsMagic);
    PutVarint(content, kBundleFormat);
    PutVarint(content, number_++);
    PutVarint(content, keys_);
    content += body_;
    pieces.push_back({PieceKind::kPositions, ContentHash(content), Compressed(content, level_)});
    body_.clear();
    keys_ = 0;
  }

 private:
  int level_;
  std::size_t number_ = 0;
  std::string body_;
  std::size_t keys_ = 0;
};

}  // namespace

BundleBuilder::Bundle BundleBuilder::Build(WordList& words, const TextList& titles,
                                           const std::vector<Page>& pages,
                                           const std::string& source) {
  const std::size_t pageCount = pages.size();

  // What the index says of each page: the sum of its words' hashes and their number.
  std::vector<std::uint64_t> indexSum(pageCount, 0);
  std::vector<std::uint32_t> indexCount(pageCount, 0);
  for (const WordEntry* entry = words.GetFirst(); entry != nullptr; entry = words.GetNext()) {
    const std::uint64_t hash = HashWord(entry->GetText());
    for (const std::int32_t page : entry->GetPages()) {
      if (page < 0 || static_cast<std::size_t>(page) >= pageCount) continue;
      indexSum[static_cast<std::size_t>(page)] += hash;
      ++indexCount[static_cast<std::size_t>(page)];
    }
  }

  Bundle bundle;
  Forms forms;
  std::vector<ranking::PageLengths> lengths(pageCount, {0, 0});
  std::vector<bool> entered(pageCount, false);
  std::vector<std::string> shownTitles(pageCount);
  std::vector<std::string> fragmentHashes(pageCount);
  std::map<std::string, std::size_t> languages;

  const unsigned threads = BuildEngine::ThreadsFor(jobs_);
  const int level = level_;
  OrderedReader<BundlePage>::Run(
      pageCount, threads, kAheadPerThread * threads,
      [&](std::size_t i, BundlePage& page) { ReadPage(pages[i].path, pages[i].url, level, page); },
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
            if (page.wordSum != indexSum[i] || page.wordCount != indexCount[i] ||
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
            for (const LocalTerm& t : page.terms.Terms()) {
              Form& form = forms.Get(page.terms.Text(t), t.hash);
              PutVarint(form.postings, static_cast<std::uint64_t>(number - form.lastPage));
              PutVarint(form.postings, std::uint64_t{t.count} * 16 + t.fields);
              const std::uint32_t* p = page.terms.Positions(t);
              for (std::uint32_t k = 0; k < t.count; ++k) {
                PutVarint(form.positions, k == 0 ? p[0] : p[k] - p[k - 1]);
              }
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

  // Keys: the forms grouped by their key, in ascending order of key, then form.
  std::vector<Form>& all = forms.All();
  std::vector<std::pair<std::string, std::uint32_t>> keyed(all.size());
  for (std::size_t f = 0; f < all.size(); ++f) {
    keyed[f] = {SearchKey(forms.Text(all[f])), static_cast<std::uint32_t>(f)};
  }
  std::sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
    if (const int c = a.first.compare(b.first); c != 0) return c < 0;
    return forms.Text(all[a.second]).compare(forms.Text(all[b.second])) < 0;
  });
  std::vector<Key> keys;
  for (auto& [text, f] : keyed) {
    if (keys.empty() || keys.back().text != text) keys.push_back(Key{std::move(text), {}, 0});
    keys.back().forms.push_back(f);
  }
  std::vector<std::pair<std::string, std::uint32_t>>().swap(keyed);

  // Key pieces and position pieces; the impacts of each form's postings, kept per key for the
  // prefix entries.
  std::vector<std::string> shardFirst;
  std::vector<Piece> keyPieces;
  std::vector<Piece> positionPieces;
  // Per key: (page, impact) of every posting of its forms, in page order per form.
  std::vector<std::vector<std::pair<std::int32_t, std::uint32_t>>> keyImpacts(keys.size());
  PieceCutter keyCutter(kKeysMagic, PieceKind::kKeys, level, true);
  PositionPiece positionCutter(level);
  std::string body;
  std::string positionBody;
  std::vector<std::int32_t> keyPages;
  for (std::size_t k = 0; k < keys.size(); ++k) {
    Key& key = keys[k];
    if (keyCutter.Full() || k == 0) {
      if (k > 0) {
        keyCutter.Close(keyPieces);
        positionCutter.Close(positionPieces);
      }
      shardFirst.push_back(k == 0 ? std::string() : key.text);
    }
    body.clear();
    positionBody.clear();
    keyPages.clear();
    std::string formsBody;
    auto& impacts = keyImpacts[k];
    for (const std::uint32_t f : key.forms) {
      Form& form = all[f];
      const std::string_view text = forms.Text(form);
      PutBytes(formsBody, text == key.text ? std::string_view() : text);
      PutVarint(formsBody, form.df);
      PieceReader postings(form.postings);
      std::int32_t page = -1;
      for (std::uint32_t p = 0; p < form.df; ++p) {
        const auto delta = static_cast<std::int32_t>(postings.Varint());
        const std::uint64_t countFields = postings.Varint();
        page += delta;
        const auto count = static_cast<std::uint32_t>(countFields >> 4);
        const auto fields = static_cast<unsigned>(countFields & 15);
        const std::uint32_t impact = ranking::StoredImpact(
            count, fields, lengths[static_cast<std::size_t>(page)], average, form.df, n);
        PutVarint(formsBody,
                  p == 0 ? static_cast<std::uint64_t>(page) : static_cast<std::uint64_t>(delta));
        PutVarint(formsBody, countFields);
        PutVarint(formsBody, impact);
        impacts.push_back({page, impact});
        keyPages.push_back(page);
      }
      positionBody += form.positions;
      std::string().swap(form.postings);
      std::string().swap(form.positions);
    }
    std::sort(keyPages.begin(), keyPages.end());
    key.pages = static_cast<std::uint32_t>(std::unique(keyPages.begin(), keyPages.end()) -
                                           keyPages.begin());
    PutVarint(body, key.pages);
    PutVarint(body, key.forms.size());
    body += formsBody;
    PutVarint(body, 0);  // stems
    keyCutter.AddKind(0);
    keyCutter.Add(key.text, body);
    positionCutter.Add(positionBody);
  }
  keyCutter.Close(keyPieces);
  positionCutter.Close(positionPieces);
  if (shardFirst.empty()) shardFirst.push_back("");

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

  std::vector<Piece> prefixPieces;
  std::vector<std::string> prefixFirst;
  PieceCutter prefixCutter(kPrefixesMagic, PieceKind::kPrefixes, level, false);
  std::vector<std::size_t> chosen;
  std::vector<std::pair<std::int32_t, std::uint32_t>> best;
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
    best.clear();
    for (const std::size_t k : chosen) {
      PutBytes(body, keys[k].text);
      PutVarint(body, keys[k].pages);
      best.insert(best.end(), keyImpacts[k].begin(), keyImpacts[k].end());
    }
    std::sort(best.begin(), best.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    best.erase(std::unique(best.begin(), best.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }),
               best.end());
    PutVarint(body, best.size());
    std::int32_t previous = 0;
    for (std::size_t b = 0; b < best.size(); ++b) {
      PutVarint(body,
                static_cast<std::uint64_t>(b == 0 ? best[b].first : best[b].first - previous));
      PutVarint(body, best[b].second);
      previous = best[b].first;
    }
    if (prefixCutter.Full() || prefixFirst.empty()) {
      if (!prefixFirst.empty()) prefixCutter.Close(prefixPieces);
      prefixFirst.push_back(prefixFirst.empty() ? std::string() : p);
    }
    prefixCutter.Add(p, body);
  }
  prefixCutter.Close(prefixPieces);

  // Directory pieces.
  std::vector<Piece> directoryPieces;
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
    directoryPieces.push_back({PieceKind::kDirectory, ContentHash(json), Compressed(json, level)});
  }

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
  json += ", \"keys\": \"" + JoinedHashes(keyPieces, 0, keyPieces.size()) +
          "\", \"positions\": \"" + JoinedHashes(positionPieces, 0, positionPieces.size()) +
          "\"},\n    \"prefixes\": {\"first\": ";
  AppendJsonKeyList(json, prefixFirst);
  json += ", \"hashes\": \"" + JoinedHashes(prefixPieces, 0, prefixPieces.size()) +
          "\"},\n    \"directory\": {\"size\": " + std::to_string(kDirectoryPages) +
          ", \"hashes\": \"" + JoinedHashes(directoryPieces, 0, directoryPieces.size()) +
          "\"}\n  }";

  for (std::vector<Piece>* group : {&keyPieces, &positionPieces, &prefixPieces, &directoryPieces}) {
    for (Piece& piece : *group) bundle.pieces.push_back(std::move(piece));
  }
  return bundle;
}

}  // namespace quarry
