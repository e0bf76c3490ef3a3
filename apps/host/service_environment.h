// Checks of the service addresses a host takes from its environment, made before the plug-in is
// loaded so that a misconfigured run stops with a clear message before anything is sent.
#pragma once

namespace marigold::host {

// Throws std::runtime_error naming the variable when MARIGOLD_AUTH_BASE is set to anything but an
// https address: the password is sent there. Unset or empty, the built-in address applies.
void requireSecureAuthBase();

}  // namespace marigold::host
