#include "cli/RecordWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/PrintError.h"

namespace quarry {

void RecordWriter::Field(std::string_view field) {
  if (recordStarted_) std::fputc('\t', out_);
  std::fwrite(field.data(), 1, field.size(), out_);
  recordStarted_ = true;
}

void RecordWriter::EndRecord() {
  std::fputc(terminator_, out_);
  recordStarted_ = false;
}

bool RecordWriter::Finish(std::FILE* out) {
  if (std::fflush(out) == 0 && !std::ferror(out)) return true;
  PrintError(std::string("cannot write the output: ") + std::strerror(errno));
  return false;
}

}  // namespace quarry
