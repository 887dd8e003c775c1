// The rules and texts that the window and quarry-cli both apply to an index, written once: the
// open-failure message, the two save refusals, the open test and the five statistics as printed.
#pragma once

#include <string>

namespace quarry {

class IndexDatabase;
class TextList;
class WordList;

// Shown when the database cannot be opened; each face adds the system's reason (OpenError()).
inline constexpr char kOpenFailureText[] =
    "Error opening database.  Make sure it is not being used and that it has write access.";

// The save refusals: no page was kept, or no word was found in the kept pages.
inline constexpr char kNoPagesToSaveText[] = "No pages to save.";
inline constexpr char kNoWordsToSaveText[] = "Please build word list.";

// Opens database as IndexDatabase::Open does. True when it is open afterwards, holding an
// existing index or a new empty one; false when it could not be opened (OpenError() says why).
bool OpenOrCreate(IndexDatabase& database);

// The refusal text when these lists must not be saved (no pages first, then no words), or
// nullptr when they may be.
const char* SaveRefusal(const TextList& pageList, const WordList& wordList);

// The five statistics, one line each, every line ending in '\n':
// "Index: <path>", "Words: <n>", "Pages: <n>", "Date: <date>", "Size: <bytes>".
std::string StatisticsLines(const IndexDatabase& database);

}  // namespace quarry
