// Reads a search bundle from disk, piece by piece as a search needs them, as the search page
// does in the browser: the manifest, then the key pieces of the keys asked for, the prefix
// pieces, the position pieces and the directory. Every piece is checked against its name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/OutputFolder.h"

namespace quarry {

class BundleReader {
 public:
  struct Posting {
    std::int32_t page;
    std::uint32_t count;
    unsigned fields;
    std::uint32_t impact;
  };
  struct Form {
    std::string text;  // the form as stored (the key itself when the piece gives none)
    std::vector<Posting> postings;
  };
  struct Key {
    std::string text;
    std::uint32_t pages = 0;
    std::vector<Form> forms;
    std::vector<std::string> stems;
  };
  // A stem group: its member keys, and for each page the highest impact of a member's form.
  struct Stem {
    std::vector<std::string> members;
    std::vector<std::pair<std::int32_t, std::uint32_t>> best;
  };
  // What a prefix matches: its keys with their page counts, most pages first, and for each page
  // the highest impact of a form of those keys.
  struct Prefix {
    std::vector<std::pair<std::string, std::uint32_t>> keys;
    std::vector<std::pair<std::int32_t, std::uint32_t>> best;
  };

  BundleReader() = default;
  virtual ~BundleReader() = default;

  BundleReader(const BundleReader&) = delete;
  BundleReader& operator=(const BundleReader&) = delete;

  // Opens the bundle whose manifest quarry-search.json is in folder. False, with error set, when
  // there is none or it is not a bundle's manifest.
  bool Open(const std::string& folder, std::string& error);

  const std::string& Source() const { return source_; }
  std::size_t Pages() const { return pages_; }
  std::size_t Entered() const { return entered_; }

  // The entry of key, or none. The readers below throw BundleError when a piece is missing or
  // damaged.
  std::optional<Key> FindKey(const std::string& key);
  // The stem group of stem, or none.
  std::optional<Stem> FindStem(const std::string& stem);
  // The 50 keys that begin with prefix and have the most pages, with their pages' best impacts.
  Prefix FindPrefix(const std::string& prefix);
  // The positions of form of key on each page it occurs on, ascending.
  std::map<std::int32_t, std::vector<std::uint32_t>> Positions(const std::string& key,
                                                               const std::string& form);
  // Every key in the shard that key falls in, with its number of pages, in key order.
  std::vector<std::pair<std::string, std::uint32_t>> NeighbourKeys(const std::string& key);
  // The page's title as shown and URL (below the site root), or none when it is not in the
  // bundle.
  std::optional<std::pair<std::string, std::string>> PageOf(std::int32_t page);

 private:
  struct Entry {
    std::string text;
    unsigned kind;
    std::string_view body;
  };
  struct Piece {
    std::string content;
    std::vector<Entry> entries;
  };

  std::string Load(char kind, const std::string& hash);
  const Piece& Shard(std::size_t shard);
  const Piece& Positions(std::size_t shard);
  const Piece& Prefixes(std::size_t piece);
  Key DecodeKey(const Entry& entry) const;

  OutputFolder folder_;
  OutputFolder pieces_;
  std::string path_;
  std::string source_;
  std::size_t pages_ = 0;
  std::size_t entered_ = 0;
  std::vector<std::string> shardFirst_;
  std::vector<std::string> keyHashes_;
  std::vector<std::string> positionHashes_;
  std::vector<std::string> prefixFirst_;
  std::vector<std::string> prefixHashes_;
  std::vector<std::string> directoryHashes_;
  std::size_t directorySize_ = 256;
  std::map<std::size_t, std::unique_ptr<Piece>> shards_;
  std::map<std::size_t, std::unique_ptr<Piece>> positions_;
  std::map<std::size_t, std::unique_ptr<Piece>> prefixes_;
  std::map<std::size_t, std::vector<std::optional<std::pair<std::string, std::string>>>> directory_;
};

}  // namespace quarry
