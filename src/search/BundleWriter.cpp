#include "search/BundleWriter.h"

#include <cerrno>
#include <string_view>

#include <nlohmann/json.hpp>

#include "io/FileError.h"
#include "io/SearchPageMarks.h"
#include "search/BundleFormat.h"

namespace quarry {

namespace {

// Manifests and directory pieces are small; anything larger is not Quarry's.
constexpr std::size_t kManifestLimit = 64 << 20;
constexpr std::size_t kPieceLimit = 1 << 30;

// The hashes of a manifest field that lists them one after another.
void AddHashes(const nlohmann::json& field, PieceKind kind, std::vector<std::string>& names) {
  if (!field.is_string()) return;
  const std::string& hashes = field.get_ref<const std::string&>();
  for (std::size_t at = 0; at + 16 <= hashes.size(); at += 16) {
    names.push_back(PieceName(kind, std::string_view(hashes).substr(at, 16)));
  }
}

}  // namespace

std::string ManifestText(const std::string& siteRoot, const std::string& bundle,
                         const std::string& more) {
  return "{\n  \"generator\": \"quarry-cli web\",\n  \"version\": " +
         std::to_string(kManifestVersion) +
         ",\n  \"siteRoot\": " + nlohmann::json(siteRoot).dump() + ",\n  \"bundle\": " + bundle +
         more + "\n}\n";
}

std::set<std::string> BundleWriter::NamesOf(const std::string& manifest) const {
  std::set<std::string> names;
  if (manifest.empty() || !folderExists_) return names;
  const nlohmann::json json = nlohmann::json::parse(manifest, nullptr, false);
  if (!json.is_object() || !json.contains("bundle") || !json["bundle"].is_object()) return names;
  const nlohmann::json& bundle = json["bundle"];
  std::vector<std::string> listed;
  std::vector<std::string> directories;
  const auto field = [&bundle](const char* group, const char* name) -> nlohmann::json {
    if (!bundle.contains(group) || !bundle[group].is_object()) return {};
    const nlohmann::json& g = bundle[group];
    return g.contains(name) ? g[name] : nlohmann::json();
  };
  AddHashes(field("shards", "keys"), PieceKind::kKeys, listed);
  AddHashes(field("shards", "positions"), PieceKind::kPositions, listed);
  AddHashes(field("prefixes", "hashes"), PieceKind::kPrefixes, listed);
  AddHashes(field("directory", "hashes"), PieceKind::kDirectory, directories);
  names.insert(listed.begin(), listed.end());
  for (const std::string& name : directories) {
    names.insert(name);
    const std::optional<std::string> gzip = folder_.ReadFile(name, kPieceLimit);
    if (!gzip) continue;
    const std::optional<std::string> content = Decompressed(*gzip, kManifestLimit);
    if (!content) continue;
    const nlohmann::json pages = nlohmann::json::parse(*content, nullptr, false);
    if (!pages.is_array()) continue;
    for (const nlohmann::json& page : pages) {
      if (page.is_array() && !page.empty() && page[0].is_string()) {
        const std::string& hash = page[0].get_ref<const std::string&>();
        if (hash.size() == 16) names.insert(PieceName(PieceKind::kFragment, hash));
      }
    }
  }
  return names;
}

std::vector<std::string> BundleWriter::Check(const BundleBuilder::Bundle& bundle) {
  std::vector<std::string> refusals;
  const std::string folderPath = out_.PathOf(kBundleFolderName);
  switch (out_.Inspect(kBundleFolderName, {}, 0)) {
    case OutputFolder::Entry::kMissing:
      folderExists_ = false;
      break;
    case OutputFolder::Entry::kMarked:
    case OutputFolder::Entry::kUnmarked:
      return {folderPath + ": it is a file, not the search bundle's folder"};
    case OutputFolder::Entry::kNotRegular:
      if (!folder_.OpenIn(out_, kBundleFolderName, false)) return {folder_.Error()};
      folderExists_ = true;
      break;
  }
  if (folderExists_) {
    const std::optional<std::string> mark = folder_.ReadFile(kBundleMarkName, 4096);
    if (!mark || *mark != kBundleMarkText) {
      return {folderPath + ": it was not made by 'quarry-cli web' (it holds no " + kBundleMarkName +
              " mark)"};
    }
  }

  current_.clear();
  if (out_.Inspect(kWebSettingsName, kWebSettingsMark, kWebSettingsMarkWithin) ==
      OutputFolder::Entry::kMarked) {
    current_ = out_.ReadFile(kWebSettingsName, kManifestLimit).value_or("");
  }
  previous_.clear();
  if (folderExists_) previous_ = folder_.ReadFile(kBundlePreviousName, kManifestLimit).value_or("");
  known_ = NamesOf(current_);
  const std::set<std::string> older = NamesOf(previous_);
  known_.insert(older.begin(), older.end());

  present_.assign(bundle.pieces.size(), false);
  if (!folderExists_) return refusals;
  for (std::size_t i = 0; i < bundle.pieces.size(); ++i) {
    const BundleBuilder::Piece& piece = bundle.pieces[i];
    const std::string name = piece.Name();
    switch (folder_.Inspect(name, {}, 0)) {
      case OutputFolder::Entry::kMissing:
        break;
      case OutputFolder::Entry::kNotRegular:
        refusals.push_back(folder_.PathOf(name) + ": it is a link or not a regular file");
        break;
      case OutputFolder::Entry::kMarked:
      case OutputFolder::Entry::kUnmarked: {
        const std::optional<std::string> there = folder_.ReadFile(name, kPieceLimit);
        if (there && *there == piece.gzip) {
          present_[i] = true;
          break;
        }
        // A piece of an earlier build, or one whose content is what its name says (a build
        // that stopped before its manifest), may be replaced; anything else was not ours.
        const std::optional<std::string> content =
            there ? Decompressed(*there, kPieceLimit) : std::nullopt;
        if (known_.count(name) == 0 && (!content || ContentHash(*content) != piece.hash)) {
          refusals.push_back(folder_.PathOf(name) + ": it was not written by 'quarry-cli web'");
        }
        break;
      }
    }
  }
  return refusals;
}

void BundleWriter::WritePieces(const BundleBuilder::Bundle& bundle) {
  if (!folderExists_) {
    if (!folder_.OpenIn(out_, kBundleFolderName, true)) {
      throw FileError(folder_.Error());
    }
    folder_.Replace(kBundleMarkName, kBundleMarkText);
    folderExists_ = true;
  }
  written_ = 0;
  kept_ = 0;
  for (std::size_t i = 0; i < bundle.pieces.size(); ++i) {
    if (i < present_.size() && present_[i]) {
      ++kept_;
      continue;
    }
    folder_.Write(bundle.pieces[i].Name(), bundle.pieces[i].gzip);
    ++written_;
  }
  folder_.SyncWritten();
}

void BundleWriter::Finish(const BundleBuilder::Bundle& bundle) {
  // What the new manifest and the one it replaced name stays; what only the one before named
  // goes.
  std::set<std::string> keep = NamesOf(current_);
  for (const BundleBuilder::Piece& piece : bundle.pieces) keep.insert(piece.Name());
  for (const std::string& name : NamesOf(previous_)) {
    if (keep.count(name) == 0) folder_.RemoveFile(name);
  }
  if (current_.empty()) {
    folder_.RemoveFile(kBundlePreviousName);
  } else {
    folder_.Replace(kBundlePreviousName, current_);
  }
  folder_.Sync();
}

}  // namespace quarry
