// The simulator's TLS identity, made afresh at every start: a throwaway certificate authority and a
// server certificate it signs for 127.0.0.1 and localhost (P-256 keys). Clients trust the simulator
// by adding the CA file to their trusted certificates (MARIGOLD_CA_FILE), never by switching
// verification off.
#pragma once

#include <filesystem>

namespace marigold::sim {

struct TlsFiles {
  std::filesystem::path ca;    // CA certificate, PEM
  std::filesystem::path cert;  // server certificate, PEM
  std::filesystem::path key;   // server private key, PEM, mode 0600
};

// Writes ca.pem, server.pem and server-key.pem into `dir` (which must exist), replacing older ones.
// Throws std::runtime_error naming the step that failed.
TlsFiles writeTlsIdentity(const std::filesystem::path& dir);

}  // namespace marigold::sim
