#include "model/WordSplitter.h"

namespace quarry {

void WordSplitter::SetLine(const char* line) {
  line_ = line;
  cursor_ = 0;
}

void WordSplitter::NextWord(char* out) {
  if (line_ == nullptr) {  // no line attached yet: nothing to give
    out[0] = '\0';
    return;
  }
  const char* p = line_ + cursor_;
  int i = 0;
  for (;; ++i) {
    const char b = p[i];
    if (b == ' ') {
      out[i] = '\0';
      cursor_ += i + 1;  // past this one space only
      return;
    }
    if (b == '\0' || b == '\n' || b == '\r') {
      out[i] = '\0';
      cursor_ += i;  // stays on the byte that ends the line
      return;
    }
    out[i] = b;
  }
}

bool WordSplitter::AtEndOfLine() const {
  if (line_ == nullptr) return false;
  const char b = line_[cursor_];
  return b == '\0' || b == '\n' || b == '\r';
}

}  // namespace quarry
