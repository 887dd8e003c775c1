// Cuts one line of plain text into words at space bytes, one word per call.
#pragma once

namespace quarry {

class WordSplitter {
 public:
  WordSplitter() = default;
  virtual ~WordSplitter() = default;

  // Attaches a NUL-terminated line and puts the cursor at its start. The line is borrowed: it
  // must outlive its use and is never copied, changed or freed.
  void SetLine(const char* line);

  // Writes the next word into out as a NUL-terminated string. Only the space byte (0x20)
  // separates words; a call consumes at most one space, so the word is empty when the cursor
  // stands on a space. NUL, LF and CR end the line: the word before them is returned and the
  // cursor stays on that byte, so every further call gives an empty word.
  // REQUIRES: SetLine was called; out holds the rest of the line plus its NUL.
  void NextWord(char* out);

  // True when the cursor stands on the byte that ends the line (NUL, LF or CR), that is when
  // every further NextWord gives an empty word. False before the first SetLine.
  bool AtEndOfLine() const;

 private:
  const char* line_ = nullptr;
  int cursor_ = 0;
};

}  // namespace quarry
