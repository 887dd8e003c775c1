// The case fold that search uses to match a query word with stored words.
//
// Stored words keep ASCII lower-casing only (TextOrder.h); a search compares folds instead, so
// that "ПРИВЕТ" finds "Привет". The rule is documented in doc/index-format.md ("Case folding
// for search") for front-ends that must fold exactly the same way.
#pragma once

#include <string>
#include <string_view>

namespace quarry {

// Maps each code point of every well-formed UTF-8 sequence in text to its Unicode simple
// lowercase mapping (utf8proc_tolower): no normalisation, no context. A-Z become a-z; a byte
// that is not part of a well-formed sequence is copied unchanged. The result may be shorter
// than text (the Kelvin sign becomes "k"). The fold of a prefix that ends between characters is
// a prefix of the fold of the whole text, so a prefix search compares folds too.
std::string FoldCase(std::string_view text);

}  // namespace quarry
