// Makes the search bundle of an index: reads every page of it once more (in parallel, through the
// filter and splitter the index was made with), checks that it still gives the index's words and
// title, and turns what it finds into the bundle's pieces and the manifest's "bundle" object.
// doc/search-bundle.md is the format; nothing is written to disk here (BundleWriter does that).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "search/BundleFormat.h"

namespace quarry {

class TextList;
class WordList;

// A page of the index that cannot be read, or that changed since it was indexed: the bundle
// cannot be made. The message names the page and says what to do.
class BundleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the index holds for each page, as the builder checks the pages against it: the sum of
// the hashes (HashWord) of the page's distinct words, and their number.
struct IndexPageWords {
  std::vector<std::uint64_t> sum;
  std::vector<std::uint32_t> count;

  // Of every page number below pages that words records.
  static IndexPageWords Of(WordList& words, std::size_t pages);
};

class BundleBuilder {
 public:
  // One page of the index, by page number.
  struct Page {
    std::string path;  // as the index stores it
    std::string url;   // below the site root, percent-encoded, no leading '/'; "" when outside
  };

  struct Piece {
    PieceKind kind;
    std::string hash;  // of the content
    std::string gzip;  // the content, compressed
    std::string Name() const { return PieceName(kind, hash); }
  };

  struct Bundle {
    std::vector<Piece> pieces;
    std::string manifest;  // the manifest's "bundle" object, as JSON
    std::size_t entered = 0;
    std::vector<std::string> outside;    // paths of the pages outside the site root
    std::vector<std::string> redirects;  // of the redirect pages
    std::vector<std::string> noindex;    // of the pages marked noindex
  };

  BundleBuilder() = default;
  virtual ~BundleBuilder() = default;

  BundleBuilder(const BundleBuilder&) = delete;
  BundleBuilder& operator=(const BundleBuilder&) = delete;

  // Reading threads: 0 (the default) is one per hardware thread.
  void SetJobs(unsigned jobs) { jobs_ = jobs; }
  // Hears the number of pages read so far, on the calling thread.
  void SetProgress(std::function<void(std::size_t)> progress) { progress_ = std::move(progress); }

  // Makes the bundle of the index whose words (as IndexPageWords sums them), titles and pages
  // are given (pages[i] is page number i, titles likewise); source is the content hash of the
  // index's three files. Throws BundleError when a page is missing, cannot be read or no longer
  // matches the index.
  Bundle Build(const IndexPageWords& words, const TextList& titles, const std::vector<Page>& pages,
               const std::string& source);

 private:
  unsigned jobs_ = 0;
  std::function<void(std::size_t)> progress_;
};

}  // namespace quarry
