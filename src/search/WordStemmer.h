// Word endings for the search bundle: Snowball's stemmers (libstemmer) in the language of the
// page a word is on, so that the bundle can group "indexes", "indexed" and "indexing" under one
// stem. doc/search-bundle.md ("Stems") has the rule: which forms are stemmed and how.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct sb_stemmer;

namespace quarry {

// The stemmer language of a page whose <html lang> has the primary subtag lang (lower case, ""
// when absent): English for "", else lang itself when it is two or three letters a-z that
// libstemmer knows (its ISO 639 codes: "de", "fra", ...); none otherwise.
std::optional<std::string> StemmerLanguage(std::string_view lang);

// True when form (a term as stored) is stemmed: two code points or more of well-formed UTF-8,
// every one a letter or mark (general categories L and M), none of a CJK script.
bool IsStemmed(std::string_view form);

// What the stemmer is given for form: its full case fold (utf8proc), composed (NFC), accents
// kept. ASCII text is its own fold but for A-Z.
std::string StemInput(std::string_view form);

// One language's stemmer. Not thread-safe: one per thread.
class WordStemmer {
 public:
  // REQUIRES: language is one that StemmerLanguage gives.
  explicit WordStemmer(const std::string& language);
  virtual ~WordStemmer();

  WordStemmer(const WordStemmer&) = delete;
  WordStemmer& operator=(const WordStemmer&) = delete;

  // The stem of folded (a StemInput), valid until the next call; empty when the stemmer has
  // none (it ran out of memory).
  std::string_view Stem(std::string_view folded);

 private:
  sb_stemmer* stemmer_;
};

}  // namespace quarry
