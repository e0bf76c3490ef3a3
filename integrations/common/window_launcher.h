// What the GLib-based host extensions (GNOME Files, gThumb) share: the program's catalogue for
// their menu texts, and opening the window with the photos they hand over. They link none of
// Marigold's libraries: the window is a program of its own.
#pragma once

#include <string>
#include <vector>

namespace marigold::integrations {

// Binds the "marigold" catalogue to the locale folder `relativeLocale` names from the folder of
// the module holding `symbol` (the module's real path: a link to it in the host's folder still
// finds the catalogues of the installation it belongs to).
void useCatalogue(void* symbol, const char* relativeLocale);

// `text` in the user's language from the "marigold" catalogue.
const char* tr(const char* text);

// Starts the window with `paths` in this order, without waiting: the program MARIGOLD_GUI names,
// else marigold-gui on the PATH. Answers false, having said why on the host's log, when it could
// not be started.
bool openWindow(const std::vector<std::string>& paths);

}  // namespace marigold::integrations
