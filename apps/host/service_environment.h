// What a host takes from its own environment for the plug-in: the service configuration
// (MARIGOLD_AUTH_BASE, MARIGOLD_API_BASE, MARIGOLD_CA_FILE, MARIGOLD_CONSUMER_KEY and
// MARIGOLD_CONSUMER_SECRET, XDG_CONFIG_HOME) and where the diagnostics go (MARIGOLD_LOG), and the
// checks made on a configuration before the plug-in is loaded, so that a misconfigured run stops
// with a clear message before anything is sent. The plug-in itself reads no variable.
#pragma once

#include "base/log.h"
#include "plugin/plugin_entry.h"

namespace marigold::host {

// The variables as they are now; an unset one is empty.
ServiceConfiguration serviceFromEnvironment();

// The diagnostics are shown on standard error only when MARIGOLD_LOG is set to anything but
// "off"; otherwise they are dropped, since the hosts say what the user needs themselves.
LogSink& diagnosticsFromEnvironment();

// Throws std::runtime_error naming the variable when the auth base is anything but an https
// address (the password is sent there), or when the CA file does not name a readable PEM
// certificate file. Empty values are the built-in ones and pass.
void requireUsable(const ServiceConfiguration& service);

}  // namespace marigold::host
