#pragma once
// A certificate authority made on the spot for TLS tests, and server certificates signed by it, as PEM files.

#include <string>
#include <vector>

class TSelfMadeCA {
public:
    // Writes the CA certificate as "<fileStem>.pem" into the folder.
    explicit TSelfMadeCA(const std::string& folder, const std::string& fileStem = "ca");
    ~TSelfMadeCA();
    TSelfMadeCA(const TSelfMadeCA&) = delete;
    TSelfMadeCA& operator=(const TSelfMadeCA&) = delete;

    const std::string& CertificateFile() const { return FCertFile; }

    struct TServerFiles {
        std::string CertificateFile, KeyFile;
    };
    // A server certificate for the given subject alternative names ("DNS:localhost", "IP:127.0.0.1").
    TServerFiles IssueServerCertificate(const std::string& fileStem,
                                        const std::vector<std::string>& altNames);

private:
    std::string FFolder;
    std::string FCertFile;
    void* FKey = nullptr;
    void* FCert = nullptr;
    long FSerial = 100;
};
