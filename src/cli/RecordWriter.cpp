#include "cli/RecordWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/PrintError.h"

namespace quarry {

void RecordWriter::Field(std::string_view field) {
  if (recordStarted_) std::fputc('\t', stdout);
  std::fwrite(field.data(), 1, field.size(), stdout);
  recordStarted_ = true;
}

void RecordWriter::EndRecord() {
  std::fputc(terminator_, stdout);
  recordStarted_ = false;
}

bool RecordWriter::Finish() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  PrintError(std::string("cannot write the output: ") + std::strerror(errno));
  return false;
}

}  // namespace quarry
