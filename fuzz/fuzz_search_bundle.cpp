// What a search reads that someone else may have written: a query as typed, a page's outline
// (title, headings, visible text) and a search bundle's pieces. None may crash, hang or read
// outside what it was given, and each keeps its limits.
//
// The input is taken three ways: as a query, as a page, and as the content of a bundle's key
// piece and position piece (each named by its content hash, as a build names them), searched for
// the input's first word.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "search/BundleBuilder.h"
#include "search/BundleFormat.h"
#include "search/BundleReader.h"
#include "search/BundleSearch.h"
#include "search/BundleWriter.h"
#include "search/PageOutline.h"
#include "search/Query.h"

namespace quarry::fuzz {
namespace {

void CheckOutline(std::string_view page) {
  PageOutline outline;
  outline.Scan(page);
  FUZZ_CHECK(outline.text.size() <= PageOutline::kTextLimit);
  FUZZ_CHECK(outline.title.size() <= PageOutline::kTitleLimit);
  FUZZ_CHECK(outline.headings.size() <= PageOutline::kHeadingLimit);
  for (const PageOutline::Heading& heading : outline.headings) {
    FUZZ_CHECK(!heading.text.empty() && heading.text.size() <= PageOutline::kTitleLimit);
    FUZZ_CHECK(heading.level >= 1 && heading.level <= 6);
  }
}

void CheckQuery(std::string_view text) {
  for (const bool typing : {false, true}) {
    const Query query = ParseQuery(text, typing);
    for (const QueryTerm& term : query.terms) {
      FUZZ_CHECK(!term.text.empty());
      FUZZ_CHECK(term.phrase < query.phrases);
    }
  }
}

void CheckBundle(const std::string& folder, std::string_view bytes) {
  // A manifest naming one key piece and one position piece, both the input with a magic.
  const std::string keys = std::string(kKeysMagic) + std::string(bytes);
  const std::string positions = std::string(kPositionsMagic) + std::string(bytes);
  const std::string keyHash = ContentHash(keys);
  const std::string positionHash = ContentHash(positions);
  WriteFile(folder + "/quarry-bundle/" + PieceName(PieceKind::kKeys, keyHash), keys);
  WriteFile(folder + "/quarry-bundle/" + PieceName(PieceKind::kPositions, positionHash), positions);
  const std::string bundle =
      "{\"format\": 1, \"folder\": \"quarry-bundle/\", \"source\": \"x\", "
      "\"pages\": 64, \"entered\": 64, \"lang\": \"\", \"shards\": "
      "{\"first\": [\"\"], \"keys\": \"" +
      keyHash + "\", \"positions\": \"" + positionHash +
      "\"}, \"prefixes\": {\"first\": [], \"hashes\": \"\"}, "
      "\"directory\": {\"size\": 256, \"hashes\": \"\"}}";
  WriteFile(folder + "/quarry-search.json", ManifestText("./", bundle, ""));

  BundleReader reader;
  std::string error;
  FUZZ_CHECK(reader.Open(folder, error));
  std::string word(bytes.substr(0, bytes.find(' ')).substr(0, 32));
  try {
    for (const char* query : {"a b", "\"a b\"", "ab*"})
      SearchBundle(reader, ParseQuery(query, true));
    const SearchResult found = SearchBundle(reader, ParseQuery(word, true));
    for (const SearchHit& hit : found.hits) FUZZ_CHECK(hit.page >= 0 && hit.page < 64);
  } catch (const BundleError&) {
    // A damaged piece is reported, not read past.
  }
}

}  // namespace
}  // namespace quarry::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = [] {
    const std::string made = quarry::fuzz::MakeScratchDir("bundle");
    std::filesystem::create_directory(made + "/quarry-bundle");
    return made;
  }();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  quarry::fuzz::CheckQuery(bytes);
  quarry::fuzz::CheckOutline(bytes);
  quarry::fuzz::CheckBundle(folder, bytes);
  return 0;
}
