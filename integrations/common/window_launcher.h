// What the GLib-based host extensions (GNOME Files, gThumb) share: opening the window with the
// photos they hand over (their texts come from catalogue.h). They link none of
// Marigold's libraries: the window is a program of its own.
#pragma once

#include <string>
#include <vector>

#include "catalogue.h"

namespace marigold::integrations {

// Starts the window with `paths` in this order, without waiting: the program MARIGOLD_GUI names,
// else marigold-gui on the PATH. Answers false, having said why on the host's log, when it could
// not be started.
bool openWindow(const std::vector<std::string>& paths);

}  // namespace marigold::integrations
