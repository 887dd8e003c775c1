// Writes records of byte fields to standard output (or another stream): fields separated by a
// TAB, each record ended by a line feed, or by a NUL byte for names that may hold line feeds.
// Bytes go out exactly as they are, whatever their encoding.
#pragma once

#include <cstdio>
#include <string_view>

namespace quarry {

class RecordWriter {
 public:
  // REQUIRES: out stays open while this writer is in use.
  explicit RecordWriter(bool nulTerminated, std::FILE* out = stdout)
      : out_(out), terminator_(nulTerminated ? '\0' : '\n') {}
  virtual ~RecordWriter() = default;

  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Writes field, preceded by a TAB unless it is the record's first.
  void Field(std::string_view field);
  // Ends the record.
  void EndRecord();
  // Flushes out. Returns false, after printing the reason (PrintError), when writing to it
  // failed, now or before.
  static bool Finish(std::FILE* out = stdout);

 private:
  std::FILE* out_;
  char terminator_;
  bool recordStarted_ = false;
};

}  // namespace quarry
