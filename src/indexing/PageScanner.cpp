#include "indexing/PageScanner.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "indexing/PageText.h"
#include "io/PageFile.h"
#include "model/TextList.h"
#include "model/TextOrder.h"
#include "model/WordList.h"

namespace quarry {

namespace {

// A line buffer of 512 bytes holds 511 bytes of a piece and its NUL.
constexpr std::size_t kPieceLimit = 511;

// Where a match lies: its start and the end of the piece that holds it.
struct PieceMatch {
  std::size_t position = std::string_view::npos;
  std::size_t pieceEnd = 0;
};

// The first occurrence of pattern (lower case, no LF) in contents, ASCII case-insensitive, that
// lies wholly inside one piece; an occurrence that straddles two pieces is passed over.
PieceMatch FindInPieces(std::string_view contents, std::string_view pattern) {
  const std::size_t size = contents.size();
  const std::size_t length = pattern.size();
  if (length == 0 || length > size) return {};
  const char* data = contents.data();
  const char first = pattern[0];
  const char firstUpper = ToUpperAscii(first);

  std::size_t lineStart = 0;  // start of the line holding position `known`
  std::size_t known = 0;
  for (std::size_t i = 0; i + length <= size; ++i) {
    const char c = data[i];
    if (c != first && c != firstUpper) continue;
    std::size_t k = 1;
    while (k < length && ToLowerAscii(data[i + k]) == pattern[k]) ++k;
    if (k < length) continue;

    // Bring the line start up to i; each byte is looked at once over the whole search.
    if (i > known) {
      const std::string_view skipped(data + known, i - known);
      const std::size_t lf = skipped.rfind('\n');
      if (lf != std::string_view::npos) lineStart = known + lf + 1;
      known = i;
    }
    const std::size_t pieceStart = lineStart + (i - lineStart) / kPieceLimit * kPieceLimit;
    const std::size_t pieceLimit = std::min(pieceStart + kPieceLimit, size);
    if (i + length > pieceLimit) continue;  // straddles two pieces
    const void* lf = std::memchr(data + i, '\n', pieceLimit - i);
    const std::size_t pieceEnd =
        lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1
                      : pieceLimit;
    return {i, pieceEnd};
  }
  return {};
}

constexpr std::array<std::string_view, 7> kTitleTags = {"<title>", "<h1>", "<h2>", "<h3>",
                                                        "<h4>",    "<h5>", "<h6>"};

}  // namespace

PageScanner::PageScanner(WordList& wordList, TextList& pageList, TextList& titleList)
    : wordList_(wordList), pageList_(pageList), titleList_(titleList) {}

PageScanner::Outcome PageScanner::ScanFile(const std::string& path) {
  ScannedPage page;
  Read(path, page);
  openError_ = page.openError;
  Register(page, path);
  return page.outcome;
}

PageScanner::Outcome PageScanner::ScanContents(std::string_view contents, std::string_view path) {
  ScannedPage page;
  ReadContents(contents, page);
  Register(page, path);
  return page.outcome;
}

void PageScanner::Read(const std::string& path, const PageFile::Rules& rules, ScannedPage& page) {
  PageFile file;
  if (Open(path, rules, file, page)) ReadOpened(file, page);
}

bool PageScanner::Open(const std::string& path, const PageFile::Rules& rules, PageFile& file,
                       ScannedPage& page) {
  if (file.Open(path, rules)) return true;
  page.title.clear();
  page.words.Clear();
  page.outcome = Outcome::kCannotOpen;
  page.openError = file.OpenError();
  return false;
}

void PageScanner::ReadOpened(PageFile& file, ScannedPage& page) {
  page.openError.clear();
  ReadContents(file.ReadRest(), page);
  file.Close();
}

void PageScanner::ReadContents(std::string_view contents, ScannedPage& page) {
  page.title.clear();
  page.words.Clear();
  if (!IsHtmlPage(contents)) {
    page.outcome = Outcome::kNotHtml;
    return;
  }
  page.outcome = Outcome::kIndexed;
  page.title = FindTitle(contents);
  CollectWords(contents, page.words);
  page.words.ReleaseLookup();
}

std::int32_t PageScanner::Register(const ScannedPage& page, std::string_view path) {
  if (page.outcome != Outcome::kIndexed) return -1;
  titleList_.Add(page.title.empty() ? path : std::string_view(page.title));
  const std::int32_t number = pageList_.Add(path);
  wordList_.AddPageWords(page.words, number);
  return number;
}

bool PageScanner::IsHtmlPage(std::string_view contents) {
  return FindInPieces(contents, "html").position != std::string_view::npos;
}

std::string PageScanner::FindTitle(std::string_view contents) {
  for (const std::string_view tag : kTitleTags) {
    const PieceMatch match = FindInPieces(contents, tag);
    if (match.position == std::string_view::npos) return {};
    const std::size_t start = match.position + tag.size();
    if (start < match.pieceEnd && contents[start] == '<') continue;  // empty: try the next tag

    std::string_view rest = contents.substr(start, match.pieceEnd - start);
    const std::size_t lessThan = rest.find('<');
    if (lessThan != std::string_view::npos) {
      rest = rest.substr(0, lessThan);
    } else if (!rest.empty() && rest.back() == '\n') {
      rest.remove_suffix(1);
    }
    return LowerAscii(rest);
  }
  return {};
}

void PageScanner::CollectWords(std::string_view contents, PageWords& words) {
  ForEachPageWord(contents, [&words](std::string_view word) { words.Add(word); });
}

}  // namespace quarry
