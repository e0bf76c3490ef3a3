// Build-time constants of the Plinth service and of the settings file. A host can hand the plug-in
// other service bases when it loads it (from MARIGOLD_AUTH_BASE and MARIGOLD_API_BASE, or its
// embedded simulator), so that the simulator can stand in for the service; the passphrase cannot
// change.
#pragma once

#include <cstdint>
#include <string_view>

namespace marigold::config {

// HTTPS base of the token endpoint (scheme and host, no trailing slash).
inline constexpr std::string_view kAuthBase = "https://www.plinth.example";
// HTTP base of the API (scheme and host, no trailing slash).
inline constexpr std::string_view kApiBase = "http://api.plinth.example";

// The most the service takes in one photo post: the photos' bytes in all (5 MiB) and their
// number. The plug-in's pane, its export, the hosts' photo preparation and the simulator all judge
// a selection by these two.
inline constexpr std::uint64_t kMaxPostBytes = 5242880;
inline constexpr std::uint32_t kMaxPostPhotos = 10;

// The application's OAuth consumer credentials, known to the service.
inline constexpr std::string_view kConsumerKey =
    "kPazG2FIWVCNFqcRUyfJGNn6GTaoVse7ceLyxBC9TLP3nBcXS4";
inline constexpr std::string_view kConsumerSecret =
    "091fQUeaZFSFzBnysL5AnmBYBJJ7cUbmOEwjZjVwHuax7p5pjc";

// Passphrase of the settings file; its first 32 bytes are the AES-256 key.
inline constexpr std::string_view kSettingsPassphrase =
    "cWl4E7hdmh1Qv3U3Wb/sJBvmhM1pDWgJ5cuuInlzaoXY7pqH2lOXsvQ7hFc0iMPyjIfMTC6jjqhXRIqzCWzHNATPERfM9qWQ"
    "n7lpZzjaPwp6jYajiPeS47z3XF3k010o0owqiSPv3MKzYSlxRQ6BXQ4wFG3tD9QQJVqPGoJNqsQO+uRws4AQg9+m2HM55";

static_assert(kConsumerKey.size() == 50 && kConsumerSecret.size() == 50);
static_assert(kSettingsPassphrase.size() == 189);

}  // namespace marigold::config
