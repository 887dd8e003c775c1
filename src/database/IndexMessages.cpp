#include "database/IndexMessages.h"

#include "database/IndexDatabase.h"
#include "model/TextList.h"
#include "model/WordList.h"

namespace quarry {

bool OpenOrCreate(IndexDatabase& database) {
  // Open returns 1 both when it fails (closed) and when it has just created a new, empty
  // database (open): only the first is a failure.
  return database.Open() == 0 || database.IsOpen();
}

const char* SaveRefusal(const TextList& pageList, const WordList& wordList) {
  if (pageList.Size() == 0) return kNoPagesToSaveText;
  if (wordList.Size() == 0) return kNoWordsToSaveText;
  return nullptr;
}

std::string StatisticsLines(const IndexDatabase& database) {
  return "Index: " + database.GetIndexPath() + "\nWords: " + database.GetWordCountText() +
         "\nPages: " + database.GetPageCountText() + "\nDate: " + database.GetDateText() +
         "\nSize: " + database.GetSizeText() + '\n';
}

}  // namespace quarry
