// Arbitrary contents of the three database files, opened and loaded; whatever loads must then
// save and load back unchanged.
//
// Input layout: two 16-bit little-endian lengths A and B, then the word file's A bytes, the page
// file's B bytes and the title file's rest (each cut short when the input ends first).
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "database/FileHeader.h"
#include "database/IndexDatabase.h"
#include "database/IndexProblems.h"
#include "model/TextList.h"
#include "model/WordEntry.h"
#include "model/WordList.h"

namespace quarry::fuzz {
namespace {

struct Lists {
  WordList words;
  TextList pages;
  TextList titles;
};

std::string Fresh() {
  const auto bytes = FileHeader::Fresh().Encode();
  return std::string(bytes.begin(), bytes.end());
}

// A file of a saved database: its length equals its header's total size.
void CheckSavedLength(const std::string& path) {
  const std::string bytes = ReadFile(path);
  FUZZ_CHECK(bytes.size() >= FileHeader::kSize);
  const FileHeader header =
      FileHeader::Decode(reinterpret_cast<const unsigned char*>(bytes.data()));
  FUZZ_CHECK(header.totalSize >= 0 && static_cast<std::size_t>(header.totalSize) == bytes.size());
}

struct Scratch {
  std::string dir = MakeScratchDir("load");
  std::string word = dir + "/" + kWordFileName;
  std::string page = dir + "/" + kPageFileName;
  std::string title = dir + "/" + kTitleFileName;
};

}  // namespace
}  // namespace quarry::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarry;
  using namespace quarry::fuzz;
  static Scratch scratch;

  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::size_t lengths[2] = {0, 0};
  for (std::size_t& n : lengths) {
    if (rest.size() < 2) break;
    n = static_cast<unsigned char>(rest[0]) |
        (static_cast<std::size_t>(static_cast<unsigned char>(rest[1])) << 8);
    rest.remove_prefix(2);
  }
  const std::string word(rest.substr(0, lengths[0]));
  rest.remove_prefix(word.size());
  const std::string page(rest.substr(0, lengths[1]));
  rest.remove_prefix(page.size());
  const std::string title(rest);

  for (const auto& entry : std::filesystem::directory_iterator(scratch.dir))
    std::filesystem::remove_all(entry.path());
  WriteFile(scratch.word, word);
  WriteFile(scratch.page, page);
  WriteFile(scratch.title, title);

  Lists loaded;
  {
    IndexDatabase database(scratch.dir);
    const int opened = database.Open();
    FUZZ_CHECK(database.IsOpen());
    const bool fresh = word.empty() || page.empty();
    FUZZ_CHECK(opened == (fresh ? 1 : 0));

    // Open writes nothing but the headers of empty (or, for a new database, all) files.
    const auto headerOver = [](const std::string& old) {
      return Fresh() + (old.size() > FileHeader::kSize ? old.substr(FileHeader::kSize) : "");
    };
    const std::string wordNow = ReadFile(scratch.word);
    const std::string pageNow = ReadFile(scratch.page);
    const std::string titleNow = ReadFile(scratch.title);
    if (fresh) {
      FUZZ_CHECK(wordNow == headerOver(word) && pageNow == headerOver(page));
      FUZZ_CHECK(titleNow == headerOver(title));
    } else {
      FUZZ_CHECK(wordNow == word && pageNow == page);
      FUZZ_CHECK(titleNow == (title.empty() ? Fresh() : title));
    }

    database.Load(loaded.words, loaded.pages, loaded.titles);
    FUZZ_CHECK(ReadFile(scratch.word) == wordNow && ReadFile(scratch.page) == pageNow &&
               ReadFile(scratch.title) == titleNow);

    // The reading commands' read gives the same lists, the words one by one.
    Lists read;
    database.Read(read.pages, read.titles, [&read](std::unique_ptr<WordEntry> entry) {
      read.words.Append(std::move(entry));
    });
    FUZZ_CHECK(Dump(read.words) == Dump(loaded.words) && Dump(read.pages) == Dump(loaded.pages) &&
               Dump(read.titles) == Dump(loaded.titles));

    // Nothing comes out of thin air: every string and record uses bytes of its file.
    FUZZ_CHECK(loaded.pages.Size() <= page.size() && loaded.titles.Size() <= title.size());
    // A word record takes at least 13 bytes: length, one NUL, page count, one page number.
    FUZZ_CHECK(loaded.words.Size() == 0 ||
               FileHeader::kSize + loaded.words.Size() * 13 <= word.size());
    for (WordEntry* e = loaded.words.GetFirst(); e != nullptr; e = loaded.words.GetNext()) {
      const std::vector<std::int32_t>& nums = e->GetPages();
      FUZZ_CHECK(!nums.empty());
      FUZZ_CHECK(std::set<std::int32_t>(nums.begin(), nums.end()).size() == nums.size());
      FUZZ_CHECK(AsciiLower(e->GetText()) == e->GetText());
      FUZZ_CHECK(e->GetText().find('\0') == std::string::npos);
    }

    FUZZ_CHECK(database.Save(loaded.words, loaded.pages, loaded.titles) == 0);
    CheckSavedLength(scratch.word);
    CheckSavedLength(scratch.page);
    CheckSavedLength(scratch.title);
  }

  // A Save that succeeded leaves nothing beside the three files.
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.dir))
    names.insert(entry.path().filename());
  FUZZ_CHECK((names == std::set<std::string>{kWordFileName, kPageFileName, kTitleFileName}));

  IndexDatabase again(scratch.dir);
  FUZZ_CHECK(again.Open() == 0);
  Lists reloaded;
  again.Load(reloaded.words, reloaded.pages, reloaded.titles);
  FUZZ_CHECK(Dump(reloaded.words) == Dump(loaded.words));
  FUZZ_CHECK(Dump(reloaded.pages) == Dump(loaded.pages));
  FUZZ_CHECK(Dump(reloaded.titles) == Dump(loaded.titles));
  FUZZ_CHECK(again.GetWordCountText() == std::to_string(loaded.words.Size()));
  FUZZ_CHECK(again.GetPageCountText() == std::to_string(loaded.pages.Size()));

  // What a save wrote has sizes that agree with its headers and no damaged record; only what the
  // lists themselves held (lengths, page numbers) may still be amiss.
  Lists read;
  for (const IndexProblem problem :
       again.Read(read.pages, read.titles, [](std::unique_ptr<WordEntry>) {})) {
    FUZZ_CHECK(problem == IndexProblem::kLengthsDiffer || problem == IndexProblem::kPagesBeyond);
  }
  return 0;
}
