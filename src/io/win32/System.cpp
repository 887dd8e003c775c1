#include "io/System.h"

namespace quarry {

bool System::WindowsPaths() { return true; }

}  // namespace quarry
