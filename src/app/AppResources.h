// The window's compiled-in resources (the application icon, ":/quarry/quarry.png").
#pragma once

namespace quarry {

// Registers the resources; safe to call more than once. Every class that uses them calls it,
// since a static library's resources are otherwise left out of the program.
void InitAppResources();

}  // namespace quarry
