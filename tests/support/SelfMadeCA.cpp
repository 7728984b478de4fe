#include "SelfMadeCA.h"

#include <cstdio>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <stdexcept>

namespace {

EVP_PKEY* NewKey() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) throw std::runtime_error("key generation failed");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension) throw std::runtime_error("bad certificate extension " + value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

X509* NewCertificate(EVP_PKEY* key, const std::string& commonName, long serial) {
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file) throw std::runtime_error("cannot write " + path);
    bool ok = cert ? PEM_write_X509(file, cert) == 1
                   : PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(file);
    if (!ok) throw std::runtime_error("cannot write " + path);
}

} // namespace

TSelfMadeCA::TSelfMadeCA(const std::string& folder, const std::string& fileStem) : FFolder(folder) {
    EVP_PKEY* key = NewKey();
    X509* cert = NewCertificate(key, "Kova Test CA " + fileStem, 1);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    AddExtension(cert, cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert, cert, NID_subject_key_identifier, "hash");
    X509_sign(cert, key, EVP_sha256());
    FKey = key;
    FCert = cert;
    FCertFile = folder + "/" + fileStem + ".pem";
    WritePem(FCertFile, cert, nullptr);
}

TSelfMadeCA::~TSelfMadeCA() {
    X509_free(static_cast<X509*>(FCert));
    EVP_PKEY_free(static_cast<EVP_PKEY*>(FKey));
}

TSelfMadeCA::TServerFiles TSelfMadeCA::IssueServerCertificate(const std::string& fileStem,
                                                              const std::vector<std::string>& altNames) {
    auto* caCert = static_cast<X509*>(FCert);
    EVP_PKEY* key = NewKey();
    X509* cert = NewCertificate(key, "kova test server", ++FSerial);
    X509_set_issuer_name(cert, X509_get_subject_name(caCert));
    std::string names;
    for (const auto& altName : altNames)
        names += (names.empty() ? "" : ",") + altName;
    AddExtension(cert, caCert, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert, caCert, NID_ext_key_usage, "serverAuth");
    AddExtension(cert, caCert, NID_authority_key_identifier, "keyid");
    if (!names.empty()) AddExtension(cert, caCert, NID_subject_alt_name, names);
    X509_sign(cert, static_cast<EVP_PKEY*>(FKey), EVP_sha256());
    TServerFiles files{FFolder + "/" + fileStem + "-cert.pem", FFolder + "/" + fileStem + "-key.pem"};
    WritePem(files.CertificateFile, cert, nullptr);
    WritePem(files.KeyFile, nullptr, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return files;
}
