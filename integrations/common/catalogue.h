// The "marigold" catalogue for the texts of the host extensions (GNOME Files, gThumb, KDE's Share
// menu), which link none of Marigold's libraries: GNU gettext, bound to the locale folder of the
// installation the extension's module belongs to.
#pragma once

namespace marigold::integrations {

// Binds the "marigold" catalogue to the locale folder `relativeLocale` names from the folder of
// the module holding `symbol` (the module's real path: a link to it in the host's folder still
// finds the catalogues of the installation it belongs to).
void useCatalogue(void* symbol, const char* relativeLocale);

// `text` in the user's language from the "marigold" catalogue.
const char* tr(const char* text);

}  // namespace marigold::integrations
