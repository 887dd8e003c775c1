#include "AppResources.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void InitQuarryResources() { Q_INIT_RESOURCE(quarry); }

namespace quarry {

void InitAppResources() {
  static const bool done = [] {
    InitQuarryResources();
    return true;
  }();
  (void)done;
}

}  // namespace quarry
