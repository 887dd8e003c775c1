#include "search/WordStemmer.h"

#include <libstemmer.h>
#include <utf8proc.h>

#include <cstdlib>
#include <memory>

#include "search/SearchTerms.h"

namespace quarry {

std::optional<std::string> StemmerLanguage(std::string_view lang) {
  if (lang.empty()) return std::string("en");
  if (lang.size() > 3 || lang.size() < 2) return std::nullopt;
  for (const char c : lang) {
    if (c < 'a' || c > 'z') return std::nullopt;
  }
  std::string name(lang);
  sb_stemmer* stemmer = sb_stemmer_new(name.c_str(), "UTF_8");
  if (stemmer == nullptr) return std::nullopt;
  sb_stemmer_delete(stemmer);
  return name;
}

bool IsStemmed(std::string_view form) {
  std::size_t codePoints = 0;
  for (std::size_t i = 0; i < form.size();) {
    const auto b = static_cast<unsigned char>(form[i]);
    if (b < 0x80) {
      if (!((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'))) return false;
      ++i;
    } else {
      char32_t cp = 0;
      const std::size_t length = DecodeCodePoint(form.data() + i, form.size() - i, cp);
      if (length == 0 || !IsLetterOrMark(cp) || CjkClass(cp) == 1) return false;
      i += length;
    }
    ++codePoints;
  }
  return codePoints >= 2;
}

std::string StemInput(std::string_view form) {
  bool ascii = true;
  for (const char c : form) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) {
    std::string folded(form);
    for (char& c : folded) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return folded;
  }
  utf8proc_uint8_t* mapped = nullptr;
  const utf8proc_ssize_t length = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(form.data()),
      static_cast<utf8proc_ssize_t>(form.size()), &mapped,
      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD));
  if (length < 0) return std::string(form);  // not well-formed: IsStemmed said no already
  const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
  return std::string(reinterpret_cast<const char*>(mapped), static_cast<std::size_t>(length));
}

WordStemmer::WordStemmer(const std::string& language)
    : stemmer_(sb_stemmer_new(language.c_str(), "UTF_8")) {}

WordStemmer::~WordStemmer() { sb_stemmer_delete(stemmer_); }

std::string_view WordStemmer::Stem(std::string_view folded) {
  if (stemmer_ == nullptr) return {};
  const sb_symbol* stem = sb_stemmer_stem(
      stemmer_, reinterpret_cast<const sb_symbol*>(folded.data()), static_cast<int>(folded.size()));
  if (stem == nullptr) return {};
  return std::string_view(reinterpret_cast<const char*>(stem),
                          static_cast<std::size_t>(sb_stemmer_length(stemmer_)));
}

}  // namespace quarry
