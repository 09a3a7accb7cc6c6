#include "tests/integration/support/pki.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "lib/net/net.h"
#include "tests/integration/support/process.h"

namespace integration {

lib::Result<Pki> make_pki(const std::string& dir, const std::vector<std::string>& names) {
    if (names.empty()) return lib::err("a server certificate needs at least one name");
    Pki p{dir + "/ca.crt", dir + "/server.crt", dir + "/server.key"};
    std::string ca_key = dir + "/ca.key";
    std::string csr = dir + "/server.csr";
    std::string ext = dir + "/server.ext";
    std::string san;
    for (const auto& n : names) {
        if (!san.empty()) san += ",";
        san += (lib::net::is_ip_address(n) ? "IP:" : "DNS:") + n;
    }
    auto wrote = write_file(ext, "subjectAltName=" + san +
                                     "\nbasicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                                     "extendedKeyUsage=serverAuth\n");
    if (!wrote) return wrote.take_error();
    const std::vector<std::vector<std::string>> steps = {
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", ca_key, "-out", p.ca_cert, "-days", "3", "-subj", "/CN=Zelk Mail test CA", "-addext",
         "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
        {"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         p.server_key, "-out", csr, "-subj", "/CN=" + names.front()},
        {"openssl", "x509", "-req", "-in", csr, "-CA", p.ca_cert, "-CAkey", ca_key, "-CAcreateserial", "-out",
         p.server_cert, "-days", "3", "-extfile", ext},
    };
    for (const auto& argv : steps) {
        auto r = run_program(argv);
        if (!r) return lib::err("making test certificates: " + r.error());
    }
    return p;
}

lib::Result<Pki> shared_pki() {
    static std::mutex mutex;
    static std::unique_ptr<TempDir> dir;
    static std::unique_ptr<Pki> pki;
    std::lock_guard lock(mutex);
    if (pki) return *pki;
    auto d = TempDir::create("zelk-pki");
    if (!d) return d.take_error();
    auto made = make_pki(d->path());
    if (!made) return made.take_error();
    dir = std::make_unique<TempDir>(std::move(*d));
    pki = std::make_unique<Pki>(*made);
    return *pki;
}

lib::Status trust_shared_ca() {
    auto p = shared_pki();
    if (!p) return p.take_error();
    ::setenv("SSL_CERT_FILE", p->ca_cert.c_str(), 1);
    return lib::ok_status();
}

}  // namespace integration
