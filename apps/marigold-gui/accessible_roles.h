// The roles assistive technology hears for the host's own kinds of widget, where Qt would give
// generic ones: the export window is a dialog, a sheet an alert, a photo an image.
#pragma once

namespace marigold::gui {

// Installs the roles (once per process; Qt keeps the factory).
void installAccessibleRoles();

}  // namespace marigold::gui
