// Writes records of byte fields to standard output: fields separated by a TAB, each record
// ended by a line feed, or by a NUL byte for names that may hold line feeds. Bytes go out
// exactly as they are, whatever their encoding.
#pragma once

#include <string_view>

namespace quarry {

class RecordWriter {
 public:
  explicit RecordWriter(bool nulTerminated) : terminator_(nulTerminated ? '\0' : '\n') {}
  virtual ~RecordWriter() = default;

  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Writes field, preceded by a TAB unless it is the record's first.
  void Field(std::string_view field);
  // Ends the record.
  void EndRecord();
  // Flushes standard output. Returns false, after printing the reason, when writing failed.
  static bool Finish();

 private:
  char terminator_;
  bool recordStarted_ = false;
};

}  // namespace quarry
