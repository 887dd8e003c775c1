// The three index files as a bundle is made from them: named by one content hash, so that a
// bundle knows which index it belongs to, and read whole when they are copied beside the page.
#pragma once

#include <array>
#include <string>

namespace quarry {

// The word, page and title files of the index in folder ("" for the current one), each read
// whole as a plain file (never through a link); a missing title file (an older index) reads as a
// fresh empty one. Throws FileError.
std::array<std::string, 3> ReadIndexFiles(const std::string& folder);

// The content hash (BundleFormat.h) of the three files' bytes one after another: a bundle's
// "source". Reads them a piece at a time. Throws FileError.
std::string IndexSourceHash(const std::string& folder);

}  // namespace quarry
