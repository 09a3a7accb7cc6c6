// Throwaway certificate authorities and server certificates for loopback
// TLS servers, made with the openssl command line (about 0.2 s).
#pragma once

#include <string>
#include <vector>

#include "lib/base/result.h"

namespace integration {

struct Pki {
    std::string ca_cert;      // PEM; trust it with SSL_CERT_FILE
    std::string server_cert;  // PEM, signed by the CA
    std::string server_key;   // PEM, mode 0600
};

// Makes a CA and a server certificate in dir. `names` become the subject
// alternative names: entries that read as IP addresses are IP names, the
// rest DNS names; the first one is also the common name.
lib::Result<Pki> make_pki(const std::string& dir,
                          const std::vector<std::string>& names = {"localhost", "127.0.0.1", "::1"});

// One CA and localhost certificate for the whole test process, made on
// first use and removed at exit. Every fixture server uses it, so that a
// single SSL_CERT_FILE trusts them all.
lib::Result<Pki> shared_pki();

// Points SSL_CERT_FILE at the shared CA (what the fixtures do on start).
lib::Status trust_shared_ca();

}  // namespace integration
