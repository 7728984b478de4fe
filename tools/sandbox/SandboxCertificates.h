#pragma once
// A throw-away certificate authority and a server certificate for 127.0.0.1 and localhost, signed by it.

#include <memory>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <string>

struct TSandboxKeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TSandboxX509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using TSandboxKey = std::unique_ptr<EVP_PKEY, TSandboxKeyFree>;
using TSandboxX509 = std::unique_ptr<X509, TSandboxX509Free>;

// The CA and the server identity of one sandbox run; generated fresh each time.
class TSandboxCertificates {
public:
    // Raises std::runtime_error with OpenSSL's reason when a step fails.
    static TSandboxCertificates Generate();

    // The CA certificate in PEM form, for the clients' trust file.
    std::string CAPem() const;
    // The server key's pin: Base64 of the SHA-256 of its SubjectPublicKeyInfo (RFC 7469).
    std::string ServerKeyPin() const;
    X509* ServerCertificate() const { return FServerCert.get(); }
    EVP_PKEY* ServerKey() const { return FServerKey.get(); }

private:
    TSandboxKey FCAKey, FServerKey;
    TSandboxX509 FCACert, FServerCert;
};
