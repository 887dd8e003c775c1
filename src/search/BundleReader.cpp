#include "search/BundleReader.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "search/BundleBuilder.h"
#include "search/BundleFormat.h"
#include "search/Ranking.h"

namespace quarry {

namespace {

constexpr std::size_t kManifestLimit = 64 << 20;
constexpr std::size_t kPieceLimit = 1 << 30;
constexpr std::size_t kMaxPrefixKeys = 50;

std::vector<std::string> SplitHashes(const nlohmann::json& field) {
  std::vector<std::string> hashes;
  if (!field.is_string()) return hashes;
  const std::string& all = field.get_ref<const std::string&>();
  for (std::size_t at = 0; at + 16 <= all.size(); at += 16) hashes.push_back(all.substr(at, 16));
  return hashes;
}

bool DecodeKeys(const nlohmann::json& field, std::vector<std::string>& keys) {
  if (!field.is_array()) return false;
  for (const nlohmann::json& key : field) {
    if (!key.is_string()) return false;
    const std::optional<std::string> bytes = DecodeManifestKey(key.get_ref<const std::string&>());
    if (!bytes) return false;
    keys.push_back(*bytes);
  }
  return true;
}

const nlohmann::json& Member(const nlohmann::json& object, const char* name) {
  static const nlohmann::json kNull;
  return object.is_object() && object.contains(name) ? object[name] : kNull;
}

// Reads a count, then as many pages (the first as it is, each next as the step from the one
// before) each with its best impact, into best; stops at a page beyond what a page number holds.
void ReadBestImpacts(PieceReader& in, std::vector<std::pair<std::int32_t, std::uint32_t>>& best) {
  const std::uint64_t count = in.Varint();
  std::int64_t page = 0;
  for (std::uint64_t p = 0; p < count && !in.Failed(); ++p) {
    page = p == 0 ? static_cast<std::int64_t>(in.Varint())
                  : page + static_cast<std::int64_t>(in.Varint());
    const auto impact = static_cast<std::uint32_t>(in.Varint());
    if (page > INT32_MAX) break;
    best.push_back({static_cast<std::int32_t>(page), impact});
  }
}

}  // namespace

bool BundleReader::Open(const std::string& folder, std::string& error) {
  path_ = folder.empty() ? "." : folder;
  if (!folder_.Open(folder, false)) {
    error = folder_.Error();
    return false;
  }
  const std::optional<std::string> text = folder_.ReadFile(kBundleManifestName, kManifestLimit);
  if (!text) {
    error = "no search bundle in " + path_ + " (" + kBundleManifestName + " is missing)";
    return false;
  }
  const nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
  const nlohmann::json& bundle = Member(json, "bundle");
  const nlohmann::json& format = Member(bundle, "format");
  if (!bundle.is_object() || !format.is_number_integer() || format.get<int>() != kBundleFormat) {
    error = "no search bundle in " + path_ + " (" + kBundleManifestName +
            " is not the manifest of a bundle of this version of Quarry)";
    return false;
  }
  const nlohmann::json& source = Member(bundle, "source");
  const nlohmann::json& pages = Member(bundle, "pages");
  const nlohmann::json& entered = Member(bundle, "entered");
  const nlohmann::json& shards = Member(bundle, "shards");
  const nlohmann::json& prefixes = Member(bundle, "prefixes");
  const nlohmann::json& directory = Member(bundle, "directory");
  const bool sound = source.is_string() && pages.is_number_unsigned() &&
                     entered.is_number_unsigned() &&
                     DecodeKeys(Member(shards, "first"), shardFirst_) &&
                     DecodeKeys(Member(prefixes, "first"), prefixFirst_) &&
                     Member(directory, "size").is_number_unsigned();
  if (sound) {
    source_ = source.get<std::string>();
    pages_ = pages.get<std::size_t>();
    entered_ = entered.get<std::size_t>();
    keyHashes_ = SplitHashes(Member(shards, "keys"));
    positionHashes_ = SplitHashes(Member(shards, "positions"));
    prefixHashes_ = SplitHashes(Member(prefixes, "hashes"));
    directoryHashes_ = SplitHashes(Member(directory, "hashes"));
    directorySize_ = Member(directory, "size").get<std::size_t>();
  }
  if (!sound || shardFirst_.empty() || !shardFirst_[0].empty() ||
      keyHashes_.size() != shardFirst_.size() || positionHashes_.size() != shardFirst_.size() ||
      prefixHashes_.size() != prefixFirst_.size() || directorySize_ == 0 ||
      !std::is_sorted(shardFirst_.begin(), shardFirst_.end())) {
    error = "the search bundle in " + path_ + " is damaged (" + kBundleManifestName + ")";
    return false;
  }
  if (!pieces_.OpenIn(folder_, kBundleFolderName, false)) {
    error = "the search bundle in " + path_ + " is damaged (" + pieces_.Error() + ")";
    return false;
  }
  return true;
}

std::string BundleReader::Load(char kind, const std::string& hash) {
  const std::string name = PieceName(static_cast<PieceKind>(kind), hash);
  const std::optional<std::string> bytes = pieces_.ReadFile(name, kPieceLimit);
  if (!bytes) {
    throw BundleError("the search bundle in " + path_ + " is damaged: " + name +
                      " is missing; run quarry-cli web again");
  }
  std::optional<std::string> content = Decompressed(*bytes, kPieceLimit);
  if (!content) content = *bytes;  // a host may have decoded it
  if (ContentHash(*content) != hash) {
    throw BundleError("the search bundle in " + path_ + " is damaged: " + name +
                      " does not match its name; run quarry-cli web again");
  }
  return std::move(*content);
}

namespace {

// Splits a key or prefix piece's content into its entries. False when it is damaged.
bool SplitEntries(std::string_view content, std::string_view magic, bool numbered, bool kinds,
                  std::vector<std::string>& texts, std::vector<unsigned>& kindsOut,
                  std::vector<std::string_view>& bodies) {
  if (content.substr(0, 4) != magic) return false;
  PieceReader in(content.substr(4));
  if (in.Varint() != static_cast<std::uint64_t>(kBundleFormat)) return false;
  if (numbered) in.Varint();
  const std::uint64_t count = in.Varint();
  std::string previous;
  for (std::uint64_t i = 0; i < count && !in.Failed(); ++i) {
    const unsigned kind = kinds ? static_cast<unsigned>(in.Varint()) : 0;
    const std::uint64_t shared = in.Varint();
    const std::string_view rest = in.Bytes();
    if (shared > previous.size()) return false;
    std::string text = previous.substr(0, shared);
    text += rest;
    const std::string_view body = in.Bytes();
    if (in.Failed()) return false;
    texts.push_back(text);
    kindsOut.push_back(kind);
    bodies.push_back(body);
    previous = std::move(text);
  }
  return !in.Failed();
}

}  // namespace

const BundleReader::Piece& BundleReader::Shard(std::size_t shard) {
  auto& slot = shards_[shard];
  if (slot) return *slot;
  auto piece = std::make_unique<Piece>();
  piece->content = Load('s', keyHashes_[shard]);
  std::vector<std::string> texts;
  std::vector<unsigned> kinds;
  std::vector<std::string_view> bodies;
  if (!SplitEntries(piece->content, kKeysMagic, true, true, texts, kinds, bodies)) {
    throw BundleError("the search bundle in " + path_ + " is damaged: key piece " +
                      std::to_string(shard));
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    piece->entries.push_back({std::move(texts[i]), kinds[i], bodies[i]});
  }
  slot = std::move(piece);
  return *slot;
}

const BundleReader::Piece& BundleReader::Positions(std::size_t shard) {
  auto& slot = positions_[shard];
  if (slot) return *slot;
  auto piece = std::make_unique<Piece>();
  piece->content = Load('p', positionHashes_[shard]);
  const std::string_view content = piece->content;
  bool sound = content.substr(0, 4) == kPositionsMagic;
  PieceReader in(content.substr(std::min<std::size_t>(4, content.size())));
  sound = sound && in.Varint() == static_cast<std::uint64_t>(kBundleFormat);
  in.Varint();
  const std::uint64_t count = in.Varint();
  for (std::uint64_t i = 0; sound && i < count; ++i) {
    piece->entries.push_back({std::string(), 0, in.Bytes()});
    sound = !in.Failed();
  }
  if (!sound) {
    throw BundleError("the search bundle in " + path_ + " is damaged: position piece " +
                      std::to_string(shard));
  }
  slot = std::move(piece);
  return *slot;
}

const BundleReader::Piece& BundleReader::Prefixes(std::size_t index) {
  auto& slot = prefixes_[index];
  if (slot) return *slot;
  auto piece = std::make_unique<Piece>();
  piece->content = Load('x', prefixHashes_[index]);
  std::vector<std::string> texts;
  std::vector<unsigned> kinds;
  std::vector<std::string_view> bodies;
  if (!SplitEntries(piece->content, kPrefixesMagic, false, false, texts, kinds, bodies)) {
    throw BundleError("the search bundle in " + path_ + " is damaged: prefix piece " +
                      std::to_string(index));
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    piece->entries.push_back({std::move(texts[i]), 0, bodies[i]});
  }
  slot = std::move(piece);
  return *slot;
}

BundleReader::Key BundleReader::DecodeKey(const Entry& entry) const {
  Key key;
  key.text = entry.text;
  PieceReader in(entry.body);
  key.pages = static_cast<std::uint32_t>(in.Varint());
  const std::uint64_t forms = in.Varint();
  for (std::uint64_t f = 0; f < forms && !in.Failed(); ++f) {
    Form form;
    const std::string_view text = in.Bytes();
    form.text = text.empty() ? key.text : std::string(text);
    const std::uint64_t count = in.Varint();
    std::int64_t page = 0;
    for (std::uint64_t p = 0; p < count && !in.Failed(); ++p) {
      page = p == 0 ? static_cast<std::int64_t>(in.Varint())
                    : page + static_cast<std::int64_t>(in.Varint());
      const std::uint64_t countFields = in.Varint();
      const std::uint64_t impact = in.Varint();
      if (page > INT32_MAX) break;
      form.postings.push_back({static_cast<std::int32_t>(page),
                               static_cast<std::uint32_t>(countFields / ranking::kFieldsScale),
                               static_cast<unsigned>(countFields % ranking::kFieldsScale),
                               static_cast<std::uint32_t>(impact)});
    }
    key.forms.push_back(std::move(form));
  }
  const std::uint64_t stems = in.Varint();
  for (std::uint64_t s = 0; s < stems && !in.Failed(); ++s) key.stems.emplace_back(in.Bytes());
  if (in.Failed()) {
    throw BundleError("the search bundle in " + path_ + " is damaged: the entry of a key");
  }
  return key;
}

std::optional<BundleReader::Key> BundleReader::FindKey(const std::string& key) {
  const Piece& shard = Shard(ShardOf(shardFirst_, key));
  const auto it = std::lower_bound(shard.entries.begin(), shard.entries.end(), key,
                                   [](const Entry& e, const std::string& k) { return e.text < k; });
  for (auto at = it; at != shard.entries.end() && at->text == key; ++at) {
    if (at->kind == 0) return DecodeKey(*at);
  }
  return std::nullopt;
}

std::optional<BundleReader::Stem> BundleReader::FindStem(const std::string& stem) {
  const Piece& shard = Shard(ShardOf(shardFirst_, stem));
  const auto it = std::lower_bound(shard.entries.begin(), shard.entries.end(), stem,
                                   [](const Entry& e, const std::string& k) { return e.text < k; });
  for (auto at = it; at != shard.entries.end() && at->text == stem; ++at) {
    if (at->kind != 1) continue;
    Stem found;
    PieceReader in(at->body);
    const std::uint64_t members = in.Varint();
    for (std::uint64_t m = 0; m < members && !in.Failed(); ++m)
      found.members.emplace_back(in.Bytes());
    ReadBestImpacts(in, found.best);
    if (in.Failed()) {
      throw BundleError("the search bundle in " + path_ + " is damaged: the entry of a stem");
    }
    return found;
  }
  return std::nullopt;
}

BundleReader::Prefix BundleReader::FindPrefix(const std::string& prefix) {
  Prefix found;
  const std::size_t first = ShardOf(shardFirst_, prefix);
  if (first == LastShardOfPrefix(shardFirst_, prefix)) {
    // All its keys are in one shard.
    const Piece& shard = Shard(first);
    std::vector<Key> keys;
    for (const Entry& entry : shard.entries) {
      if (entry.kind == 0 && entry.text.compare(0, prefix.size(), prefix) == 0) {
        keys.push_back(DecodeKey(entry));
      }
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Key& a, const Key& b) { return a.pages > b.pages; });
    if (keys.size() > kMaxPrefixKeys) keys.resize(kMaxPrefixKeys);
    std::vector<std::pair<std::int32_t, std::uint32_t>> all;
    for (const Key& key : keys) {
      found.keys.push_back({key.text, key.pages});
      for (const Form& form : key.forms) {
        for (const Posting& p : form.postings) all.push_back({p.page, p.impact});
      }
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first < b.first : a.second > b.second;
    });
    for (const auto& entry : all) {
      if (found.best.empty() || found.best.back().first != entry.first) found.best.push_back(entry);
    }
    return found;
  }
  if (prefixFirst_.empty()) return found;
  const Piece& piece = Prefixes(ShardOf(prefixFirst_, prefix));
  const auto it = std::lower_bound(piece.entries.begin(), piece.entries.end(), prefix,
                                   [](const Entry& e, const std::string& p) { return e.text < p; });
  if (it == piece.entries.end() || it->text != prefix) return found;
  PieceReader in(it->body);
  const std::uint64_t keys = in.Varint();
  for (std::uint64_t k = 0; k < keys && !in.Failed(); ++k) {
    std::string text(in.Bytes());
    found.keys.push_back({std::move(text), static_cast<std::uint32_t>(in.Varint())});
  }
  ReadBestImpacts(in, found.best);
  if (in.Failed()) {
    throw BundleError("the search bundle in " + path_ + " is damaged: the entry of a prefix");
  }
  return found;
}

