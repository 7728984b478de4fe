#include "SandboxCertificates.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const std::string& step) {
    char reason[256] = "unknown error";
    if (unsigned long code = ERR_get_error()) ERR_error_string_n(code, reason, sizeof(reason));
    ERR_clear_error();
    throw std::runtime_error("Certificate generation failed at " + step + ": " + reason);
}

TSandboxKey NewKey() {
    TSandboxKey key(EVP_EC_gen("P-256"));
    if (!key) Fail("key generation");
    return key;
}

void SetRandomSerial(X509* cert) {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof(bytes)) != 1) Fail("serial number");
    bytes[0] &= 0x7F; // a positive serial number
    BIGNUM* serial = BN_bin2bn(bytes, sizeof(bytes), nullptr);
    if (!serial || !BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert))) {
        BN_free(serial);
        Fail("serial number");
    }
    BN_free(serial);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) Fail(std::string("extension ") + OBJ_nid2sn(nid));
    const bool added = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    if (!added) Fail(std::string("extension ") + OBJ_nid2sn(nid));
}

TSandboxX509 NewCertificate(const char* commonName, EVP_PKEY* key, long validSeconds) {
    TSandboxX509 cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1) Fail("certificate");
    SetRandomSerial(cert.get());
    // An hour of slack before now covers clients whose clock runs a little behind.
    if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), validSeconds))
        Fail("validity");
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Kova Sandbox"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName),
                               -1, -1, 0);
    if (X509_set_pubkey(cert.get(), key) != 1) Fail("public key");
    return cert;
}

} // namespace

TSandboxCertificates TSandboxCertificates::Generate() {
    constexpr long Year = 365L * 24 * 3600;
    TSandboxCertificates result;
    result.FCAKey = NewKey();
    result.FCACert = NewCertificate("Kova Sandbox Test CA", result.FCAKey.get(), 2 * Year);
    X509* ca = result.FCACert.get();
    if (X509_set_issuer_name(ca, X509_get_subject_name(ca)) != 1) Fail("CA issuer");
    AddExtension(ca, ca, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
    AddExtension(ca, ca, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(ca, ca, NID_subject_key_identifier, "hash");
    if (X509_sign(ca, result.FCAKey.get(), EVP_sha256()) == 0) Fail("CA signature");

    result.FServerKey = NewKey();
    result.FServerCert = NewCertificate("127.0.0.1", result.FServerKey.get(), Year);
    X509* server = result.FServerCert.get();
    if (X509_set_issuer_name(server, X509_get_subject_name(ca)) != 1) Fail("server issuer");
    AddExtension(server, ca, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(server, ca, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(server, ca, NID_ext_key_usage, "serverAuth");
    AddExtension(server, ca, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
    AddExtension(server, ca, NID_subject_key_identifier, "hash");
    AddExtension(server, ca, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(server, result.FCAKey.get(), EVP_sha256()) == 0) Fail("server signature");
    return result;
}

std::string TSandboxCertificates::CAPem() const {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio || PEM_write_bio_X509(bio, FCACert.get()) != 1) {
        BIO_free(bio);
        Fail("PEM encoding");
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string pem(data, static_cast<size_t>(size));
    BIO_free(bio);
    return pem;
}

std::string TSandboxCertificates::ServerKeyPin() const {
    // SHA-256 of the DER SubjectPublicKeyInfo, in Base64: the form browsers take key pins in.
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(FServerCert.get()), &der);
    if (length <= 0) Fail("public key encoding");
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    const int hashed =
        EVP_Digest(der, static_cast<size_t>(length), digest, &digestLength, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    if (hashed != 1) Fail("public key digest");
    unsigned char base64[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    const int written = EVP_EncodeBlock(base64, digest, static_cast<int>(digestLength));
    return std::string(reinterpret_cast<const char*>(base64), static_cast<size_t>(written));
}
