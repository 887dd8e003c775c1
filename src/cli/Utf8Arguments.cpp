#include "cli/Utf8Arguments.h"

#include "io/System.h"

namespace quarry {

Utf8Arguments::Utf8Arguments(int argc, char** argv) : arguments_(System::Arguments(argc, argv)) {
  System::UseByteStreams();
  for (std::string& argument : arguments_) pointers_.push_back(argument.data());
  pointers_.push_back(nullptr);
}

}  // namespace quarry