std::map<std::int32_t, std::vector<std::uint32_t>> BundleReader::Positions(
    const std::string& key, const std::string& form) {
  std::map<std::int32_t, std::vector<std::uint32_t>> positions;
  const std::size_t shardIndex = ShardOf(shardFirst_, key);
  const Piece& shard = Shard(shardIndex);
  std::size_t keyIndex = 0;
  const Entry* entry = nullptr;
  for (const Entry& e : shard.entries) {
    if (e.kind != 0) continue;
    if (e.text == key) {
      entry = &e;
      break;
    }
    ++keyIndex;
  }
  if (entry == nullptr) return positions;
  const Key decoded = DecodeKey(*entry);
  const Piece& piece = Positions(shardIndex);
  if (keyIndex >= piece.entries.size()) {
    throw BundleError("the search bundle in " + path_ + " is damaged: a position piece");
  }
  PieceReader in(piece.entries[keyIndex].body);
  for (const Form& f : decoded.forms) {
    for (const Posting& p : f.postings) {
      std::uint64_t at = 0;
      std::vector<std::uint32_t>* list = f.text == form ? &positions[p.page] : nullptr;
      for (std::uint32_t k = 0; k < p.count && !in.Failed(); ++k) {
        at = k == 0 ? in.Varint() : at + in.Varint();
        if (list != nullptr) list->push_back(static_cast<std::uint32_t>(at));
      }
    }
  }
  if (in.Failed()) {
    throw BundleError("the search bundle in " + path_ + " is damaged: a position piece");
  }
  return positions;
}

