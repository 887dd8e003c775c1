#include "io/System.h"

namespace quarry {

bool System::WindowsPaths() { return false; }

}  // namespace quarry
