// Checks of the service addresses a host takes from its environment, made before the plug-in is
// loaded so that a misconfigured run stops with a clear message before anything is sent.
#pragma once

namespace marigold::host {

// Throws std::runtime_error naming the variable when MARIGOLD_AUTH_BASE is set to anything but an
// https address: the password is sent there. Unset or empty, the built-in address applies.
void requireSecureAuthBase();

// Throws std::runtime_error naming the variable and the file when MARIGOLD_CA_FILE is set but
// does not name a readable PEM certificate file. Unset or empty, only the system's authorities
// are trusted.
void requireReadableCAFile();

}  // namespace marigold::host
