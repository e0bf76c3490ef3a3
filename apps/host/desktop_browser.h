// The desktop's web browser, for the pages a host opens for the plug-in (the browser sign-in):
// xdg-open when there is a display (DISPLAY or WAYLAND_DISPLAY set), nothing without one.
#pragma once

#include <string>

namespace marigold::host {

// Answers whether a browser was asked to open `url`.
bool openInDesktopBrowser(const std::string& url);

}  // namespace marigold::host
