// Small helpers shared by the fuzz targets: checks that stop the run, a scratch directory, files,
// and plain restatements of the byte rules the targets compare the real code against.
#pragma once

#include <unistd.h>
#include <utf8proc.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

// Stops the run with a message when cond is false; libFuzzer then saves the input as a crash.
// Unlike assert, it stays on in every build type.
#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (false)

namespace quarry::fuzz {

// A word list's entries in walk order, each text with its page numbers.
using WordDump = std::vector<std::pair<std::string, std::vector<std::int32_t>>>;
inline WordDump Dump(WordList& list) {
  WordDump out;
  for (WordEntry* e = list.GetFirst(); e != nullptr; e = list.GetNext())
    out.emplace_back(e->GetText(), e->GetPages());
  return out;
}

// A text list's entries in number order.
inline std::vector<std::string> Dump(TextList& list) {
  std::vector<std::string> out;
  for (auto s = list.GetFirst(); s; s = list.GetNext()) out.emplace_back(*s);
  return out;
}

// A fresh directory for this process's files, on tmpfs when there is one (Save flushes to stable
// storage, which is slow on a disk), removed when the process exits normally.
inline std::string MakeScratchDir(const char* tag) {
  const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : nullptr;
  if (base == nullptr) base = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp";
  std::string pattern = std::string(base) + "/quarry-" + tag + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  static std::string* toRemove = nullptr;  // one scratch directory per process
  toRemove = new std::string(pattern);
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(*toRemove, ignored);
  });
  return pattern;
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good());
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The bytes a page file hands out: every CR LF pair becomes LF, every NUL a blank.
inline std::string AsPageFileReads(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.push_back(c == '\0' ? ' ' : c);
  }
  return out;
}

// The pieces of a page: up to and including the next LF, at most 511 bytes each.
template <typename Visit>
void ForEachPiece(std::string_view text, Visit visit) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    if (end - pos > 511) end = pos + 511;
    if (!visit(text.substr(pos, end - pos))) return;
    pos = end;
  }
}

inline std::string AsciiLower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// For each byte of w: whether it belongs to a well-formed UTF-8 sequence encoding a letter, a
// mark or a number (general categories L, M, N), decoding w from its start.
inline std::vector<bool> WordCharacterBytes(std::string_view w) {
  std::vector<bool> inWord(w.size(), false);
  std::size_t i = 0;
  while (i < w.size()) {
    utf8proc_int32_t cp = 0;
    const utf8proc_ssize_t n =
        static_cast<unsigned char>(w[i]) < 0x80
            ? 1
            : utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(w.data() + i),
                               static_cast<utf8proc_ssize_t>(w.size() - i), &cp);
    if (n <= 0) {
      ++i;
      continue;
    }
    const utf8proc_category_t category = utf8proc_category(cp);
    const bool letter = category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_NO;
    for (std::size_t k = 0; k < static_cast<std::size_t>(n); ++k) inWord[i + k] = letter;
    i += static_cast<std::size_t>(n);
  }
  return inWord;
}

// The word trimming rules, restated step by step, on a word of at most 511 bytes. Which bytes
// are blank is decided once on the whole word: removing blanks never changes it for the rest.
inline std::string ReferenceTrim(std::string_view word) {
  const std::string w(word.substr(0, word.find('\0')));
  const std::vector<bool> inWord = WordCharacterBytes(w);
  const auto nonAsciiBlank = [&](std::size_t i) {
    return static_cast<unsigned char>(w[i]) >= 0x80 && !inWord[i];
  };
  const auto blank = [&](std::size_t i) {
    return (w[i] != '\0' && static_cast<unsigned char>(w[i]) <= 0x20) || nonAsciiBlank(i);
  };
  std::size_t end = w.size();
  while (end > 1 && blank(end - 1)) --end;
  std::size_t s = 0;
  while (s < end && blank(s)) ++s;
  if (s < end && (w[s] == '(' || w[s] == '[' || w[s] == '{')) ++s;
  while (end > s && (std::string_view(")*,.:;]}").find(w[end - 1]) != std::string_view::npos ||
                     nonAsciiBlank(end - 1))) {
    --end;
  }
  std::string r = w.substr(s, end - s);
  utf8proc_int32_t cp = 0;
  if (r.size() == 1 ||
      (r.size() > 1 && utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(r.data()),
                                        static_cast<utf8proc_ssize_t>(r.size()),
                                        &cp) == static_cast<utf8proc_ssize_t>(r.size()))) {
    r.clear();
  }
  return r;
}

}  // namespace quarry::fuzz
