// Puts a search bundle on disk beside the search page, safely: the pieces go into the marked
// folder quarry-bundle/ before the manifest that names them replaces the old one, the previous
// build's pieces stay, and only regular files that Quarry's own manifests name are ever deleted.
// A link, a FIFO or a file Quarry did not write at a name the bundle needs is refused.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "io/OutputFolder.h"
#include "search/BundleBuilder.h"

namespace quarry {

// The manifest's text: the generator's mark, the version, the site root's URL relative to the
// manifest, the bundle object (BundleBuilder::Bundle::manifest) and more members (JSON text of
// ",\n  \"name\": value" pairs, or "").
std::string ManifestText(const std::string& siteRoot, const std::string& bundle,
                         const std::string& more);

class BundleWriter {
 public:
  // out is the folder of the search page and the manifest; it must outlive the writer.
  explicit BundleWriter(const OutputFolder& out) : out_(out) {}
  virtual ~BundleWriter() = default;

  BundleWriter(const BundleWriter&) = delete;
  BundleWriter& operator=(const BundleWriter&) = delete;

  // Looks at the bundle's folder and at every name the bundle needs, writing nothing. Returns
  // the refusals ("PATH: why"); when there are any, nothing may be written. Throws FileError.
  std::vector<std::string> Check(const BundleBuilder::Bundle& bundle);

  // Writes the pieces that are not there already and flushes them. REQUIRES: Check found
  // nothing to refuse. Throws FileError.
  void WritePieces(const BundleBuilder::Bundle& bundle);

  // After the manifest was replaced: keeps the manifest it replaced as the previous one, and
  // removes the pieces that only the one before that named. Throws FileError.
  void Finish(const BundleBuilder::Bundle& bundle);

  std::size_t Written() const { return written_; }
  std::size_t Kept() const { return kept_; }

 private:
  // The pieces a manifest's text names: its key, position, prefix and directory pieces, and the
  // fragments its directory pieces name (those that are in the folder).
  std::set<std::string> NamesOf(const std::string& manifest) const;

  const OutputFolder& out_;
  OutputFolder folder_;
  bool folderExists_ = false;
  std::string current_;          // the manifest in place before this build, or ""
  std::string previous_;         // the one before it, as the folder keeps it, or ""
  std::set<std::string> known_;  // what current_ and previous_ name
  std::vector<bool> present_;    // per piece of the bundle: already there with these bytes
  std::size_t written_ = 0;
  std::size_t kept_ = 0;
};

}  // namespace quarry