std::vector<std::pair<std::string, std::uint32_t>> BundleReader::NeighbourKeys(
    const std::string& key) {
  std::vector<std::pair<std::string, std::uint32_t>> keys;
  for (const Entry& entry : Shard(ShardOf(shardFirst_, key)).entries) {
    if (entry.kind != 0) continue;
    PieceReader in(entry.body);
    keys.push_back({entry.text, static_cast<std::uint32_t>(in.Varint())});
  }
  return keys;
}

std::optional<std::pair<std::string, std::string>> BundleReader::PageOf(std::int32_t page) {
  if (page < 0 || static_cast<std::size_t>(page) >= pages_) return std::nullopt;
  const std::size_t index = static_cast<std::size_t>(page) / directorySize_;
  if (index >= directoryHashes_.size()) return std::nullopt;
  auto found = directory_.find(index);
  if (found == directory_.end()) {
    const nlohmann::json pages =
        nlohmann::json::parse(Load('d', directoryHashes_[index]), nullptr, false);
    std::vector<std::optional<std::pair<std::string, std::string>>> list;
    if (pages.is_array()) {
      for (const nlohmann::json& entry : pages) {
        if (entry.is_array() && entry.size() == 3 && entry[1].is_string() && entry[2].is_string()) {
          list.emplace_back(std::pair(entry[1].get<std::string>(), entry[2].get<std::string>()));
        } else {
          list.emplace_back(std::nullopt);
        }
      }
    }
    found = directory_.emplace(index, std::move(list)).first;
  }
  const std::size_t at = static_cast<std::size_t>(page) % directorySize_;
  return at < found->second.size() ? found->second[at] : std::nullopt;
}

}  // namespace quarry
